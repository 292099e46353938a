#pragma once
// Small stateless helpers shared by the windows and the copy engine.

#include "afxstr.h"
#include "atlimage.h"

// Loads the resource of type "PNG" with the given id from the program into the image.
// False (image untouched) when there is no such resource or it does not decode.
bool LoadPngResource(UINT nID, CImage& image);
// Same, from a given module (the program itself when hModule is null).
bool LoadPngResource(HMODULE hModule, UINT nID, CImage& image);

// Multiplies blue, green and red of every pixel of a 32-bit image by its alpha,
// rounding to nearest; alpha itself is kept. Other depths are left as they are.
void PremultiplyAlpha(CImage& image);

// The system's text for an error code; "Fail(<code>)" when the system has none.
CString FormatSystemError(DWORD dwError);

// "windows", "program files" or "documents and settings", in any letter case.
bool IsSystemFolderName(const CString& strName);

// Decimal digits to a number. The callers only pass digit strings they wrote themselves,
// so characters are not checked.
void ParseDecimal(const CString& strText, int& nValue);

// The text without blanks (code 32), at most 127 characters.
CString RemoveSpaces(const CString& strText);

// "hh:mm" to hour and minute; a text without ":" is an hour alone.
void ParseHourMinute(const CString& strText, int& nHour, int& nMinute);
