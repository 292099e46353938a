#pragma once
// The library's program-wide objects.
#include "ZedoUSBLib.h"

// The library singleton: made by ZedoUSBLib_Load, deleted by ZedoUSBLib_Unload, null otherwise.
extern CZedoUSBLib* g_pUSBLib;

// Operating-system code from a version record: 1, 2 (9x), 16 (NT 5.0), 32 (NT 5.1 and later), else 0.
int OSVersionTypeFrom(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor);
int GetOSVersionType();
