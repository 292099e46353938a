#pragma once
// Sources that are never built: the language tests gather their keys as they gather the
// program's, to see that no way of asking for a key is missed and that nothing else is taken
// for one.
#include "LanguageText.h"

// Wrappers, declared here and defined in Sample.cpp: their declarations ask for no key.
CString Caption(const wchar_t* pszKey);
void SetCaption(HWND hWnd, LPCWSTR pszName);

class CSamplePage {
public:
    CString Title(UINT nId, const CString& strKey, LPCWSTR pszEnglish = L"Title, with a comma") const
    {
        return GetLanguageTextOr (strKey, pszEnglish);
    }
};
