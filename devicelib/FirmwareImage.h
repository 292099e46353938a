#pragma once
// Rebuilding a raw bridge firmware file into the image the firmware EEPROM takes: a length word,
// the body, a trailer byte chosen by the chip type, a checksum byte and, on request, a CRC-32.
#include <windows.h>

// The chip type and trailer byte for the type digit of an input path (the character 12 places
// from the end, read as hex, low three bits; a path shorter than 19 characters gives 0).
struct FirmwareImageType {
    int nDigit;       // digit AND 7
    int nChipType;    // ZedoUSBLib_bGetChipType code
    BYTE ucTrailer;
};
FirmwareImageType FirmwareTypeFromPath(const char* pszPath);

void BuildCrc32Table(DWORD table[256]);
DWORD ReflectBits(DWORD dwValue, int nBits);
DWORD Crc32Update(const DWORD table[256], DWORD dwCrc, const BYTE* pData, size_t nLength);
// The CRC-32 of IEEE 802.3 over the bytes.
DWORD Crc32(const BYTE* pData, size_t nLength);

// 0 written; -1 input not read whole, no memory, or the output not created or not written;
// -3 a path is null; -4 the input cannot be opened; -5 the name's chip type differs from nChipType;
// -7 the input holds 65,536 bytes or more, more than the image's 16-bit length word can say.
// The image is written to a new file beside the output and put in the output's place only when
// it is whole: on any failure a file that was there before (the input too) stays as it was.
// The input is read whole before anything is written, so the output may name it.
// The largest body the image's 16-bit length word can describe.
const DWORD kFirmwareBodyMax = 0xFFFF;

int RebuildFirmwareImage(const char* pszInput, const char* pszOutput, int nAddCrc, int nChipType);
