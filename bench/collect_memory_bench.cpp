// The memory a collected selection takes: the copy engine collects a tree of N files (100,000
// by default) with paths of everyday length, given to it through its folder-listing seam, and
// the bytes asked of operator new and the growth of the process's private bytes (its committed
// private memory) are divided by N. The peer, measured the same way in the same run: a plain
// std::vector<std::wstring> of the same paths. Each side runs in a process of its own.
//
// The figures of this build are its own (a 64-bit build has 8-byte pointers and 16-byte heap
// blocks); the program that ships is 32-bit. From the very same paths the bytes a 32-bit build
// takes are worked out as well (a 24-byte string object, the UTF-16 text in a heap block of 8
// bytes' granularity with an 8-byte header), and from that the largest selection the 32-bit
// program holds in 2 GiB of address space, and in the 4 GiB it has as a large-address-aware
// program under a 64-bit system.
//
// Usage: collect_memory_bench [files]

#include "BackUpEngine.h"
#include "SystemIo.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

// Bytes asked of operator new and not yet given back.
std::atomic<long long> g_nLiveBytes{0};

// The process heap, as the run-time library's own allocations use it.
void* Allocate(std::size_t n)
{
    void* p = HeapAlloc(GetProcessHeap(), 0, n ? n : 1);
    if (p)
        g_nLiveBytes += static_cast<long long>(HeapSize(GetProcessHeap(), 0, p));
    return p;
}

void Release(void* p)
{
    if (!p)
        return;
    g_nLiveBytes -= static_cast<long long>(HeapSize(GetProcessHeap(), 0, p));
    HeapFree(GetProcessHeap(), 0, p);
}

} // namespace

void* operator new(std::size_t n)
{
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

// The tree: kTop folders of kMiddle folders of files, every name of the length such names have
// in a user's documents; about 128 characters a full path below a temporary folder.
const int kTop = 100;
const int kMiddle = 10;
int g_nFilesPerFolder = 100;
CString g_strRoot;   // a real, empty folder: the walk begins with the system's look at it

std::wstring TopName(int i)
{
    wchar_t s[64];
    swprintf(s, 64, L"Client %04d reports", i);
    return s;
}
std::wstring MiddleName(int j)
{
    wchar_t s[64];
    swprintf(s, 64, L"Drafts and reviews %02d", j);
    return s;
}
std::wstring FileName(int k)
{
    static const wchar_t* const kinds[] = {L"revenue by region", L"minutes of the meeting", L"scan",
                                           L"holiday photo", L"invoice"};
    static const wchar_t* const ext[] = {L"xlsx", L"docx", L"pdf", L"jpg", L"pdf"};
    wchar_t s[96];
    swprintf(s, 96, L"Figure %04d - %ls (final).%ls", k, kinds[k % 5], ext[k % 5]);
    return s;
}

// A listing in progress: the entries of one synthetic folder, handed out one by one. The handle
// the walk holds is a real one of the root (the walk closes it with FindClose).
struct Listing {
    std::vector<std::pair<std::wstring, bool>> entries;   // name, is a folder
    size_t next = 0;
};
std::map<HANDLE, Listing> g_listings;

void Fill(const std::pair<std::wstring, bool>& e, LPWIN32_FIND_DATAW pData)
{
    *pData = WIN32_FIND_DATAW{};
    pData->dwFileAttributes = e.second ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    pData->nFileSizeLow = e.second ? 0 : 4096;
    wcsncpy(pData->cFileName, e.first.c_str(), MAX_PATH - 1);
}

HANDLE WINAPI ListFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData)
{
    // "<folder>\*": how far below the root the folder lies tells what it holds.
    std::wstring folder(pszPattern);
    folder.resize(folder.size() - 2);
    const std::wstring root(g_strRoot.GetString());
    const size_t at = folder.find(root);
    int depth = 0;
    for (size_t i = at + root.size(); at != std::wstring::npos && i < folder.size(); ++i)
        depth += folder[i] == L'\\';
    HANDLE h = ::FindFirstFileW((std::wstring(L"\\\\?\\") + root + L"\\*").c_str(), pData);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    Listing& l = g_listings[h];
    l.entries.clear();
    l.next = 0;
    l.entries.push_back({L".", true});
    l.entries.push_back({L"..", true});
    if (depth == 0)
        for (int i = 0; i < kTop; ++i)
            l.entries.push_back({TopName(i), true});
    else if (depth == 1)
        for (int j = 0; j < kMiddle; ++j)
            l.entries.push_back({MiddleName(j), true});
    else
        for (int k = 0; k < g_nFilesPerFolder; ++k)
            l.entries.push_back({FileName(k), false});
    Fill(l.entries[l.next++], pData);
    return h;
}

BOOL WINAPI ListNext(HANDLE hFind, LPWIN32_FIND_DATAW pData)
{
    Listing& l = g_listings[hFind];
    if (l.next >= l.entries.size()) {
        std::vector<std::pair<std::wstring, bool>>().swap(l.entries);
        g_listings.erase(hFind);
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(l.entries[l.next++], pData);
    return TRUE;
}

// The committed private memory of the process, region by region: what the process's private
// bytes count (the system's own counter is not kept under every system the benchmark runs on).
long long PrivateBytes()
{
    long long sum = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const char* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;
         p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            sum += static_cast<long long>(mbi.RegionSize);
        if (static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize < p)
            break;
    }
    return sum;
}

// The heap block of n bytes of a system heap: rounded up to the granularity, plus the header.
long long Block(long long n, long long nGranule, long long nHeader)
{
    return (n + nGranule - 1) / nGranule * nGranule + nHeader;
}

// One measurement, made in a process of its own (so that neither side finds the heap that the
// other has given back): bytes asked of operator new and private bytes grown, per file, and
// for the engine the characters of its paths and the text's heap bytes by the 32-bit and the
// 64-bit model.
struct Figures {
    double asked = 0, grown = 0, chars = 0, text32 = 0, text64 = 0;
};

Figures Measure(bool bEngine, long long n)
{
    Figures f;
    auto textBytes = [](long long len, long long nGranule, long long nHeader) {
        return len > 7 ? Block((len + 1) * 2, nGranule, nHeader) : 0;   // 7: the string's own room
    };
    if (bEngine) {
        CBackUpEngine e;
        e.m_strTargetRoot = L"Q:";   // no such drive: nothing is there to clear or to skip
        const long long heap0 = g_nLiveBytes, private0 = PrivateBytes();
        e.CollectBackUpFiles(g_strRoot, L"Q:\\VEZORI");
        f.asked = static_cast<double>(g_nLiveBytes - heap0) / n;
        f.grown = static_cast<double>(PrivateBytes() - private0) / n;
        if (e.m_arrFiles.GetSize() != n) {
            fprintf(stderr, "collected %lld files of %lld\n", static_cast<long long>(e.m_arrFiles.GetSize()), n);
            exit(1);
        }
        long long chars = 0, text32 = 0, text64 = 0;
        for (INT_PTR i = 0; i < e.m_arrFiles.GetSize(); ++i) {
            const long long len = e.m_arrFiles[i].GetLength();
            chars += len;
            text32 += textBytes(len, 8, 8);
            text64 += textBytes(len, 16, 16);
        }
        f.chars = static_cast<double>(chars) / n;
        f.text32 = static_cast<double>(text32) / n;
        f.text64 = static_cast<double>(text64) / n;
    } else {
        // The same paths, made the same way, in a plain vector of strings.
        std::vector<std::wstring> paths;
        const long long heap0 = g_nLiveBytes, private0 = PrivateBytes();
        const std::wstring root(g_strRoot.GetString());
        for (int i = 0; i < kTop; ++i)
            for (int j = 0; j < kMiddle; ++j)
                for (int k = 0; k < g_nFilesPerFolder; ++k)
                    paths.push_back(root + L"\\" + TopName(i) + L"\\" + MiddleName(j) + L"\\" + FileName(k));
        f.asked = static_cast<double>(g_nLiveBytes - heap0) / n;
        f.grown = static_cast<double>(PrivateBytes() - private0) / n;
    }
    return f;
}

// Runs this program again for one side and reads its figures back.
Figures MeasureApart(const char* pszSide, long long nFiles)
{
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t out[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, out);
    wcscat(out, L"zul_collect_bench.txt");
    wchar_t command[3 * MAX_PATH];
    swprintf(command, 3 * MAX_PATH, L"\"%ls\" %lld %hs \"%ls\"", self, nFiles, pszSide, out);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    Figures f;
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start the %s side\n", pszSide);
        exit(1);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    FILE* file = _wfopen(out, L"r");
    if (!file || fscanf(file, "%lf %lf %lf %lf %lf", &f.asked, &f.grown, &f.chars, &f.text32, &f.text64) != 5) {
        fprintf(stderr, "no figures from the %s side\n", pszSide);
        exit(1);
    }
    fclose(file);
    DeleteFileW(out);
    return f;
}

// The engine's walks list the made-up folders.
class ListedFolders : public CSystemIoOver {
public:
    HANDLE FindFirst(LPCWSTR pszPattern, LPWIN32_FIND_DATAW pData) override { return ListFirst(pszPattern, pData); }
    BOOL FindNext(HANDLE hFind, LPWIN32_FIND_DATAW pData) override { return ListNext(hFind, pData); }
};

} // namespace

int main(int argc, char** argv)
{
    const int nWanted = argc > 1 ? atoi(argv[1]) : 100000;
    g_nFilesPerFolder = nWanted / (kTop * kMiddle) > 0 ? nWanted / (kTop * kMiddle) : 1;
    const long long n = static_cast<long long>(kTop) * kMiddle * g_nFilesPerFolder;

    if (argc > 3) {
        // One side, for the run that started this one.
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        g_strRoot.Format(L"%lszul_collect_bench_%lu", temp, GetCurrentProcessId());
        CreateDirectoryW(g_strRoot, nullptr);
        ListedFolders listed;
        CScopedSystemIo install(listed);
        const Figures f = Measure(strcmp(argv[2], "engine") == 0, n);
        RemoveDirectoryW(g_strRoot);
        FILE* file = fopen(argv[3], "w");
        if (!file)
            return 1;
        fprintf(file, "%.3f %.3f %.3f %.3f %.3f\n", f.asked, f.grown, f.chars, f.text32, f.text64);
        fclose(file);
        return 0;
    }

    const Figures engine = MeasureApart("engine", n);
    const Figures peer = MeasureApart("peer", n);
    printf("collected files: %lld, path length %.1f characters on average, pointers of %d bytes\n", n,
           engine.chars, static_cast<int>(sizeof(void*)));
    printf("                             asked bytes/file  private bytes/file\n");
    printf("engine (CollectBackUpFiles)  %10.1f        %10.1f\n", engine.asked, engine.grown);
    printf("peer (vector<wstring>)       %10.1f        %10.1f\n", peer.asked, peer.grown);
    printf("ratio engine / peer          %10.2f        %10.2f\n", engine.asked / peer.asked,
           engine.grown / peer.grown);

    // The same list in a 32-bit build: a 24-byte string object in the list's array, and the
    // text of every path longer than 7 characters, with its terminating zero, in a heap block
    // of 8 bytes' granularity with an 8-byte header. The array grows by doubling: it is between
    // half full and full, and for the moment of its growth it holds the old array beside the
    // new one (3 objects a file at worst). A plain backup adds, while it copies, 13 bytes a file
    // (the fail lines kept per file and a finished flag). This build's figure by the same model
    // (32-byte objects, 16-byte blocks and headers) is printed beside the measured one to show
    // how far the model can be trusted.
    double capacity = 1;
    while (capacity < static_cast<double>(n))
        capacity *= 2;
    const double model64 = engine.text64 + 32.0 * capacity / static_cast<double>(n);
    const double steady32 = engine.text32 + 24.0 * capacity / static_cast<double>(n);
    const double worst32 = engine.text32 + 24.0 * 3 + 13;
    printf("model of this build: %.1f bytes/file (private bytes measured: %.1f)\n", model64, engine.grown);
    printf("32-bit build: %.1f bytes/file as collected here, %.1f at worst (the list growing while a plain backup copies)\n",
           steady32, worst32);
    // What the program needs besides the list: its code, the system's libraries, the threads'
    // stacks, the window's heap, the copy buffers and a compressed copy's ring and coders; a
    // quarter of a GiB is kept for all of that.
    const double reserve = 256.0 * 1024 * 1024;
    for (double space : {2.0, 4.0}) {
        const double bytes = space * 1024 * 1024 * 1024 - reserve;
        printf("largest selection of the 32-bit program in %.0f GiB (256 MiB kept for the rest): %.1f million files "
               "(%.1f million at worst)\n",
               space, bytes / steady32 / 1e6, bytes / worst32 / 1e6);
    }
    return 0;
}
