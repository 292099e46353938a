// Firmware image rebuild: the layout, the type digit of the file name, the CRC, and what is left
// on disk when something fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "FirmwareImage.h"
#include "ZedoDeviceIo.h"
#include "ZedoUSBLib.h"

namespace {

typedef std::vector<BYTE> Bytes;

class Firmware : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemp[MAX_PATH];
        GetTempPathA(MAX_PATH, szTemp);
        dir = std::string(szTemp) + "zedo_fw_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
        dir += "\\";
    }
    void TearDown() override
    {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((dir + fd.cFileName).c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(dir.c_str());
    }
    // An input whose name carries the type digit twelve places from the end.
    std::string Input(char digit, const Bytes& body)
    {
        std::string path = dir + "fw_" + digit + "abcdefg.bin";
        Write(path, body);
        return path;
    }
    static void Write(const std::string& path, const Bytes& body)
    {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        if (!body.empty())
            fwrite(body.data(), 1, body.size(), f);
        fclose(f);
    }
    static Bytes Read(const std::string& path)
    {
        Bytes b;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f)
            return b;
        int c;
        while ((c = fgetc(f)) != EOF)
            b.push_back(static_cast<BYTE>(c));
        fclose(f);
        return b;
    }
    static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::string dir;
};

// Writes fail after the first piece.
class CFailingWrites : public CDeviceIo {
public:
    BOOL WriteBytes(HANDLE hFile, const void* pData, DWORD dwLength, DWORD* pdwWritten) override
    {
        if (++m_nCalls > 1) {
            *pdwWritten = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return CDeviceIo::WriteBytes(hFile, pData, dwLength, pdwWritten);
    }

private:
    int m_nCalls = 0;
};

} // namespace

TEST(FirmwareCrc, StandardCheckValues)
{
    const char* text = "123456789";
    EXPECT_EQ(0xCBF43926u, Crc32(reinterpret_cast<const BYTE*>(text), 9));
    EXPECT_EQ(0u, Crc32(nullptr, 0));
    EXPECT_EQ(0x80u, ReflectBits(1, 8));
    EXPECT_EQ(0xEDB88320u, ReflectBits(0x04C11DB7, 32));
}

TEST(FirmwareType, DigitTwelvePlacesFromTheEnd)
{
    struct Case {
        const char* path;
        int chipType;
        BYTE trailer;
    } cases[] = {
        {"C:\\firmware\\x3abcdefg.bin", 4, 45},
        {"C:\\firmware\\xAabcdefg.bin", 3, 60},   // 10 AND 7 = 2
        {"C:\\firmware\\xaabcdefg.bin", 3, 60},
        {"C:\\firmware\\x0abcdefg.bin", 0, 90},
        {"C:\\firmware\\x1abcdefg.bin", 2, 75},
        {"C:\\firmware\\x2abcdefg.bin", 3, 60},
        {"C:\\firmware\\x4abcdefg.bin", 0, 90},
        {"C:\\firmware\\x5abcdefg.bin", 255, 30},
        {"C:\\firmware\\x6abcdefg.bin", 255, 15},
        {"C:\\firmware\\x7abcdefg.bin", 255, 105},
        {"C:\\firmware\\xFabcdefg.bin", 255, 105}, // 15 AND 7 = 7
        {"C:\\firmware\\xgabcdefg.bin", 0, 90},    // not a hex digit
        {"C:\\firmware\\x-abcdefg.bin", 0, 90},
        {"C:\\firmware\\x\xE9" "abcdefg.bin", 0, 90},
        {"a:\\xxx3abcdefg.bin", 0, 90},            // 18 characters: digit 0
        {"a:\\xxxx3abcdefg.bin", 4, 45},           // 19 characters: the 3 counts
        {"", 0, 90},
    };
    for (const Case& c : cases) {
        FirmwareImageType t = FirmwareTypeFromPath(c.path);
        EXPECT_EQ(c.chipType, t.nChipType) << c.path;
        EXPECT_EQ(c.trailer, t.ucTrailer) << c.path;
    }
}

TEST_F(Firmware, ImageLayoutWithAndWithoutCrc)
{
    const std::string in = Input('1', {0x01, 0x02, 0x03});
    const std::string out = dir + "out.bin";
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 0, 2));
    EXPECT_EQ((Bytes{0x03, 0x00, 0x01, 0x02, 0x03, 0x4B, 0x06}), Read(out));

    const DWORD crc = Crc32(Bytes{1, 2, 3}.data(), 3);
    EXPECT_EQ(0x55BC801Du, crc);
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 1, 2));
    EXPECT_EQ((Bytes{0x03, 0x00, 0x01, 0x02, 0x03, 0x4B, 0x06, 0x1D, 0x80, 0xBC, 0x55}), Read(out));

    // Only the value 1 appends the CRC; the output is replaced each time.
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 2, 2));
    EXPECT_EQ(7u, Read(out).size());
}

TEST_F(Firmware, EmptyAndLargeBodies)
{
    const std::string out = dir + "out.bin";
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(Input('0', {}).c_str(), out.c_str(), 1, 0));
    EXPECT_EQ((Bytes{0, 0, 0x5A, 0, 0, 0, 0, 0}), Read(out));

    // The largest body the length word can say, 0xFFFF bytes of 0xFF: the checksum keeps the low
    // 8 bits of a sum far beyond one byte.
    Bytes body(0xFFFF, 0xFF);
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(Input('3', body).c_str(), out.c_str(), 0, 4));
    Bytes image = Read(out);
    ASSERT_EQ(body.size() + 4, image.size());
    EXPECT_EQ(0xFF, image[0]);
    EXPECT_EQ(0xFF, image[1]);
    EXPECT_EQ(0x2D, image[image.size() - 2]);
    EXPECT_EQ(static_cast<BYTE>((0xFFFFull * 0xFF) & 0xFF), image.back());
}

// A body of 64 KiB or more cannot be described by the 16-bit length word: such an input is
// refused with its own code, and the output (here an earlier good image) stays as it was.
TEST_F(Firmware, BodiesBeyondTheLengthWordAreRefused)
{
    const std::string out = dir + "out.bin";
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(Input('3', {9, 8, 7}).c_str(), out.c_str(), 1, 4));
    const Bytes good = Read(out);
    for (size_t n : {size_t(0x10000), size_t(0x10003), size_t(0x30000)}) {
        EXPECT_EQ(ZEDOUSB_ERR_TOO_LARGE, ZedoUSBLib_REBUILD_BINFILE(Input('3', Bytes(n, 0x11)).c_str(), out.c_str(),
                                                                    1, 4))
            << n;
        EXPECT_EQ(good, Read(out)) << n;
    }
    // The code is one of its own.
    for (int nOther : {ZEDOUSB_OK, ZEDOUSB_ERR_DEVICE, ZEDOUSB_ERR_NOT_LOADED, ZEDOUSB_ERR_ARGUMENT, ZEDOUSB_ERR_FILE,
                       ZEDOUSB_ERR_CHIP_TYPE, ZEDOUSB_ERR_OS})
        EXPECT_NE(nOther, ZEDOUSB_ERR_TOO_LARGE);
}

// The output is replaced only by a whole image: a failed rebuild leaves an earlier image, or the
// input named as the output, as it was, and no file of its own behind. The output may name the
// input: the input is read whole before anything is written.
TEST_F(Firmware, OutputIsReplacedOnlyByAWholeImage)
{
    const std::string in = Input('2', {1, 2, 3});
    const std::string out = dir + "out.bin";
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 0, 3));
    const Bytes good = Read(out);
    ASSERT_EQ((Bytes{0x03, 0x00, 0x01, 0x02, 0x03, 0x3C, 0x06}), good);
    ASSERT_EQ(0, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), in.c_str(), 0, 3));
    EXPECT_EQ(good, Read(in));

    const Bytes body(5000, 0x42);
    Write(in, body);
    {
        CFailingWrites failing;
        CDeviceIo* pOld = SetDeviceIo(&failing);
        int nResult = ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 1, 3);
        SetDeviceIo(pOld);
        EXPECT_EQ(-1, nResult);
    }
    EXPECT_EQ(good, Read(out));
    {
        CFailingWrites failing;
        CDeviceIo* pOld = SetDeviceIo(&failing);
        int nResult = ZedoUSBLib_REBUILD_BINFILE(in.c_str(), in.c_str(), 1, 3);
        SetDeviceIo(pOld);
        EXPECT_EQ(-1, nResult);
    }
    EXPECT_EQ(body, Read(in));

    // Only the files the test made are left in the folder.
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"fw_2abcdefg.bin", "out.bin"}), names);
}

TEST_F(Firmware, FailuresLeaveNoOutput)
{
    const std::string in = Input('2', {1, 2, 3});
    const std::string out = dir + "out.bin";
    // The name's type differs from the caller's: nothing is opened or written.
    EXPECT_EQ(-5, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 0, 2));
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(-3, ZedoUSBLib_REBUILD_BINFILE(nullptr, out.c_str(), 0, 3));
    EXPECT_EQ(-3, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), nullptr, 0, 3));
    EXPECT_EQ(-4, ZedoUSBLib_REBUILD_BINFILE((dir + "no_1abcdefg.bin").c_str(), out.c_str(), 0, 2));
    EXPECT_EQ(-1, ZedoUSBLib_REBUILD_BINFILE(in.c_str(), (dir + "no\\such\\folder.bin").c_str(), 0, 3));
    EXPECT_FALSE(Exists(out));

    // A write that fails midway removes the half-written output.
    CFailingWrites failing;
    CDeviceIo* pOld = SetDeviceIo(&failing);
    int nResult = ZedoUSBLib_REBUILD_BINFILE(in.c_str(), out.c_str(), 1, 3);
    SetDeviceIo(pOld);
    EXPECT_EQ(-1, nResult);
    EXPECT_FALSE(Exists(out));

    // A short path has the digit 0 and so chip type 0.
    char szOld[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, szOld);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    Write("xxxxxx3abcdefg.bin", {7});
    EXPECT_EQ(-5, ZedoUSBLib_REBUILD_BINFILE("xxxxxx3abcdefg.bin", "o.bin", 0, 4));
    EXPECT_EQ(0, ZedoUSBLib_REBUILD_BINFILE("xxxxxx3abcdefg.bin", "o.bin", 0, 0));
    EXPECT_EQ((Bytes{1, 0, 7, 0x5A, 7}), Read("o.bin"));
    SetCurrentDirectoryA(szOld);
}
