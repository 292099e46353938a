#include <gtest/gtest.h>
#include <process.h>

#include "DiskCopy.h"
#include "SharedFunctions.h"
#include "usb_fake_disk.h"

namespace {

constexpr DWORD kSector = 512;

class UsbCloneTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        g_hDiskCopyPauseEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        g_arrUSBDevice.RemoveAll();
    }
    void TearDown() override
    {
        CloseHandle(g_hDiskCopyPauseEvent);
        g_hDiskCopyPauseEvent = nullptr;
        g_arrUSBDevice.RemoveAll();
    }

    // A bridge disk of nSize bytes filled with a pattern, with the given cylinder shape.
    FakeDiskConfig& AddDisk(int n, ULONGLONG nSize, DWORD nTracks, DWORD nSectors, DWORD nBytesPerSector = kSector)
    {
        FakeDiskConfig d;
        d.strDevicePath.Format(L"\\\\?\\usbstor#disk&ven_fake#clone%d#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
        CString name;
        name.Format(L"clone%d.img", n);
        d.strImagePath = m_dir.Path(name);
        d.nDeviceNumber = n;
        d.geometry.MediaType = FixedMedia;
        d.geometry.TracksPerCylinder = nTracks;
        d.geometry.SectorsPerTrack = nSectors;
        d.geometry.BytesPerSector = nBytesPerSector;
        d.geometry.Cylinders.QuadPart = nSize / (ULONGLONG(nTracks) * nSectors * nBytesPerSector);
        d.nBlockLength = nBytesPerSector;
        EXPECT_TRUE(WritePatternImage(d.strImagePath, nSize, 0x1000 + n));
        m_stack.AddDisk(d);
        return m_stack.Disk(m_nDisks++);
    }

    // Runs the job to its end: on a worker thread as the program does, or, for the
    // parameter false, as the one-buffer copy on this thread.
    void Run(DiskCopyJob& job)
    {
        if (!GetParam()) {
            RunDiskCopy(&job, false);
            return;
        }
        HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DiskCopyThreadProc, &job, 0, nullptr));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(WaitForSingleObject(h, 60000), WAIT_OBJECT_0);
        CloseHandle(h);
    }

    static void ExpectEnded(const DiskCopyJob& job, int bSuccess)
    {
        EXPECT_EQ(job.m_bSuccess, bSuccess);
        EXPECT_EQ(job.m_bDone, 1);
        EXPECT_EQ(job.m_bStop, 1);
    }

    TempFolder m_dir;
    FakeDeviceStack m_stack;
    MessageCapture m_messages;
    size_t m_nDisks = 0;
};

unsigned __stdcall OneBufferProc(void* p)
{
    RunDiskCopy(static_cast<DiskCopyJob*>(p), false);
    return 0;
}

bool SameBytes(const std::vector<BYTE>& a, size_t nFromA, const std::vector<BYTE>& b, size_t nFromB, size_t n)
{
    return a.size() >= nFromA + n && b.size() >= nFromB + n && memcmp(&a[nFromA], &b[nFromB], n) == 0;
}

} // namespace

TEST_P(UsbCloneTest, OddTailIsCopiedAndTheListMayChangeMeanwhile)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nSource = 10 * nCylinder + 3 * kSector;  // three sectors past the last whole cylinder
    FakeDiskConfig src = AddDisk(1, nSource, 4, 8);
    FakeDiskConfig dst = AddDisk(2, nSource + 8192, 4, 8);  // a larger target keeps its own end
    std::vector<BYTE> dstBefore = ReadWholeFile(dst.strImagePath);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), 2);

    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));
    EXPECT_EQ(job.m_nTotalBytes, nSource);
    EXPECT_EQ(job.m_nTargetBytes, nSource + 8192);
    EXPECT_EQ(job.m_bSuccess, 1);
    EXPECT_EQ(job.m_bDone, 0);

    // Disks leaving and arriving after the start do not move the copy to other disks.
    g_arrUSBDevice.RemoveAll();
    FakeDiskConfig other = AddDisk(3, nSource, 4, 8);
    std::vector<BYTE> otherBefore = ReadWholeFile(other.strImagePath);
    g_arrUSBDevice.Add(CUSBDevice(other.strDevicePath));
    g_arrUSBDevice.Add(CUSBDevice(src.strDevicePath));

    Run(job);
    ExpectEnded(job, 1);
    EXPECT_EQ(job.GetCopiedBytes(), nSource);
    std::vector<BYTE> srcAfter = ReadWholeFile(src.strImagePath), dstAfter = ReadWholeFile(dst.strImagePath);
    ASSERT_EQ(dstAfter.size(), dstBefore.size());
    EXPECT_TRUE(SameBytes(srcAfter, 0, dstAfter, 0, nSource));
    EXPECT_TRUE(SameBytes(dstBefore, nSource, dstAfter, nSource, 8192));
    EXPECT_EQ(ReadWholeFile(other.strImagePath), otherBefore);
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_P(UsbCloneTest, StopWhilePausedLeavesWholeCylinders)
{
    const ULONGLONG nCylinder = 1 * 8 * kSector;
    const ULONGLONG nSize = 4096 * nCylinder;
    FakeDiskConfig src = AddDisk(1, nSize, 1, 8);
    FakeDiskConfig dst = AddDisk(2, nSize, 1, 8);
    std::vector<BYTE> dstBefore = ReadWholeFile(dst.strImagePath);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));

    // Let it start, hold it at its next pause point, then stop it there.
    HANDLE hThread = nullptr;
    std::vector<BYTE> srcAfter;
    if (GetParam()) {
        hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DiskCopyThreadProc, &job, 0, nullptr));
    } else {
        hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, OneBufferProc, &job, 0, nullptr));
    }
    ASSERT_NE(hThread, nullptr);
    while (job.GetCopiedBytes() == 0 && !job.m_bDone)
        ;
    ResetEvent(g_hDiskCopyPauseEvent);
    ULONGLONG nHeld = job.GetCopiedBytes();
    Sleep(200);
    // Held: at most the cylinder in flight when the pause came was finished.
    EXPECT_LE(job.GetCopiedBytes(), nHeld + nCylinder);
    EXPECT_EQ(job.m_bDone, 0);
    job.m_bStop = 1;
    SetEvent(g_hDiskCopyPauseEvent);
    ASSERT_EQ(WaitForSingleObject(hThread, 60000), WAIT_OBJECT_0);
    CloseHandle(hThread);

    ExpectEnded(job, 0);
    ULONGLONG nCopied = job.GetCopiedBytes();
    EXPECT_GT(nCopied, 0u);
    EXPECT_LT(nCopied, nSize);
    EXPECT_EQ(nCopied % nCylinder, 0u);
    srcAfter = ReadWholeFile(src.strImagePath);
    std::vector<BYTE> dstAfter = ReadWholeFile(dst.strImagePath);
    EXPECT_TRUE(SameBytes(srcAfter, 0, dstAfter, 0, size_t(nCopied)));
    EXPECT_TRUE(SameBytes(dstBefore, size_t(nCopied), dstAfter, size_t(nCopied), size_t(nSize - nCopied)));
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_P(UsbCloneTest, ShortReadIsReportedAndEndsUnsuccessful)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nImage = 10 * nCylinder + 3 * kSector;
    // The disk claims two cylinders more than its medium holds.
    FakeDiskConfig& src = AddDisk(1, nImage, 4, 8);
    src.nReportedBlocks = (nImage + 2 * nCylinder) / kSector;
    src.geometry.Cylinders.QuadPart = 12;
    FakeDiskConfig dst = AddDisk(2, nImage + 2 * nCylinder, 4, 8);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));
    Run(job);

    ExpectEnded(job, 0);
    EXPECT_EQ(job.GetCopiedBytes(), 10 * nCylinder);
    auto texts = m_messages.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], L"\u8BFB\u6587\u4EF6\u51FA\u9519ret= 1,error=0,bPlantReadLen = 16384,bRealReadLen = 1536");
}

TEST_P(UsbCloneTest, RefusedBeforeTheFirstWrite)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nSize = 6 * nCylinder;
    AddDisk(1, nSize, 4, 8);
    FakeDiskConfig small = AddDisk(2, nSize - kSector, 4, 8);
    FakeDiskConfig& noGeometry = AddDisk(3, nSize, 4, 8);
    noGeometry.bGeometryFails = true;
    FakeDiskConfig& unmeasured = AddDisk(4, nSize, 4, 8);
    unmeasured.checkConditionOps = {0x25, 0x9E};
    std::vector<BYTE> smallBefore = ReadWholeFile(small.strImagePath);
    std::vector<BYTE> unmeasuredBefore = ReadWholeFile(unmeasured.strImagePath);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), 4);

    // Target one sector smaller than the source.
    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));
    Run(job);
    ExpectEnded(job, 0);
    EXPECT_EQ(job.GetCopiedBytes(), 0u);
    EXPECT_EQ(ReadWholeFile(small.strImagePath), smallBefore);
    ASSERT_EQ(m_messages.Count(), 1u);
    EXPECT_GE(m_messages.Texts()[0].Find(L"smaller"), 0);

    // A source whose geometry or size cannot be read, or a target of unknown size: no
    // "successful" copy of nothing, and nothing written.
    for (auto [nSource, nTarget] : {std::pair{2, 0}, std::pair{3, 0}, std::pair{0, 3}}) {
        size_t nBefore = m_messages.Count();
        ASSERT_TRUE(PrepareDiskCopyJob(&job, nSource, nTarget));
        Run(job);
        ExpectEnded(job, 0);
        EXPECT_EQ(job.GetCopiedBytes(), 0u);
        EXPECT_EQ(m_messages.Count(), nBefore + 1);
    }

    // Indexes outside the list, or the same disk twice, end the job at once.
    for (auto [nSource, nTarget] : {std::pair{-1, 0}, std::pair{0, 4}, std::pair{1, 1}}) {
        DiskCopyJob bad;
        EXPECT_FALSE(PrepareDiskCopyJob(&bad, nSource, nTarget));
        ExpectEnded(bad, 0);
        bad.m_bStop = 0;
        bad.m_bDone = 0;
        Run(bad);  // started anyway
        ExpectEnded(bad, 0);
    }
    EXPECT_EQ(ReadWholeFile(small.strImagePath), smallBefore);
    EXPECT_EQ(ReadWholeFile(unmeasured.strImagePath), unmeasuredBefore);
}

// Copied sector for sector onto a disk of another sector size, a disk's tables point at the wrong
// places (and a cylinder need not be whole sectors of the target): refused before the target is
// touched, naming both sizes. Disks of 4096-byte sectors are still cloned onto a larger one.
TEST_P(UsbCloneTest, DisksOfDifferentSectorSizesAreRefusedBeforeAnythingIsTouched)
{
    const ULONGLONG nSize = 60 * 4096;   // whole cylinders of 3 x 5 x 512 bytes and of 4 x 8 x 512
    struct Case {
        DWORD nSourceSector, nTracks, nSectors, nTargetSector;
    } cases[] = {{4096, 4, 8, 512}, {512, 3, 5, 4096}, {512, 4, 8, 4096}};
    std::vector<CString> targets;
    int n = 1;
    for (const Case& c : cases) {
        AddDisk(n++, nSize, c.nTracks, c.nSectors, c.nSourceSector);
        FakeDiskConfig& target = AddDisk(n++, nSize, 4, 8, c.nTargetSector);
        target.volumes = L"TUV"[targets.size()];
        target.volumeRanges[target.volumes[0]] = {8 * 4096, 16 * 4096};
        targets.push_back(target.strImagePath);
    }
    FakeDiskConfig src = AddDisk(n++, nSize, 4, 8, 4096);
    FakeDiskConfig larger = AddDisk(n++, nSize + 8 * 4096, 4, 8, 4096);
    std::vector<std::vector<BYTE>> before;
    for (const CString& strPath : targets)
        before.push_back(ReadWholeFile(strPath));
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), n - 1);

    for (size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(i);
        size_t nBefore = m_messages.Count();
        DiskCopyJob job;
        ASSERT_TRUE(PrepareDiskCopyJob(&job, int(2 * i), int(2 * i + 1)));
        Run(job);
        ExpectEnded(job, 0);
        EXPECT_EQ(job.GetCopiedBytes(), 0u);
        EXPECT_EQ(ReadWholeFile(targets[i]), before[i]);
        EXPECT_FALSE(m_stack.VolumeDismounted(2 * i + 1, L"TUV"[i]));
        auto texts = m_messages.Texts();
        ASSERT_EQ(texts.size(), nBefore + 1);
        CString strSizes;
        strSizes.Format(L"source %lu bytes, target %lu bytes", cases[i].nSourceSector, cases[i].nTargetSector);
        EXPECT_GE(texts.back().Find(strSizes), 0) << CStringA(texts.back()).GetString();
    }

    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, n - 3, n - 2));
    Run(job);
    ExpectEnded(job, 1);
    std::vector<BYTE> srcAfter = ReadWholeFile(src.strImagePath), dstAfter = ReadWholeFile(larger.strImagePath);
    EXPECT_TRUE(SameBytes(srcAfter, 0, dstAfter, 0, size_t(nSize)));
}

// Sizes and cylinders whose arithmetic overflows 64 bits are refused, not wrapped around: a
// source claiming 2^55 + 128 blocks of 512 bytes would otherwise measure 64 KiB, and the clone
// would copy those and report success; a cylinder of 2^64 + 1 MiB would pass for 1 MiB.
TEST_P(UsbCloneTest, OverflowingSizesAreRefusedBeforeTheFirstWrite)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nSize = 8 * nCylinder;   // 64 KiB
    FakeDiskConfig& huge = AddDisk(1, nSize, 4, 8);
    huge.nReportedBlocks = (1ull << 55) + 128;
    FakeDiskConfig& target = AddDisk(2, 4 * nSize, 4, 8);
    FakeDiskConfig& oddGeometry = AddDisk(3, nSize, 4, 8);
    // 2931542417 x 6001 x 2^20 = 2^64 + 2^20.
    oddGeometry.geometry.TracksPerCylinder = 2931542417u;
    oddGeometry.geometry.SectorsPerTrack = 6001;
    oddGeometry.geometry.BytesPerSector = 1u << 20;
    oddGeometry.geometry.Cylinders.QuadPart = 1;
    const std::vector<BYTE> targetBefore = ReadWholeFile(target.strImagePath);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), 3);
    EXPECT_EQ(g_arrUSBDevice[0].GetCapacity(), 0u);

    for (int nSource : {0, 2}) {
        SCOPED_TRACE(nSource);
        size_t nBefore = m_messages.Count();
        DiskCopyJob job;
        ASSERT_TRUE(PrepareDiskCopyJob(&job, nSource, 1));
        Run(job);
        ExpectEnded(job, 0);
        EXPECT_EQ(job.GetCopiedBytes(), 0u);
        auto texts = m_messages.Texts();
        ASSERT_EQ(texts.size(), nBefore + 1);
        EXPECT_GE(texts.back().Find(nSource == 0 ? L"size of the source" : L"geometry"), 0)
            << CStringA(texts.back()).GetString();
    }
    EXPECT_EQ(ReadWholeFile(target.strImagePath), targetBefore);
}

TEST_P(UsbCloneTest, MountedTargetVolumesAreTakenOverBeforeTheFirstWrite)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nSize = 160 * nCylinder;  // 2.5 MiB
    FakeDiskConfig& src = AddDisk(1, nSize, 4, 8);
    src.volumes = L"P";
    FakeDiskConfig& dst = AddDisk(2, nSize, 4, 8);
    dst.volumes = L"QR";
    dst.volumeRanges[L'Q'] = {1 << 20, 512 << 10};
    dst.volumeRanges[L'R'] = {(1 << 20) + (512 << 10), nSize - (1 << 20) - (512 << 10)};
    const std::vector<BYTE> dstBefore = ReadWholeFile(dst.strImagePath);
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), 2);

    // A volume in use keeps the clone from starting: nothing is written, and the volumes
    // taken so far are given back.
    dst.volumesInUse = L"R";
    DiskCopyJob job;
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));
    Run(job);
    ExpectEnded(job, 0);
    EXPECT_EQ(job.GetCopiedBytes(), 0u);
    EXPECT_EQ(ReadWholeFile(dst.strImagePath), dstBefore);
    ASSERT_EQ(m_messages.Count(), 1u);
    EXPECT_GE(m_messages.Texts()[0].Find(L"\\\\.\\R:"), 0) << CStringA(m_messages.Texts()[0]).GetString();
    EXPECT_FALSE(m_stack.VolumeLocked(1, L'Q'));

    // Once free, both volumes are locked and dismounted and the whole disk is copied; the
    // source's own volume is left alone.
    dst.volumesInUse.clear();
    ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, 1));
    Run(job);
    ExpectEnded(job, 1);
    EXPECT_EQ(job.GetCopiedBytes(), nSize);
    EXPECT_EQ(ReadWholeFile(dst.strImagePath), ReadWholeFile(src.strImagePath));
    EXPECT_TRUE(m_stack.VolumeDismounted(1, L'Q'));
    EXPECT_TRUE(m_stack.VolumeDismounted(1, L'R'));
    EXPECT_FALSE(m_stack.VolumeDismounted(0, L'P'));
    // The locks end with the job, so the system can mount the new volumes.
    EXPECT_FALSE(m_stack.VolumeLocked(1, L'Q'));
    EXPECT_FALSE(m_stack.VolumeLocked(1, L'R'));
    EXPECT_EQ(m_messages.Count(), 1u);
}

TEST_P(UsbCloneTest, WriteFailureEndsTheJobWithTheSystemText)
{
    const ULONGLONG nCylinder = 4 * 8 * kSector;
    const ULONGLONG nSize = 12 * nCylinder;
    AddDisk(1, nSize, 4, 8);
    FakeDiskConfig& bad = AddDisk(2, nSize, 4, 8);
    bad.nFailWriteSector = 5 * 32 + 7;
    bad.dwFailError = ERROR_CRC;
    // A full target: it claims the source's size, but its medium ends after 9 cylinders.
    FakeDiskConfig& full = AddDisk(3, 9 * nCylinder, 4, 8);
    full.nReportedBlocks = nSize / kSector;
    CUSBDevice::EnumUSBDevices(g_arrUSBDevice);
    ASSERT_EQ(g_arrUSBDevice.GetSize(), 3);

    struct Case {
        int nTarget;
        ULONGLONG nCopied;
        DWORD dwError;
    };
    for (const Case& c : {Case{1, 5 * nCylinder, ERROR_CRC}, Case{2, 9 * nCylinder, ERROR_SECTOR_NOT_FOUND}}) {
        SCOPED_TRACE(c.nTarget);
        size_t nBefore = m_messages.Count();
        DiskCopyJob job;
        ASSERT_TRUE(PrepareDiskCopyJob(&job, 0, c.nTarget));
        Run(job);  // returns only when the worker, and its reader, have ended
        ExpectEnded(job, 0);
        EXPECT_EQ(job.GetCopiedBytes(), c.nCopied);
        auto texts = m_messages.Texts();
        ASSERT_EQ(texts.size(), nBefore + 1);
        EXPECT_GE(texts.back().Find(FormatSystemError(c.dwError)), 0) << CStringA(texts.back()).GetString();
    }
}

// The fake disk refuses what a disk refuses, so that a clone that would fail on a real disk
// fails here too.
TEST(FakeDiskTest, RefusesPartialSectorsWritesIntoMountedVolumesAndChosenSectors)
{
    TempFolder dir;
    FakeDeviceStack stack;
    FakeDiskConfig d;
    d.strDevicePath = L"\\\\?\\fake#disk#4k";
    d.strImagePath = dir.Path(L"4k.img");
    d.nBlockLength = 4096;
    d.volumes = L"V";
    d.volumeRanges[L'V'] = {8192, 8192};
    d.nFailReadSector = 5;
    ASSERT_TRUE(WritePatternImage(d.strImagePath, 8 * 4096, 7));
    stack.AddDisk(d);

    IDeviceIo& io = DeviceIo();
    HANDLE h = io.OpenDevice(d.strDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<BYTE> buffer(2 * 4096);
    DWORD n = 0;
    auto refused = [&](BOOL bOk, DWORD dwError) { return !bOk && GetLastError() == dwError; };
    // Whole sectors at whole-sector positions only.
    EXPECT_TRUE(refused(io.ReadDevice(h, buffer.data(), 512, &n), ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(io.SeekDevice(h, 512));
    EXPECT_TRUE(refused(io.ReadDevice(h, buffer.data(), 4096, &n), ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(io.SeekDevice(h, 4096));
    EXPECT_TRUE(io.ReadDevice(h, buffer.data(), 4096, &n));
    EXPECT_EQ(n, 4096u);
    // The chosen sector fails any read that covers it.
    ASSERT_TRUE(io.SeekDevice(h, 4 * 4096));
    EXPECT_TRUE(refused(io.ReadDevice(h, buffer.data(), 2 * 4096, &n), ERROR_CRC));
    // Writes: not inside the mounted volume (sectors 2 and 3), not past the medium.
    ASSERT_TRUE(io.SeekDevice(h, 4096));
    EXPECT_TRUE(refused(io.WriteDevice(h, buffer.data(), 2 * 4096, &n), ERROR_ACCESS_DENIED));
    ASSERT_TRUE(io.SeekDevice(h, 7 * 4096));
    EXPECT_TRUE(refused(io.WriteDevice(h, buffer.data(), 2 * 4096, &n), ERROR_SECTOR_NOT_FOUND));
    ASSERT_TRUE(io.SeekDevice(h, 4096));
    EXPECT_TRUE(io.WriteDevice(h, buffer.data(), 4096, &n));

    // Locked, the volume takes raw writes; once its handle is closed, it refuses them again.
    std::vector<CString> volumes;
    io.EnumVolumes(volumes);
    ASSERT_EQ(volumes, std::vector<CString>{L"\\\\.\\V:"});
    HANDLE hVolume = io.OpenDevice(volumes[0], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0);
    ASSERT_NE(hVolume, INVALID_HANDLE_VALUE);
    DWORD nReturned = 0;
    ASSERT_TRUE(io.IoControl(hVolume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &nReturned));
    ASSERT_TRUE(io.SeekDevice(h, 2 * 4096));
    EXPECT_TRUE(io.WriteDevice(h, buffer.data(), 2 * 4096, &n));
    CloseHandle(hVolume);
    ASSERT_TRUE(io.SeekDevice(h, 2 * 4096));
    EXPECT_TRUE(refused(io.WriteDevice(h, buffer.data(), 4096, &n), ERROR_ACCESS_DENIED));
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Modes, UsbCloneTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ReadAhead" : "OneBuffer";
                         });
