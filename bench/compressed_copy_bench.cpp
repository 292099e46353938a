// Compressed backup of one large file against the block coder alone on the same bytes: coding
// and writing overlap, so the backup should take about the coder's time (plus what the disk
// cannot hide). Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "BackUpEngine.h"
#include "CompressLZ77.h"
#include "../tests/core/lz77_corpus.cpp"

using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point a)
{
    return std::chrono::duration<double>(Clock::now() - a).count();
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const int mib = argc > 1 ? std::atoi(argv[1]) : 64;
    wchar_t tmp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring root = std::wstring(tmp) + L"zul_copy_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring src = root + L"\\src", dst = root + L"\\dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);

    std::printf("%-12s %8s %12s %12s %12s %12s\n", "class", "MiB", "coder MB/s", "write MB/s",
                "backup MB/s", "restore MB/s");
    for (const char* cls : {"text", "bitmap24", "executable", "incompressible"}) {
        const lz77corpus::DataClass* dc = nullptr;
        for (const auto& c : lz77corpus::Classes())
            if (std::string(c.name) == cls)
                dc = &c;
        // One file of mib MiB made of distinct blocks of the class.
        const std::wstring file = src + L"\\" + std::wstring(cls, cls + std::strlen(cls)) + L".bin";
        std::vector<lz77corpus::Bytes> blocks;
        for (int k = 0; k < 64; ++k)
            blocks.push_back(dc->make(500 + k, 65536));
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD w = 0;
        for (int k = 0; k < mib * 16; ++k)
            WriteFile(h, blocks[k % 64].data(), 65536, &w, nullptr);
        CloseHandle(h);
        const double bytes = mib * 1048576.0;

        // The coder alone over the same blocks.
        CCompressLZ77 coder;
        std::vector<unsigned char> out(65536 + 8);
        long long coded = 0;
        auto t0 = Clock::now();
        for (int k = 0; k < mib * 16; ++k) {
            int r = coder.Compress(blocks[k % 64].data(), 65536, out.data());
            coded += (r > 0 ? r : 65536) + 4;
        }
        const double tCoder = Since(t0);

        // Writing the coded size through a write-through handle, as the writer does.
        const std::wstring probe = root + L"\\probe.bin";
        h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_FLAG_WRITE_THROUGH, nullptr);
        t0 = Clock::now();
        for (long long left = coded; left > 0; left -= 65540)
            WriteFile(h, blocks[0].data(), (DWORD)(left < 65540 ? left : 65536), &w, nullptr);
        CloseHandle(h);
        const double tWrite = Since(t0);
        DeleteFileW(probe.c_str());

        CBackUpEngine engine;
        engine.Reset();
        engine.m_strTargetRoot = dst.c_str();
        engine.m_bCompress = 1;
        const CString store = CString(dst.c_str()) + L"\\VEZORI";
        engine.CollectBackUpFiles(file.c_str(), store);
        t0 = Clock::now();
        engine.BackUpFileList(store);
        const double tBackUp = Since(t0);
        const bool ok = engine.m_nDoneFiles == 1;

        // And back again, over the source.
        CString stored = store + L"\\" + CString(file.c_str()).Left(1) + CString(file.c_str()).Mid(2) + L".zip";
        engine.Reset();
        engine.m_strTargetRoot = dst.c_str();
        engine.m_bRestore = 1;
        engine.CollectFolderFiles(stored);
        t0 = Clock::now();
        engine.RestoreFileList();
        const double tRestore = Since(t0);

        std::printf("%-12s %8d %12.1f %12.1f %12.1f %12.1f%s\n", cls, mib, bytes / tCoder / 1e6,
                    coded / tWrite / 1e6, bytes / tBackUp / 1e6, bytes / tRestore / 1e6,
                    ok && engine.m_nDoneFiles == 1 ? "" : "  (copy failed)");
        std::fflush(stdout);
        DeleteFileW(file.c_str());
    }
    RemoveTree(root);
    std::printf("backup and restore include opening, the temporary file and moving it into place\n");
    return 0;
}
