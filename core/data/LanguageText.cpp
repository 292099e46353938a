#include "LanguageText.h"

#include "XmlDocument.h"

#include <commctrl.h>
#include <cwctype>

CXmlDocument* g_pLanguageDoc = nullptr;
int g_bLanguageLoaded = 0;

int LoadLanguageFile(const wchar_t* pszPath)
{
    if (!g_pLanguageDoc)
        return 0;
    if (pszPath && *pszPath && g_pLanguageDoc->LoadFile(pszPath))
        return 1;
    // A table that is not well-formed stays navigable inside the document; empty it so that a
    // caller asking for a key anyway gets nothing rather than texts of a damaged file.
    g_pLanguageDoc->SetDocText(nullptr);
    return 0;
}

CString GetLanguageText(const wchar_t* pszKey)
{
    // A null name would match any element; an empty one is no key.
    if (!g_pLanguageDoc || !pszKey || !*pszKey)
        return CString();
    g_pLanguageDoc->ResetPosition();
    if (!g_pLanguageDoc->FindChildElement(pszKey))
        return CString();
    return g_pLanguageDoc->GetChildData();
}

CString GetLanguageTextOr(const wchar_t* pszKey, const wchar_t* pszEnglish)
{
    if (g_bLanguageLoaded) {
        CString strText = GetLanguageText(pszKey);
        // A table that misses a key (one added to the program after the table was made) or
        // leaves it blank must not turn a caption or a message into an empty box.
        for (int i = 0; i < strText.GetLength(); ++i) {
            if (!iswspace(strText[i]))
                return strText;
        }
    }
    return CString(pszEnglish);
}

CString LanguageTablePath(const CString& strAppDir, const CString& strLanguageId)
{
    CString strPath(strAppDir);
    if (!strPath.IsEmpty() && strPath[strPath.GetLength() - 1] != L'\\')
        strPath += L'\\';
    return strPath + L"Language\\" + strLanguageId + L".xml";
}

namespace {

// The tool is the window itself (tool id 0 in the class library's terms): the tip belongs to
// the tool's parent, is keyed by the tool's handle and follows the mouse over it by subclassing.
void FillToolInfo(TOOLINFOW& ti, HWND hTool, const wchar_t* pszText)
{
    ZeroMemory(&ti, sizeof(ti));
    // The older record size is understood by every version of the common controls.
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = ::GetParent(hTool);
    ti.uId = reinterpret_cast<UINT_PTR>(hTool);
    ti.lpszText = const_cast<wchar_t*>(pszText ? pszText : L"");
}

} // namespace

BOOL InitToolTip(HWND& hToolTip, HWND hParent, HWND hTool, const wchar_t* pszText, DWORD dwStyle)
{
    if (!hToolTip) {
        hToolTip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | dwStyle,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     hParent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (!hToolTip)
            return FALSE;
    }
    ::SendMessageW(hToolTip, TTM_ACTIVATE, TRUE, 0);
    ::SendMessageW(hToolTip, TTM_SETTIPBKCOLOR, RGB(255, 255, 255), 0);
    ::SendMessageW(hToolTip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, MAKELPARAM(500, 0));
    if (!hTool)
        return FALSE;
    TOOLINFOW ti;
    FillToolInfo(ti, hTool, pszText);
    return ::SendMessageW(hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) ? TRUE : FALSE;
}

BOOL UpdateToolTipText(HWND hToolTip, HWND hTool, const wchar_t* pszText)
{
    if (!hToolTip || !hTool)
        return FALSE;
    TOOLINFOW ti;
    FillToolInfo(ti, hTool, pszText);
    TOOLINFOW held;
    FillToolInfo(held, hTool, nullptr);
    held.lpszText = nullptr;   // asks whether the tool is there, not for its text
    if (::SendMessageW(hToolTip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&held))) {
        ::SendMessageW(hToolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
        return TRUE;
    }
    return ::SendMessageW(hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) ? TRUE : FALSE;
}
