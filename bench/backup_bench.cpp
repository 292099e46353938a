// Backs up one folder with the copy engine, as the backup worker does, and prints the figures.
//   backup_bench.exe <source folder> <target root>
// The store lands in <target root>\VEZORI. Output, one line:
//   engine files=<n> bytes=<n> seconds=<s> MB/s=<x> files/s=<y> fails=<n>

#include <cstdio>
#include <windows.h>
#include <shellapi.h>

#include "BackUpEngine.h"

namespace {

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
