#include <gtest/gtest.h>

#include "usb_fake_disk.h"

namespace {

CString InterfacePath(int n)
{
    CString s;
    s.Format(L"\\\\?\\usbstor#disk&ven_fake&prod_disk#%04d#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    return s;
}

// The letters the system reports, in its order ("C", "Z", ...).
std::wstring SystemDriveLetters()
{
    wchar_t buf[512] = {};
    GetLogicalDriveStringsW(511, buf);
    std::wstring letters;
    for (const wchar_t* p = buf; *p; p += wcslen(p) + 1)
        letters += p[0];
    return letters;
}

FakeDiskConfig Disk(const TempFolder& dir, int n, ULONGLONG nSize)
{
    FakeDiskConfig d;
    d.strDevicePath = InterfacePath(n);
    CString name;
    name.Format(L"disk%d.img", n);
    d.strImagePath = dir.Path(name);
    d.nDeviceNumber = n;
    EXPECT_TRUE(WritePatternImage(d.strImagePath, nSize, n));
    return d;
}

} // namespace

TEST(UsbDeviceTest, EnumerationListsOnlyBridgeDisksInDeviceNumberOrder)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;
    std::wstring letters = SystemDriveLetters();
    ASSERT_GE(letters.size(), 2u);

    // Enumerated out of order: disk 3, a foreign disk 2, then disk 1.
    FakeDiskConfig d3 = Disk(dir, 3, 64 * 1024);
    d3.vendor = "SAMSUNGX";           // fills its 8 bytes with no terminator
    d3.product = "0123456789abcdef";  // fills its 16 bytes; the revision text follows directly
    d3.strInstanceId = L"USBSTOR\\DISK&VEN_SAMSUNG\\0003";
    d3.strParentInstanceId = L"USB\\VID_3E71&PID_0001\\0003";
    stack.AddDisk(d3);
    FakeDiskConfig d2 = Disk(dir, 2, 64 * 1024);
    d2.bBridge = false;
    if (letters.size() > 2)
        d2.volumes = letters.substr(2, 1);
    stack.AddDisk(d2);
    FakeDiskConfig d1 = Disk(dir, 1, 3 * 512 * 1024 + 4096);
    d1.vendor = "WDC";
    d1.product = "WD5000AAKS-00A7B0";  // longer than the field: cut at 16 characters
    d1.volumes = std::wstring(1, letters[0]) + letters[1];
    d1.geometry.Cylinders.QuadPart = 3;
    d1.geometry.MediaType = FixedMedia;
    d1.geometry.TracksPerCylinder = 16;
    d1.geometry.SectorsPerTrack = 64;
    d1.geometry.BytesPerSector = 512;
    d1.strInstanceId = L"USBSTOR\\DISK&VEN_WDC\\0001";
    stack.AddDisk(d1);

    CArray<CUSBDevice> list;
    CUSBDevice::EnumUSBDevices(list);
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list[0].m_nDeviceNumber, 1);
    EXPECT_EQ(list[1].m_nDeviceNumber, 3);

    EXPECT_EQ(list[0].m_strDevicePath, InterfacePath(1));
    EXPECT_EQ(list[0].m_strProductName, L"WDC     WD5000AAKS-00A7B");
    EXPECT_EQ(list[0].m_strVendorName, L"Western Digital");
    CString expectLetters;
    expectLetters.Format(L"%lc: %lc: ", letters[0], letters[1]);
    EXPECT_EQ(list[0].m_strDriveLetters, expectLetters);
    EXPECT_EQ(list[0].m_geometry.Cylinders.QuadPart, 3);
    EXPECT_EQ(list[0].m_geometry.TracksPerCylinder, 16u);
    EXPECT_EQ(list[0].m_geometry.SectorsPerTrack, 64u);
    EXPECT_EQ(list[0].m_strInstanceId, L"USBSTOR\\DISK&VEN_WDC\\0001");
    EXPECT_EQ(list[0].GetCapacity(), 3ull * 512 * 1024 + 4096);

    // Case-sensitive maker table: SAMSUNG in capitals is not "Samsung".
    EXPECT_EQ(list[1].m_strProductName, L"SAMSUNGX0123456789abcdef");
    EXPECT_EQ(list[1].m_strVendorName, L"SAMSUNGX");
    EXPECT_EQ(list[1].m_strDriveLetters, L"");  // the second letter belongs to the foreign disk
    EXPECT_EQ(list[1].m_strParentInstanceId, L"USB\\VID_3E71&PID_0001\\0003");
    EXPECT_EQ(list[1].GetCapacity(), 64u * 1024);

    // A second pass over the same disks adds nothing.
    CUSBDevice::EnumUSBDevices(list);
    EXPECT_EQ(list.GetSize(), 2);
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_EQ(stack.BufferedCalls(), 0);
}

TEST(UsbDeviceTest, VendorDisplayNames)
{
    // Cut at the first character that is not an ASCII letter, then a case-sensitive search.
    struct { const wchar_t* in; const wchar_t* out; } cases[] = {
        {L"HITACHI ", L"HITACHI"}, {L"xxSTyy", L"Seagate"}, {L"1ST", L""}, {L"Ab-ST", L"Ab"},
    };
    for (const auto& c : cases) {
        CString out = L"unchanged";
        GetDiskVendorName(c.in, out);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(UsbDeviceTest, ScsiCommandDirectAndBufferedPaths)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;
    FakeDiskConfig direct = Disk(dir, 1, 8192);
    stack.AddDisk(direct);
    FakeDiskConfig fallback = Disk(dir, 2, 8192);
    fallback.bDirectFails = true;
    fallback.product = "Fallback";
    stack.AddDisk(fallback);
    FakeDiskConfig neither = Disk(dir, 3, 8192);
    neither.bDirectFails = neither.bBufferedFails = true;
    stack.AddDisk(neither);

    const BYTE inquiry[6] = {0x12, 0, 0, 0, 38, 0};
    BYTE data[38];
    memset(data, 0xCC, sizeof(data));
    CUSBDevice a(direct.strDevicePath);
    ASSERT_TRUE(a.ExecuteSCSICommand(data, inquiry, 6, sizeof(data)));
    EXPECT_EQ(data[36], 0x71);
    EXPECT_EQ(data[37], 0x3E);
    EXPECT_EQ(stack.DirectCalls(), 1);
    EXPECT_EQ(stack.BufferedCalls(), 0);
    EXPECT_EQ(messages.Count(), 0u);

    // Direct pass-through refused: the buffered request brings the same data back.
    memset(data, 0xCC, sizeof(data));
    CUSBDevice b(fallback.strDevicePath);
    ASSERT_TRUE(b.ExecuteSCSICommand(data, inquiry, 6, sizeof(data)));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 16), 16), "Fallback        ");
    EXPECT_EQ(data[36], 0x71);
    EXPECT_EQ(stack.BufferedCalls(), 1);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_GE(messages.Texts()[0].Find(L"IOCTL_SCSI_PASS_THROUGH_DIRECT: " + fallback.strDevicePath + L" failed: 50"), 0)
        << messages.Texts()[0].GetString();
    EXPECT_TRUE(b.IdentifyDevice());
    EXPECT_EQ(b.GetCapacity(), 8192u);

    // More data than the buffered request can carry is refused before it is sent.
    int nBuffered = stack.BufferedCalls();
    std::vector<BYTE> big(600, 0xCC);
    BYTE inquiryBig[6] = {0x12, 0, 0, 0x02, 0x58, 0};
    EXPECT_FALSE(b.ExecuteSCSICommand(big.data(), inquiryBig, 6, DWORD(big.size())));
    EXPECT_EQ(stack.BufferedCalls(), nBuffered);
    EXPECT_EQ(big[599], 0);  // cleared all the same

    // Both refused: false, with one message for each attempt.
    size_t nBefore = messages.Count();
    CUSBDevice c(neither.strDevicePath);
    EXPECT_FALSE(c.ExecuteSCSICommand(data, inquiry, 6, sizeof(data)));
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), nBefore + 2);
    EXPECT_GE(texts[nBefore + 1].Find(L"IOCTL_SCSI_PASS_THROUGH: "), 0);
    EXPECT_FALSE(c.IdentifyDevice());
}

TEST(UsbDeviceTest, CheckConditionFailsTheCommandAndCapacityFallsBackTo16)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;

    FakeDiskConfig noInquiry = Disk(dir, 1, 4096);
    noInquiry.checkConditionOps = {0x12};
    stack.AddDisk(noInquiry);
    EXPECT_FALSE(CUSBDevice(noInquiry.strDevicePath).IdentifyDevice());

    // A disk that refuses READ CAPACITY (10) is measured with the 16-byte form.
    FakeDiskConfig no10 = Disk(dir, 2, 4096);
    no10.checkConditionOps = {0x25};
    stack.AddDisk(no10);
    EXPECT_EQ(CUSBDevice(no10.strDevicePath).GetCapacity(), 4096u);

    // Larger than 2 TiB with 512-byte blocks: READ CAPACITY (10) answers all ones.
    FakeDiskConfig huge = Disk(dir, 3, 4096);
    huge.nReportedBlocks = 5860533168ull;  // 3 TB
    stack.AddDisk(huge);
    EXPECT_EQ(CUSBDevice(huge.strDevicePath).GetCapacity(), 5860533168ull * 512);

    FakeDiskConfig saturated = Disk(dir, 4, 4096);
    saturated.bCapacity10Saturated = true;
    saturated.nBlockLength = 4096;
    stack.AddDisk(saturated);
    EXPECT_EQ(CUSBDevice(saturated.strDevicePath).GetCapacity(), 4096u);

    FakeDiskConfig neither = Disk(dir, 5, 4096);
    neither.checkConditionOps = {0x25, 0x9E};
    stack.AddDisk(neither);
    EXPECT_EQ(CUSBDevice(neither.strDevicePath).GetCapacity(), 0u);

    // CHECK CONDITION is an answer from the disk, not a transport failure: no message box.
    EXPECT_EQ(messages.Count(), 0u);
}

TEST(UsbDeviceTest, UnopenableOrUnnumberedDisks)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;
    std::wstring letters = SystemDriveLetters();
    ASSERT_FALSE(letters.empty());

    FakeDiskConfig gone = Disk(dir, 1, 4096);
    gone.bUnopenable = true;
    stack.AddDisk(gone);
    CArray<CUSBDevice> list;
    CUSBDevice::EnumUSBDevices(list);
    EXPECT_EQ(list.GetSize(), 0);
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 1u);  // one INQUIRY attempted, one message
    EXPECT_GE(texts[0].Find(L"CreateFile(\"" + gone.strDevicePath + L"\") failed: 5"), 0) << texts[0].GetString();

    // A disk without a device number claims no volume, not even those of disk 0.
    FakeDiskConfig anon = Disk(dir, 2, 4096);
    anon.nDeviceNumber = 0;
    anon.bNoDeviceNumber = true;
    stack.AddDisk(anon);
    FakeDiskConfig system = Disk(dir, 3, 4096);
    system.bBridge = false;
    system.nDeviceNumber = 0;
    system.volumes = letters.substr(0, 1);
    stack.AddDisk(system);
    CUSBDevice dev(anon.strDevicePath);
    dev.m_strDriveLetters = L"stale";
    EXPECT_EQ(dev.GetDriveLetters(), L"");
    EXPECT_EQ(dev.m_strDriveLetters, L"");

    EXPECT_FALSE(CUSBDevice().IdentifyDevice());
}

TEST(UsbDeviceTest, DebugMessageLevelsAndFormats)
{
    MessageCapture messages;
    DebugMessage(4, L"trace %d", 1);
    DebugMessage(2, nullptr);
    EXPECT_EQ(messages.Count(), 0u);
    DebugMessage(2, L"%ls=%lld", L"size", 5000000000ll);
    std::wstring longText(3000, L'x');
    DebugMessage(0, L"%ls", longText.c_str());
    auto texts = messages.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], L"size=5000000000");
    EXPECT_EQ(texts[1].GetLength(), 1024);
}

// A disk that sends fewer bytes than were asked for (DataTransferLength after the request says
// how many came) has not answered: INQUIRY and both capacity commands fail, on the direct and on
// the buffered path, instead of reading the missing bytes as the zeros the buffer was cleared to.
TEST(UsbDeviceTest, ShortAnswersAreFailures)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;
    for (bool bBuffered : {false, true}) {
        SCOPED_TRACE(bBuffered ? "buffered" : "direct");
        const int n = bBuffered ? 10 : 1;
        FakeDiskConfig whole = Disk(dir, n, 8192);
        whole.bDirectFails = bBuffered;
        stack.AddDisk(whole);
        CUSBDevice wholeDisk(whole.strDevicePath);
        EXPECT_TRUE(wholeDisk.IdentifyDevice());
        EXPECT_EQ(wholeDisk.GetCapacity(), 8192u);

        // INQUIRY cut to 37 bytes: the second byte of the bridge identifier never came.
        FakeDiskConfig cutInquiry = Disk(dir, n + 1, 8192);
        cutInquiry.bDirectFails = bBuffered;
        cutInquiry.shortReplies[0x12] = 37;
        stack.AddDisk(cutInquiry);
        BYTE data[38];
        const BYTE inquiry[6] = {0x12, 0, 0, 0, 38, 0};
        CUSBDevice cutDisk(cutInquiry.strDevicePath);
        EXPECT_FALSE(cutDisk.ExecuteSCSICommand(data, inquiry, 6, sizeof(data)));
        EXPECT_FALSE(cutDisk.IdentifyDevice());

        // READ CAPACITY (10) cut: the 16-byte form is asked; cut as well: no size.
        FakeDiskConfig cut10 = Disk(dir, n + 2, 8192);
        cut10.bDirectFails = bBuffered;
        cut10.shortReplies[0x25] = 4;
        stack.AddDisk(cut10);
        EXPECT_EQ(CUSBDevice(cut10.strDevicePath).GetCapacity(), 8192u);
        FakeDiskConfig cutBoth = Disk(dir, n + 3, 8192);
        cutBoth.bDirectFails = bBuffered;
        cutBoth.shortReplies = {{0x25, 7}, {0x9E, 8}};
        stack.AddDisk(cutBoth);
        EXPECT_EQ(CUSBDevice(cutBoth.strDevicePath).GetCapacity(), 0u);
    }
}

// A size from READ CAPACITY (16) that does not fit a 64-bit byte offset is no size: wrapped
// around it would read as a small disk.
TEST(UsbDeviceTest, CapacityBeyond64BitsIsRefused)
{
    TempFolder dir;
    FakeDeviceStack stack;
    MessageCapture messages;
    struct Case {
        ULONGLONG nBlocks;
        DWORD nBlockLength;
        ULONGLONG nCapacity;
    } cases[] = {
        {(1ull << 54) - 1, 512, ((1ull << 54) - 1) * 512},   // the largest that fits
        {1ull << 54, 512, 0},                                // 2^63 bytes
        {(1ull << 55) + 1, 512, 0},                          // 2^64 + 512: would read as 512
        {(1ull << 52) + 16, 4096, 0},                        // would read as 64 KiB
        {~0ull, 4096, 0},                                    // the largest address there is
    };
    int n = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        FakeDiskConfig d = Disk(dir, n++, 4096);
        d.nReportedBlocks = c.nBlocks;
        d.nBlockLength = c.nBlockLength;
        stack.AddDisk(d);
        EXPECT_EQ(CUSBDevice(d.strDevicePath).GetCapacity(), c.nCapacity);
    }
}
