// Firmware image rebuild. Needs neither a loaded library nor a device.
#include "FirmwareImage.h"
#include "ZedoDeviceIo.h"
#include "ZedoUSBLib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kChipTypes[8] = {0, 2, 3, 4, 0, 255, 255, 255};
const BYTE kTrailers[8] = {0x5A, 0x4B, 0x3C, 0x2D, 0x5A, 0x1E, 0x0F, 0x69};

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

class CFileHandle {
public:
    explicit CFileHandle(HANDLE h) : m_h(h) {}
    ~CFileHandle()
    {
        if (Valid())
            CloseHandle(m_h);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    BOOL Close()
    {
        BOOL bOk = CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
        return bOk;
    }

private:
    HANDLE m_h;
};

bool WriteAll(HANDLE hFile, const BYTE* p, size_t n)
{
    while (n) {
        DWORD dwPiece = n > 0x100000 ? 0x100000 : static_cast<DWORD>(n);
        DWORD dwWritten = 0;
        if (!DeviceIo().WriteBytes(hFile, p, dwPiece, &dwWritten) || dwWritten != dwPiece)
            return false;
        p += dwPiece;
        n -= dwPiece;
    }
    return true;
}

// Creates a new, empty file in the folder of pszOutput (the folder part of the path as given);
// its name comes back in *pName.
HANDLE CreateTemporaryBeside(const char* pszOutput, std::string* pName)
{
    std::string folder(pszOutput);
    const size_t nSlash = folder.find_last_of("\\/");
    if (nSlash != std::string::npos)
        folder.erase(nSlash + 1);
    else if (folder.size() >= 2 && folder[1] == ':')
        folder.erase(2);   // "X:name": the current folder of drive X
    else
        folder.clear();
    for (int nTry = 0; nTry < 100; ++nTry) {
        char szName[64];
        snprintf(szName, sizeof(szName), "~zfw%lx-%lx-%d.tmp", GetCurrentProcessId(), GetTickCount(), nTry);
        *pName = folder + szName;
        HANDLE h = CreateFileA(pName->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

FirmwareImageType FirmwareTypeFromPath(const char* pszPath)
{
    int nDigit = 0;
    size_t n = strlen(pszPath);
    if (n >= 19)
        nDigit = HexValue(pszPath[n - 12]) & 7;
    return FirmwareImageType{nDigit, kChipTypes[nDigit], kTrailers[nDigit]};
}

DWORD ReflectBits(DWORD dwValue, int nBits)
{
    DWORD dwResult = 0;
    for (int i = 0; i < nBits; ++i)
        if (dwValue & (1u << i))
            dwResult |= 1u << (nBits - 1 - i);
    return dwResult;
}

void BuildCrc32Table(DWORD table[256])
{
    const DWORD kPolynomial = 0x04C11DB7;
    for (DWORD i = 0; i < 256; ++i) {
        DWORD crc = ReflectBits(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
        table[i] = ReflectBits(crc, 32);
    }
}

DWORD Crc32Update(const DWORD table[256], DWORD dwCrc, const BYTE* pData, size_t nLength)
{
    for (size_t i = 0; i < nLength; ++i)
        dwCrc = (dwCrc >> 8) ^ table[(dwCrc ^ pData[i]) & 0xFF];
    return dwCrc;
}

DWORD Crc32(const BYTE* pData, size_t nLength)
{
    DWORD table[256];
    BuildCrc32Table(table);
    return Crc32Update(table, 0xFFFFFFFF, pData, nLength) ^ 0xFFFFFFFF;
}

int RebuildFirmwareImage(const char* pszInput, const char* pszOutput, int nAddCrc, int nChipType)
{
    if (!pszInput || !pszOutput || !*pszOutput)
        return ZEDOUSB_ERR_ARGUMENT;
    const FirmwareImageType type = FirmwareTypeFromPath(pszInput);
    if (type.nChipType != nChipType)
        return ZEDOUSB_ERR_CHIP_TYPE;

    std::vector<BYTE> body;
    {
        CFileHandle input(CreateFileA(pszInput, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!input.Valid())
            return ZEDOUSB_ERR_FILE;
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(input.Get(), &size) || size.QuadPart < 0)
            return ZEDOUSB_ERR_DEVICE;
        // The length word has 16 bits: a longer body would be described as a shorter one.
        if (size.QuadPart > kFirmwareBodyMax)
            return ZEDOUSB_ERR_TOO_LARGE;
        try {
            body.resize(static_cast<size_t>(size.QuadPart));
        } catch (...) {
            return ZEDOUSB_ERR_DEVICE;
        }
        size_t nRead = 0;
        while (nRead < body.size()) {
            DWORD dwPiece = static_cast<DWORD>(std::min<size_t>(body.size() - nRead, 0x100000));
            DWORD dwGot = 0;
            if (!ReadFile(input.Get(), body.data() + nRead, dwPiece, &dwGot, nullptr) || dwGot == 0)
                break;
            nRead += dwGot;
        }
        if (nRead < body.size())
            return ZEDOUSB_ERR_DEVICE;
    }
    ZLOG("ZedoUSBLib_REBUILD_BINFILE", "QEN_DBG: RdBytes[%d]bytes, [%d]KB", static_cast<int>(body.size()),
         static_cast<int>(body.size() / 1024));

    unsigned long long ullSum = 0;
    for (BYTE b : body)
        ullSum += b;
    BYTE trailer[6] = {type.ucTrailer, static_cast<BYTE>(ullSum & 0xFF)};
    size_t nTrailer = 2;
    if (nAddCrc == 1) {
        DWORD dwCrc = Crc32(body.data(), body.size());
        ZLOG("ZedoUSBLib_REBUILD_BINFILE", "QEN_DBG: [%08x]", static_cast<unsigned>(dwCrc));
        for (int i = 0; i < 4; ++i)
            trailer[2 + i] = static_cast<BYTE>(dwCrc >> (8 * i));
        nTrailer = 6;
    }
    const BYTE header[2] = {static_cast<BYTE>(body.size() & 0xFF), static_cast<BYTE>((body.size() >> 8) & 0xFF)};

    // The image goes to a new file in the output's folder and replaces the output only once it
    // is whole, so a failed rebuild never costs the file that was there (an earlier image, or
    // the input itself when the output names it).
    std::string temporary;
    HANDLE hTemporary = CreateTemporaryBeside(pszOutput, &temporary);
    if (hTemporary == INVALID_HANDLE_VALUE)
        return ZEDOUSB_ERR_DEVICE;
    bool bOk;
    {
        CFileHandle output(hTemporary);
        bOk = WriteAll(output.Get(), header, sizeof(header)) && WriteAll(output.Get(), body.data(), body.size()) &&
              WriteAll(output.Get(), trailer, nTrailer) && FlushFileBuffers(output.Get());
        bOk = output.Close() && bOk;
    }
    bOk = bOk && MoveFileExA(temporary.c_str(), pszOutput, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!bOk) {
        ZLOG("ZedoUSBLib_REBUILD_BINFILE", "QEN_DBG: %s not written, dwErrorCode : %lu", pszOutput, GetLastError());
        DeleteFileA(temporary.c_str());
        return ZEDOUSB_ERR_DEVICE;
    }
    const size_t nWritten = sizeof(header) + body.size() + nTrailer;
    ZLOG("ZedoUSBLib_REBUILD_BINFILE", "QEN_DBG: WrBytes[%d]bytes, [%d]KB", static_cast<int>(nWritten),
         static_cast<int>(nWritten / 1024));
    return 0;
}
