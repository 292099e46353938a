#pragma once
// Helpers of the device scan.
#include <windows.h>

// The letters D to Z of the volumes whose (single) extent lies on the disk, zero-terminated, at most 15.
void vGetDriveLetters(DWORD dwDeviceNumber, char szLetters[16]);
// The device path of the index-th present interface of a class; false and an empty path when none.
bool GetDevicePathByGUID(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars);
