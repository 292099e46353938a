#include "settings_test_util.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "SetDialog.h"
#include "XmlDocument.h"
#include "res_settings.h"

BEGIN_MESSAGE_MAP(CTestMainWnd, CWnd)
    ON_WM_HOTKEY()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

BOOL CTestMainWnd::CreateMain(int x, int y, int w, int h)
{
    if (!CreateEx(0, nullptr, L"main", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, CRect(x, y, x + w, y + h), nullptr, 0))
        return FALSE;
    ::SetForegroundWindow(m_hWnd);
    UpdateWindow();
    return TRUE;
}

void CTestMainWnd::OnHotKey(UINT nID, UINT, UINT)
{
    if (nID == ID_BACKUP_HOTKEY)
        ++m_nHotKeys;
}

BOOL CTestMainWnd::OnEraseBkgnd(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    pDC->FillSolidRect(&rc, RGB(230, 230, 230));
    return TRUE;
}

void CRecordingHost::ApplyLanguage(const CString& strLanguageId)
{
    m_languages.push_back(strLanguageId);
    g_bLanguageLoaded = LoadLanguageFile(LanguageTablePath(g_strAppDir, strLanguageId));
    if (m_pPage)
        m_pPage->ReloadLanguageText();
}

namespace {
void CopyFolder(const CString& strFrom, const CString& strTo)
{
    langtest::MakeFolder(strTo);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(strFrom + L"\\*.xml", &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        ::CopyFileW(strFrom + L"\\" + fd.cFileName, strTo + L"\\" + fd.cFileName, FALSE);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

CString ProgramFolder()
{
    wchar_t sz[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, sz, MAX_PATH);
    CString s(sz);
    return s.Left(s.ReverseFind(L'\\'));
}
} // namespace

SettingsEnv::SettingsEnv()
{
    m_strApp = m_root.Dir();
    CopyFolder(ProgramFolder() + L"\\Language", m_strApp + L"Language");
    langtest::MakeFolder(m_strApp + L"user");
    g_strAppDir = m_strApp;
    g_strUserName = L"user";
    CXmlDocument doc;
    WriteDefaultSettings(doc, m_strApp + L"user");
    WriteLanguageSelect(m_strApp, 0x0409);
    if (!g_pLanguageDoc)
        g_pLanguageDoc = new CXmlDocument;
    g_bLanguageLoaded = 0;
    m_main.CreateMain(40, 40, 600, 340);
    m_host.m_pMain = &m_main;
    SetSettingsHost(&m_host);
}

SettingsEnv::~SettingsEnv()
{
    SetSettingsHost(nullptr);
    g_bLanguageLoaded = 0;
    ::UnregisterHotKey(m_main.m_hWnd, ID_BACKUP_HOTKEY);
    m_main.DestroyWindow();
    g_strAppDir.Empty();
    g_strUserName.Empty();
}

CString SettingsEnv::SettingsPath() const { return m_strApp + L"user\\init.xml"; }

std::string SettingsEnv::SettingsBytes() const { return langtest::ReadBytes(SettingsPath()); }

void SettingsEnv::WriteSettingsBytes(const std::string& bytes) const
{
    langtest::WriteBytes(SettingsPath(), bytes);
}

CString SettingsEnv::Stored(const wchar_t* pszName) const
{
    CXmlDocument doc;
    if (!doc.LoadFile(SettingsPath()))
        return L"<unloadable>";
    doc.ResetPosition();
    if (!doc.FindChildElement(pszName))
        return L"<missing>";
    return doc.GetChildData();
}

CString SettingsEnv::StoredAttribute(const wchar_t* pszName, const wchar_t* pszAttr) const
{
    CXmlDocument doc;
    if (!doc.LoadFile(SettingsPath()))
        return L"<unloadable>";
    doc.ResetPosition();
    if (!doc.FindChildElement(pszName))
        return L"<missing>";
    return doc.GetChildAttribute(pszAttr);
}

FILETIME SettingsEnv::SettingsWriteTime() const
{
    WIN32_FILE_ATTRIBUTE_DATA fad = {};
    ::GetFileAttributesExW(SettingsPath(), GetFileExInfoStandard, &fad);
    return fad.ftLastWriteTime;
}

namespace {
std::function<void(HWND)> g_script;
HWND g_hScripted = nullptr;
UINT_PTR g_nScriptTimer = 0;

BOOL CALLBACK FindPopup(HWND hWnd, LPARAM lParam)
{
    wchar_t cls[32] = {};
    ::GetClassNameW(hWnd, cls, 32);
    if (wcscmp(cls, L"#32770") == 0 && ::IsWindowVisible(hWnd) && !(::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD)) {
        *(HWND*)lParam = hWnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND hPopup = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindPopup, (LPARAM)&hPopup);
    if (!hPopup || !g_script)
        return;
    ::KillTimer(nullptr, g_nScriptTimer);
    g_nScriptTimer = 0;
    g_hScripted = hPopup;
    auto script = std::move(g_script);
    g_script = nullptr;
    script(hPopup);
}
} // namespace

void ScriptNextPopup(std::function<void(HWND)> script)
{
    g_script = std::move(script);
    g_hScripted = nullptr;
    if (!g_nScriptTimer)
        g_nScriptTimer = ::SetTimer(nullptr, 0, 30, ScriptTimer);
}

HWND LastScriptedPopup() { return g_hScripted; }

void Click(HWND hButton)
{
    ::SendMessageW(::GetParent(hButton), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hButton), BN_CLICKED),
                   (LPARAM)hButton);
}

void PostKey(HWND hWnd, UINT vk)
{
    ::PostMessageW(hWnd, WM_KEYDOWN, vk, 1);
    ::PostMessageW(hWnd, WM_KEYUP, vk, 0xC0000001);
}
