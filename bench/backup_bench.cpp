// Backs up one folder with the copy engine, as the backup worker does, and prints the figures.
//   backup_bench.exe [--lanes N] <source folder> <target root>
// The store lands in <target root>\VEZORI. Output, one line:
//   engine files=<n> bytes=<n> seconds=<s> MB/s=<x> files/s=<y> fails=<n>
//
//   backup_bench.exe --steps <source folder> <scratch folder> [files, default 2000]
// Times, per file, the system calls of the per-file steps of a plain backup, the way the
// engine used to make them (by name, the system's copy, a kernel mutex) and the way it makes
// them now (one source handle, one temporary-file handle, a critical section, per-folder
// caches), into two fresh folders below the scratch folder. Prints microseconds per file.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include <shellapi.h>

#include "BackUpEngine.h"

namespace {

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

struct Step {
    const char* name;
    double seconds = 0;
};

// Adds the time since t to the step and restarts t.
void Lap(Step& step, double& t)
{
    double n = Now();
    step.seconds += n - t;
    t = n;
}

void CollectFiles(const std::wstring& folder, std::vector<std::wstring>& out, size_t max)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (out.size() >= max)
            break;
        if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L".."))
            continue;
        std::wstring child = folder + L"\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(child, out, max);
        else
            out.push_back(child);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

void CreateChain(const std::wstring& path)
{
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1))
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

bool Rename(HANDLE h, const std::wstring& to)
{
    std::vector<BYTE> buf(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    FILE_RENAME_INFO* r = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
    r->ReplaceIfExists = TRUE;
    r->RootDirectory = nullptr;
    r->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::memcpy(r->FileName, to.data(), r->FileNameLength);
    return SetFileInformationByHandle(h, FileRenameInfo, r, static_cast<DWORD>(buf.size())) != FALSE;
}

FILE_BASIC_INFO Basic(const WIN32_FILE_ATTRIBUTE_DATA& d)
{
    FILE_BASIC_INFO bi{};
    bi.CreationTime.LowPart = d.ftCreationTime.dwLowDateTime;
    bi.CreationTime.HighPart = static_cast<LONG>(d.ftCreationTime.dwHighDateTime);
    bi.LastAccessTime.LowPart = d.ftLastAccessTime.dwLowDateTime;
    bi.LastAccessTime.HighPart = static_cast<LONG>(d.ftLastAccessTime.dwHighDateTime);
    bi.LastWriteTime.LowPart = d.ftLastWriteTime.dwLowDateTime;
    bi.LastWriteTime.HighPart = static_cast<LONG>(d.ftLastWriteTime.dwHighDateTime);
    bi.FileAttributes = d.dwFileAttributes ? d.dwFileAttributes : FILE_ATTRIBUTE_NORMAL;
    return bi;
}

// The per-file steps, before and after, over the same files.
int Steps(const std::wstring& source, const std::wstring& scratch, size_t max)
{
    std::vector<std::wstring> files;
    CollectFiles(source, files, max);
    if (files.empty())
        return 1;
    const size_t n = files.size();
    unsigned counter = 0;
    auto targetOf = [&](const std::wstring& root, const std::wstring& file) {
        return root + L"\\VEZORI\\" + file.substr(0, 1) + file.substr(2);
    };
    auto folderOf = [](const std::wstring& p) { return p.substr(0, p.rfind(L'\\')); };
    auto tempIn = [&](const std::wstring& folder) {
        return folder + L"\\~zu" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(counter++) + L".tmp";
    };

    // Before: size by name, kernel mutex, the folder chain per file, an empty temporary file,
    // the system's copy into it, times, attributes and rename through a second handle, and
    // the other form asked by name.
    Step before[] = {{"size by name"}, {"name mutex"}, {"folder chain"}, {"temp create"},
                     {"CopyFileExW"}, {"times+rename"}, {"other form"}};
    {
        const std::wstring root = scratch + L"\\before";
        HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
        for (const std::wstring& file : files)
            CreateChain(folderOf(targetOf(root, file)));
        double t = Now();
        for (const std::wstring& file : files) {
            const std::wstring target = targetOf(root, file), folder = folderOf(target);
            WIN32_FILE_ATTRIBUTE_DATA d;
            GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &d);
            Lap(before[0], t);
            WaitForSingleObject(mutex, INFINITE);
            ReleaseMutex(mutex);
            Lap(before[1], t);
            for (size_t pos = target.find(L'\\', 3); pos != std::wstring::npos; pos = target.find(L'\\', pos + 1))
                CreateDirectoryW(target.substr(0, pos).c_str(), nullptr);
            Lap(before[2], t);
            const std::wstring temp = tempIn(folder);
            CloseHandle(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            Lap(before[3], t);
            CopyFileExW(file.c_str(), temp.c_str(), nullptr, nullptr, nullptr, COPY_FILE_RESTARTABLE);
            Lap(before[4], t);
            HANDLE h = CreateFileW(temp.c_str(), FILE_WRITE_ATTRIBUTES | DELETE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
            FILE_BASIC_INFO bi = Basic(d);
            SetFileInformationByHandle(h, FileBasicInfo, &bi, sizeof bi);
            Rename(h, target);
            CloseHandle(h);
            Lap(before[5], t);
            GetFileAttributesW((target + L".zip").c_str());
            Lap(before[6], t);
        }
        CloseHandle(mutex);
    }

    // Now: one source handle for the entry and the data, a critical section, the folder chain
    // and the folder listing once per folder, one handle on the temporary file for the data,
    // the times, the attributes and the rename.
    Step after[] = {{"source open+entry"}, {"name lock"}, {"folder listing"}, {"temp create"},
                    {"read+write"}, {"times+rename"}, {"closes"}};
    {
        const std::wstring root = scratch + L"\\after";
        CRITICAL_SECTION cs;
        InitializeCriticalSection(&cs);
        for (const std::wstring& file : files)
            CreateChain(folderOf(targetOf(root, file)));
        std::vector<BYTE> buffer(CBackUpEngine::COPY_CHUNK);
        std::wstring listed;
        double t = Now();
        for (const std::wstring& file : files) {
            const std::wstring target = targetOf(root, file), folder = folderOf(target);
            HANDLE hs = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            FILE_BASIC_INFO bi;
            LARGE_INTEGER size;
            GetFileInformationByHandleEx(hs, FileBasicInfo, &bi, sizeof bi);
            GetFileSizeEx(hs, &size);
            Lap(after[0], t);
            EnterCriticalSection(&cs);
            LeaveCriticalSection(&cs);
            Lap(after[1], t);
            if (folder != listed) {
                listed = folder;
                WIN32_FIND_DATAW fd;
                HANDLE hf = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &fd,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
                if (hf != INVALID_HANDLE_VALUE) {
                    while (FindNextFileW(hf, &fd)) {
                    }
                    FindClose(hf);
                }
            }
            Lap(after[2], t);
            const std::wstring temp = tempIn(folder);
            HANDLE ht = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            Lap(after[3], t);
            DWORD got = 0, written = 0;
            while (ReadFile(hs, buffer.data(), CBackUpEngine::COPY_CHUNK, &got, nullptr) && got) {
                WriteFile(ht, buffer.data(), got, &written, nullptr);
                if (got < CBackUpEngine::COPY_CHUNK)
                    break;
            }
            Lap(after[4], t);
            SetFileInformationByHandle(ht, FileBasicInfo, &bi, sizeof bi);
            Rename(ht, target);
            Lap(after[5], t);
            CloseHandle(ht);
            CloseHandle(hs);
            Lap(after[6], t);
        }
        DeleteCriticalSection(&cs);
    }
    double sumBefore = 0, sumAfter = 0;
    printf("%zu files, microseconds per file\n", n);
    for (size_t k = 0; k < 7; ++k) {
        printf("  before %-18s %8.1f    now %-18s %8.1f\n", before[k].name, before[k].seconds / n * 1e6,
               after[k].name, after[k].seconds / n * 1e6);
        sumBefore += before[k].seconds;
        sumAfter += after[k].seconds;
    }
    printf("  before %-18s %8.1f    now %-18s %8.1f\n", "total", sumBefore / n * 1e6, "total", sumAfter / n * 1e6);
    return 0;
}

class CCountingFailList : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override
    {
        if (m_nLines++ < 5)
            fprintf(stderr, "fail: %ls\n", strLine.GetString());
    }
    int m_nLines = 0;
};

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // --lanes N: files copied at once (1: one after the other; default: the engine's choice).
    if (argc >= 3 && wcscmp(argv[1], L"--lanes") == 0) {
        CBackUpEngine::s_nCopyLanes = _wtoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc >= 4 && wcscmp(argv[1], L"--steps") == 0)
        return Steps(argv[2], argv[3], argc >= 5 ? static_cast<size_t>(_wtoi(argv[4])) : 2000);
    if (argc < 3) {
        fprintf(stderr, "usage: backup_bench <source folder> <target root>\n");
        return 2;
    }
    CBackUpEngine engine;
    CCountingFailList fails;
    engine.Reset();
    engine.m_pFailList = &fails;
    engine.m_hPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    engine.m_strTargetRoot = argv[2];
    CString store = engine.m_strTargetRoot + L"\\VEZORI";

    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    engine.m_bScanning = 1;
    engine.CollectBackUpFiles(argv[1], store);
    engine.m_bScanning = 0;
    engine.BackUpFileList(store);
    QueryPerformanceCounter(&t1);

    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    ULONGLONG bytes = engine.m_nTotalBytes;
    int files = engine.m_nDoneFiles;
    printf("engine files=%d bytes=%llu seconds=%.3f MB/s=%.1f files/s=%.0f fails=%d\n", files,
           bytes, seconds, seconds > 0 ? bytes / 1e6 / seconds : 0.0,
           seconds > 0 ? files / seconds : 0.0, fails.m_nLines);
    return fails.m_nLines ? 1 : 0;
}
