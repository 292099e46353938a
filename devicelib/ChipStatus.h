#pragma once
#include <windows.h>

class CZedoUSBDev;

// Chip class from the identification register 0xC8FF: 0, 1, 2, 255, or -1 when it cannot be read.
// With bReport a failed read is shown to the user.
int GetChipClass(CZedoUSBDev* pDev, HANDLE hDevice, bool bReport);
// Class from an identification byte.
int ChipClassFromId(BYTE ucId);
// Chip type (the firmware-image code) from an identification byte: 0, 2, 3, 4 or 255.
int ChipTypeFromId(BYTE ucId);
