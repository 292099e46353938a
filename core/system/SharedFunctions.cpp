#include "SharedFunctions.h"

#include <objbase.h>

bool LoadPngResource(HMODULE hModule, UINT nID, CImage& image)
{
    if (!hModule)
        hModule = GetModuleHandleW(nullptr);
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(nID), L"PNG");
    if (!hRes)
        return false;
    DWORD size = SizeofResource(hModule, hRes);
    HGLOBAL hLoaded = LoadResource(hModule, hRes);
    const void* pData = hLoaded ? LockResource(hLoaded) : nullptr;
    if (!pData || size == 0)
        return false;
    // The stream needs a movable block of its own; it frees the block when released.
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!hMem)
        return false;
    void* p = GlobalLock(hMem);
    if (!p) {
        GlobalFree(hMem);
        return false;
    }
    memcpy(p, pData, size);
    GlobalUnlock(hMem);
    IStream* pStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(hMem, TRUE, &pStream))) {
        GlobalFree(hMem);
        return false;
    }
    // Decode into a scratch image so that a failure leaves the caller's image as it was.
    CImage decoded;
    bool ok = SUCCEEDED(decoded.Load(pStream));
    pStream->Release();
    if (!ok)
        return false;
    image.Destroy();
    if (!image.Create(decoded.GetWidth(), -decoded.GetHeight(), 32, CImage::createAlphaChannel))
        return false;
    for (int y = 0; y < decoded.GetHeight(); ++y)
        memcpy(image.GetPixelAddress(0, y), decoded.GetPixelAddress(0, y),
               static_cast<size_t>(decoded.GetWidth()) * 4);
    return true;
}

bool LoadPngResource(UINT nID, CImage& image)
{
    return LoadPngResource(nullptr, nID, image);
}

void PremultiplyAlpha(CImage& image)
{
    if (image.IsNull() || image.GetBPP() != 32)
        return;
    for (int y = 0; y < image.GetHeight(); ++y) {
        BYTE* p = static_cast<BYTE*>(image.GetPixelAddress(0, y));
        for (int x = 0; x < image.GetWidth(); ++x, p += 4) {
            unsigned a = p[3];
            p[0] = static_cast<BYTE>((p[0] * a + 127) / 255);
            p[1] = static_cast<BYTE>((p[1] * a + 127) / 255);
            p[2] = static_cast<BYTE>((p[2] * a + 127) / 255);
        }
    }
}

CString FormatSystemError(DWORD dwError)
{
    char* pBuf = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<char*>(&pBuf), 0, nullptr);
    CString str;
    if (n && pBuf)
        str = CString(pBuf, static_cast<int>(n));
    if (pBuf)
        LocalFree(pBuf);
    // The system ends its texts with a line break, which would show as junk in a one-line list.
    str.TrimRight(L"\r\n ");
    if (str.IsEmpty())
        str.Format(L"Fail(%d)", static_cast<int>(dwError));
    return str;
}

bool IsSystemFolderName(const CString& strName)
{
    CString s(strName);
    s.MakeLower();
    return s == L"windows" || s == L"program files" || s == L"documents and settings";
}

void ParseDecimal(const CString& strText, int& nValue)
{
    // Unsigned arithmetic: an overlong text wraps instead of being undefined.
    unsigned v = 0;
    for (int i = 0; i < strText.GetLength(); ++i)
        v = v * 10u + static_cast<unsigned>(strText[i] - L'0');
    nValue = static_cast<int>(v);
}

CString RemoveSpaces(const CString& strText)
{
    CString s;
    for (int i = 0; i < strText.GetLength() && s.GetLength() < 127; ++i)
        if (strText[i] != L' ')
            s += strText[i];
    return s;
}

void ParseHourMinute(const CString& strText, int& nHour, int& nMinute)
{
    unsigned h = 0, m = 0;
    bool afterColon = false;
    for (int i = 0; i < strText.GetLength(); ++i) {
        wchar_t c = strText[i];
        if (c == L':') {
            afterColon = true;
            continue;
        }
        if (afterColon)
            m = m * 10u + static_cast<unsigned>(c - L'0');
        else
            h = h * 10u + static_cast<unsigned>(c - L'0');
    }
    nHour = static_cast<int>(h);
    nMinute = static_cast<int>(m);
}
