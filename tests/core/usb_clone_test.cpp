#include <gtest/gtest.h>
#include <process.h>

#include "DiskCopy.h"
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
    FakeDiskConfig& AddDisk(int n, ULONGLONG nSize, DWORD nTracks, DWORD nSectors)
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
        d.geometry.BytesPerSector = kSector;
        d.geometry.Cylinders.QuadPart = nSize / (ULONGLONG(nTracks) * nSectors * kSector);
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

INSTANTIATE_TEST_SUITE_P(Modes, UsbCloneTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ReadAhead" : "OneBuffer";
                         });
