// Raw read/write speed of the disk utilities on the disk model over a file-backed image: the area
// is read and written back through the same locked-volume transfers the speed test uses, timed
// with the system's counter. Prints one line per figure; disk_speed_bench.sh sets dd beside it.
//
// usage: disk_speed_bench <image path> <area MiB> <offset MiB> <rounds>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DiskModel.h"
#include "DiskUtility.h"
#include "Utility.h"

int main(int argc, char** argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: disk_speed_bench <image> <area MiB> <offset MiB> <rounds>\n");
        return 2;
    }
    const unsigned long long areaMiB = strtoull(argv[2], nullptr, 10);
    const unsigned long long offsetMiB = strtoull(argv[3], nullptr, 10);
    const int rounds = atoi(argv[4]);
    const unsigned long long mib = 1048576;
    const DWORD bytes = static_cast<DWORD>(areaMiB * mib);

    CDiskModel model;
    CDiskModelScope scope(model);
    model.realClock = true;
    const unsigned long long sectors = (offsetMiB + areaMiB + 2) * mib / 512;
    model.AddDisk(2, 512, sectors, argv[1]);
    // The volume starts at sector 0, so volume offsets are image offsets.
    model.AddVolume('E', 2, 0, sectors, 0x07, false);

    CUtility utility;
    BYTE* area = static_cast<BYTE*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!area) {
        fprintf(stderr, "no memory for %llu MiB\n", areaMiB);
        return 1;
    }
    double bestRead = 0, bestWrite = 0;
    for (int round = 0; round < rounds; ++round) {
        HANDLE h = model.OpenDisk("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  FILE_FLAG_NO_BUFFERING);
        DWORD returned = 0;
        if (h == INVALID_HANDLE_VALUE || !model.Control(h, 0x00090018, nullptr, 0, nullptr, 0, &returned)) {
            fprintf(stderr, "volume not opened and locked\n");
            return 1;
        }
        if (!utility.vReadSectors(h, area, offsetMiB * mib, bytes, TRUE) ||
            !utility.vWriteSectors(h, area, offsetMiB * mib, bytes, TRUE)) {
            fprintf(stderr, "transfer failed\n");
            return 1;
        }
        model.Control(h, 0x0009001C, nullptr, 0, nullptr, 0, &returned);
        model.CloseDevice(h);
        bestRead = utility.m_fReadRate > bestRead ? utility.m_fReadRate : bestRead;
        bestWrite = utility.m_fWriteRate > bestWrite ? utility.m_fWriteRate : bestWrite;
        printf("round %d: read %.0f MiB/s, write %.0f MiB/s\n", round + 1, utility.m_fReadRate, utility.m_fWriteRate);
    }
    printf("model read MiB/s: %.1f\n", bestRead);
    printf("model write MiB/s: %.1f\n", bestWrite);

    // The whole speed test as a caller runs it (two cycles, reported rates).
    float read = 0, write = 0;
    int error = 0;
    const BYTE ok = utility.ReadWritePerfomanceTest(2, static_cast<int>(offsetMiB * 100 / (offsetMiB + areaMiB + 2)),
                                                    static_cast<int>(areaMiB * 4), &read, &write, &error);
    printf("speed test: result %d, read %.1f MiB/s, reported write %.1f MiB/s, error %d\n", ok, read, write, error);
    VirtualFree(area, 0, MEM_RELEASE);
    return 0;
}
