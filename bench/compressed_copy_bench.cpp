// Compressed backup of one large file per kind of data, with the blocks coded by the pool of
// coder threads, beside the same backup coded on the worker thread alone (the pipeline's own
// cost is the gap between that and the coder alone), the coder alone on one thread, zlib level
// 1 on one thread, and a plain backup of the same file, all in the same run; then the restore
// of both copies.
//   compressed_copy_bench.exe [MiB per file, default 1024] [coder threads, default 0: one per processor]
// Each file is made of 64 different 64 KiB blocks of its class, repeated; the coder alone and
// zlib are timed on those 64 blocks. The engine has a pause event (set), as in the program.
// Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <zlib.h>

#include "BackUpEngine.h"
#include "CompressLZ77.h"
#include "WriteQueue.h"
#include "../tests/core/engine/lz77_corpus.cpp"

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

// Backs up one file into root\VEZORI and restores it over the source; the two times in seconds.
// bToDisk: the backup's time includes flushing the stored copy to the disk.
bool BackUpAndRestore(const std::wstring& file, const std::wstring& root, bool bCompress,
                      double& tBackUp, double& tRestore, bool bToDisk = false)
{
    CBackUpEngine engine;
    engine.Reset();
    engine.m_strTargetRoot = root.c_str();
    engine.m_bCompress = bCompress ? 1 : 0;
    engine.m_hPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);   // the engine closes it
    const CString store = CString(root.c_str()) + L"\\VEZORI";
    engine.CollectBackUpFiles(file.c_str(), store);
    const CString source(file.c_str());
    CString stored = store + L"\\" + source.Left(1) + source.Mid(2) + (bCompress ? L".zip" : L"");
    auto t0 = Clock::now();
    engine.BackUpFileList(store);
    if (bToDisk) {
        HANDLE h = CreateFileW(stored, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            FlushFileBuffers(h);
            CloseHandle(h);
        }
    }
    tBackUp = Since(t0);
    bool ok = engine.m_nDoneFiles == 1;

    CloseHandle(engine.m_hPauseEvent);   // Reset leaves it to its owner
    engine.Reset();
    engine.m_strTargetRoot = root.c_str();
    engine.m_bRestore = 1;
    engine.m_hPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    engine.CollectFolderFiles(stored);
    t0 = Clock::now();
    engine.RestoreFileList();
    tRestore = Since(t0);
    ok = ok && engine.m_nDoneFiles == 1;
    DeleteFileW(stored);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int mib = argc > 1 ? std::atoi(argv[1]) : 1024;
    g_nCoderThreads = argc > 2 ? std::atoi(argv[2]) : 0;
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    wchar_t tmp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring root = std::wstring(tmp) + L"zul_copy_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring src = root + L"\\src", dst = root + L"\\dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);

    std::printf("%lu processors, coder threads: %s\n", si.dwNumberOfProcessors,
                g_nCoderThreads ? std::to_string(g_nCoderThreads).c_str() : "one per processor");
    std::printf("%-15s %6s | %9s %9s | %9s %9s %9s %6s | %9s %9s %6s | %9s %9s  (MB/s of source bytes)\n",
                "class", "MiB", "coder x1", "zlib1 x1", "zip x1", "zip pool", "plain", "/plain",
                "zip disk", "plain dsk", "/plain", "unzip", "plain");
    for (const char* cls : {"text", "executable", "incompressible", "bitmap24"}) {
        const lz77corpus::DataClass* dc = nullptr;
        for (const auto& c : lz77corpus::Classes())
            if (std::string(c.name) == cls)
                dc = &c;
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
        const double sample = 64 * 65536.0;

        // The coder alone, and zlib level 1 (its state kept between blocks), on one thread.
        CCompressLZ77 coder;
        std::vector<unsigned char> out(65536 + 8), zout(compressBound(65536));
        auto t0 = Clock::now();
        for (const auto& b : blocks)
            coder.Compress(b.data(), 65536, out.data());
        const double tCoder = Since(t0);
        z_stream zs{};
        deflateInit(&zs, 1);
        t0 = Clock::now();
        for (const auto& b : blocks) {
            deflateReset(&zs);
            zs.next_in = const_cast<Bytef*>(b.data());
            zs.avail_in = 65536;
            zs.next_out = zout.data();
            zs.avail_out = (uInt)zout.size();
            deflate(&zs, Z_FINISH);
        }
        const double tZlib = Since(t0);
        deflateEnd(&zs);

        double tZip = 0, tUnzip = 0, tPlain = 0, tPlainBack = 0, tZip1 = 0, tUnzip1 = 0;
        const int pool = g_nCoderThreads;
        g_nCoderThreads = 1;
        const bool okZip1 = BackUpAndRestore(file, dst, true, tZip1, tUnzip1);
        g_nCoderThreads = pool;
        const bool okZip = BackUpAndRestore(file, dst, true, tZip, tUnzip);
        const bool okPlain = BackUpAndRestore(file, dst, false, tPlain, tPlainBack);
        double tZipDisk = 0, tPlainDisk = 0, tIgnored = 0;
        const bool okDisk = BackUpAndRestore(file, dst, true, tZipDisk, tIgnored, true) &&
                            BackUpAndRestore(file, dst, false, tPlainDisk, tIgnored, true);

        std::printf("%-15s %6d | %9.1f %9.1f | %9.1f %9.1f %9.1f %6.2f | %9.1f %9.1f %6.2f | %9.1f %9.1f%s\n",
                    cls, mib, sample / tCoder / 1e6, sample / tZlib / 1e6, bytes / tZip1 / 1e6,
                    bytes / tZip / 1e6, bytes / tPlain / 1e6, tPlain / tZip, bytes / tZipDisk / 1e6,
                    bytes / tPlainDisk / 1e6, tPlainDisk / tZipDisk, bytes / tUnzip / 1e6,
                    bytes / tPlainBack / 1e6, okZip && okPlain && okZip1 && okDisk ? "" : "  (a copy failed)");
        std::fflush(stdout);
        DeleteFileW(file.c_str());
    }
    RemoveTree(root);
    std::printf("zip x1: compressed backup coded on the worker thread alone; zip pool: with the pool; plain: the same file backed up plainly; "
                "/plain: compressed speed over plain; zip disk, plain dsk: the same two backups with the stored "
                "copy flushed to the disk before the clock stops; unzip: restore of the compressed copy. "
                "Backup and restore times include opening, the temporary file and moving it into "
                "place.\n");
    return 0;
}
