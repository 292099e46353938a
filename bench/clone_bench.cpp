// Disk clone throughput: clones one image file onto another through the clone worker,
// the two files standing in for two bridge disks (255 x 63 x 512-byte cylinders).
//   clone_bench <source image> <target image> [readahead|onebuffer]
// Prints the bytes copied, the time and MB/s (10^6 bytes per second).

#include <windows.h>
#include <cstdio>
#include <cwchar>

#include "DiskCopy.h"
#include "usb_fake_disk.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: clone_bench <source image> <target image> [readahead|onebuffer]\n");
        return 2;
    }
    bool bReadAhead = argc < 4 || wcscmp(argv[3], L"onebuffer") != 0;

    FakeDeviceStack stack;
    MessageCapture messages;
    FakeDiskConfig src;
    src.strDevicePath = L"\\\\?\\usbstor#disk&ven_bench#source#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    src.strImagePath = argv[1];
    src.nDeviceNumber = 1;
    stack.AddDisk(src);
    FakeDiskConfig dst = src;
    dst.strDevicePath = L"\\\\?\\usbstor#disk&ven_bench#target#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    dst.strImagePath = argv[2];
    dst.nDeviceNumber = 2;
    stack.AddDisk(dst);

    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    g_hDiskCopyPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    DiskCopyJob job;
    if (g_arrUSBDevice.GetSize() != 2 || !PrepareDiskCopyJob(&job, 0, 1)) {
        fwprintf(stderr, L"clone_bench: the images could not be set up as disks\n");
        return 1;
    }

    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    RunDiskCopy(&job, bReadAhead);
    QueryPerformanceCounter(&t1);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);

    for (const CString& text : messages.Texts())
        fwprintf(stderr, L"clone_bench: message: %ls\n", text.GetString());
    printf("worker %-9s %lld bytes in %.2f s = %.1f MB/s, success=%d\n", bReadAhead ? "readahead" : "onebuffer",
           static_cast<long long>(job.GetCopiedBytes()), seconds,
           seconds > 0 ? double(job.GetCopiedBytes()) / seconds / 1e6 : 0.0, job.m_bSuccess);
    CloseHandle(g_hDiskCopyPauseEvent);
    return job.m_bSuccess ? 0 : 1;
}
