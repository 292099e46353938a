#include "Sample.h"

#include <vector>

CString Caption(const wchar_t* pszKey)
{
    return GetLanguageTextOr(pszKey, L"(caption)");
}

// A wrapper of a wrapper, with the key in second place.
void SetCaption(HWND hWnd, LPCWSTR pszName)
{
    ::SetWindowTextW(hWnd, Caption(pszName));
}

// Not a wrapper: a parameter of the same name that goes no further than the log.
void Log(const wchar_t* pszKey)
{
    OutputDebugStringW(pszKey);
}

CString Plain(const wchar_t* pszKey)
{
    return GetLanguageText(pszKey);
}

void Show(HWND hWnd, CSamplePage& page, const std::vector<const wchar_t*>& keys)
{
    CString a = GetLanguageText (L"SampleSpaced");
    CString b = GetLanguageTextOr
        (L"SampleSpacedOr", L"Spaced, on a line of its own");
    SetCaption(hWnd, L"SampleDeep");
    CString c = Caption(L"SampleWrapped");
    CString d = page.Title (7, L"SampleMember");
    CString e = Plain(L"SamplePlain");
    Log(L"SampleNotAKey");
    // GetLanguageText(L"SampleInLineComment")
    /* GetLanguageTextOr (L"SampleInBlockComment", L"x"); */
    CString f = Caption(L"SampleBeforeComment");   // Caption(L"SampleInTrailingComment")
    for (const wchar_t* key : keys)
        Log(GetLanguageTextOr(key, L"unknown"));
    auto lambda = [](const wchar_t* k) { return Caption(k); };
    (void)lambda;
}
