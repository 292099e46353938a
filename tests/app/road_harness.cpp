#include "road_harness.h"

#include "ButtonWatch.h"
#include "DataFiles.h"
#include "PanelPages.h"
#include "ProgramWide.h"
#include "SelectionFiles.h"
#include "SettingsStore.h"
#include "XmlDocument.h"
#include "resource.h"

#include <algorithm>

namespace road {

// ---------------------------------------------------------------------------------------
// Drive letter of the prefix
// ---------------------------------------------------------------------------------------

namespace {

typedef char*(CDECL* UnixFileNameFn)(const wchar_t*);

std::string Quote(const std::string& s)
{
    return "\"" + s + "\"";
}

}  // namespace

bool CPrefixDrive::RunUnix(const char* pszProgram, const std::string& args)
{
    // The unix root is drive Z: in every prefix; the loader starts unix programs as they are.
    std::string strApp = std::string("Z:") + pszProgram;
    std::replace(strApp.begin(), strApp.end(), '/', '\\');
    std::string strCmd = std::string(pszProgram) + " " + args;
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(strApp.c_str(), &strCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    bool bOk = ::WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0;
    DWORD dwCode = 1;
    ::GetExitCodeProcess(pi.hProcess, &dwCode);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return bOk && dwCode == 0;
}

CPrefixDrive::CPrefixDrive(const CString& strFolder)
{
    char szPrefix[1024] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", szPrefix, sizeof szPrefix)) {
        m_strError = L"WINEPREFIX is not set";
        return;
    }
    auto pUnixName = reinterpret_cast<UnixFileNameFn>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!pUnixName) {
        m_strError = L"not running under Wine";
        return;
    }
    char* pszUnix = pUnixName(strFolder);
    if (!pszUnix) {
        m_strError = L"the folder has no unix name";
        return;
    }
    std::string strTarget = pszUnix;
    ::HeapFree(::GetProcessHeap(), 0, pszUnix);

    DWORD dwUsed = ::GetLogicalDrives();
    for (wchar_t ch = L'Y'; ch >= L'M' && !m_chLetter; --ch) {
        wchar_t szRoot[] = {ch, L':', L'\\', 0};
        if ((dwUsed & (1u << (ch - L'A'))) || ::GetFileAttributesW(szRoot) != INVALID_FILE_ATTRIBUTES)
            continue;
        std::string strLink = std::string(szPrefix) + "/dosdevices/" + char(ch - L'A' + 'a') + ":";
        // -f replaces a link that a test which did not end left behind.
        RunUnix("/bin/ln", "-sfn " + Quote(strTarget) + " " + Quote(strLink));
        // A unix program started this way may still be running when the wait returns.
        bool bReached = false;
        for (int nTry = 0; nTry < 100 && !bReached; ++nTry) {
            bReached = ::GetFileAttributesW(szRoot) != INVALID_FILE_ATTRIBUTES;
            if (!bReached)
                ::Sleep(30);
        }
        if (!bReached) {
            RunUnix("/bin/rm", "-f " + Quote(strLink));
            continue;
        }
        CString strDevice;
        strDevice.Format(L"%lc:", ch);
        CString strNt = L"\\??\\" + strFolder;
        if (!::DefineDosDeviceW(DDD_RAW_TARGET_PATH, strDevice, strNt)) {
            RunUnix("/bin/rm", "-f " + Quote(strLink));
            continue;
        }
        m_chLetter = ch;
        m_strLink = strLink;
    }
    if (!m_chLetter && m_strError.IsEmpty())
        m_strError = L"no drive letter could be mapped";
}

CPrefixDrive::~CPrefixDrive()
{
    if (!m_chLetter)
        return;
    ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH, Drive(), nullptr);
    RunUnix("/bin/rm", "-f " + Quote(m_strLink));
}

CString CPrefixDrive::Drive() const
{
    CString s;
    s.Format(L"%lc:", m_chLetter);
    return s;
}

CString CPrefixDrive::Root() const
{
    return Drive() + L"\\";
}

// ---------------------------------------------------------------------------------------
// System
// ---------------------------------------------------------------------------------------

void CRecordingSystem::GetLocalTime(SYSTEMTIME* pst)
{
    if (m_bClockSet)
        *pst = m_clock;
    else
        ::GetLocalTime(pst);
}

void CRecordingSystem::SetClock(WORD wYear, WORD wMonth, WORD wDay, WORD wDayOfWeek, WORD wHour, WORD wMinute)
{
    m_clock = {};
    m_clock.wYear = wYear;
    m_clock.wMonth = wMonth;
    m_clock.wDay = wDay;
    m_clock.wDayOfWeek = wDayOfWeek;
    m_clock.wHour = wHour;
    m_clock.wMinute = wMinute;
    m_bClockSet = true;
}

// ---------------------------------------------------------------------------------------
// Prompts
// ---------------------------------------------------------------------------------------

CPromptHand* CPromptHand::s_pCurrent = nullptr;

namespace {

// The first shown prompt of the thread that the hand has not met yet. A prompt that was met
// and is still on the screen (answered, or closing while the next one opens) is passed over,
// so that it is neither met twice nor hides the new one.
struct PromptSearch {
    const std::vector<HWND>* pMet;
    HWND hFound;
};

BOOL CALLBACK FindPrompt(HWND hWnd, LPARAM lParam)
{
    PromptSearch* pSearch = reinterpret_cast<PromptSearch*>(lParam);
    if (!::IsWindowVisible(hWnd) || !::GetDlgItem(hWnd, IDC_MAKESURE_OK) || !::GetDlgItem(hWnd, IDC_MAKESURE_MESSAGE))
        return TRUE;
    for (HWND hMet : *pSearch->pMet)
        if (hMet == hWnd)
            return TRUE;
    pSearch->hFound = hWnd;
    return FALSE;
}

void CALLBACK HandTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (CPromptHand::s_pCurrent)
        CPromptHand::s_pCurrent->Tick();
}

CString ItemText(HWND hWnd, UINT nId)
{
    wchar_t sz[512] = {};
    ::GetDlgItemTextW(hWnd, nId, sz, 512);
    return sz;
}

}  // namespace

CPromptHand::CPromptHand()
{
    s_pCurrent = this;
    m_nTimer = ::SetTimer(nullptr, 0, 15, HandTimer);
}

CPromptHand::~CPromptHand()
{
    ::KillTimer(nullptr, m_nTimer);
    s_pCurrent = nullptr;
}

void CPromptHand::Tick()
{
    // Windows met that are gone are forgotten: their handles may come back.
    m_met.erase(std::remove_if(m_met.begin(), m_met.end(), [](HWND h) { return !::IsWindow(h); }), m_met.end());
    PromptSearch search = {&m_met, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindPrompt, reinterpret_cast<LPARAM>(&search));
    HWND hPrompt = search.hFound;
    if (m_hLeft && (!::IsWindow(m_hLeft) || !::IsWindowVisible(m_hLeft)))
        m_hLeft = nullptr;
    if (m_hLeft && whileOpen && !seen.empty())
        whileOpen(seen.back(), ::GetTickCount() - m_dwLeftAt);
    if (!hPrompt)
        return;
    m_met.push_back(hPrompt);
    Seen s;
    s.heading = ItemText(hPrompt, IDC_MAKESURE_HEADING);
    s.message = ItemText(hPrompt, IDC_MAKESURE_MESSAGE);
    s.bCountDown = false;
    s.hWnd = hPrompt;
    // The countdown is drawn by the prompt itself; its timer is what tells it apart.
    if (CWnd* p = CWnd::FromHandlePermanent(hPrompt))
        if (CMakeSureDlg* pDlg = dynamic_cast<CMakeSureDlg*>(p))
            s.bCountDown = pDlg->m_bCountDown != 0;
    seen.push_back(s);
    Answer a = script ? script(s) : OK;
    if (a == LEAVE) {
        m_hLeft = hPrompt;
        m_dwLeftAt = ::GetTickCount();
        return;
    }
    Press(hPrompt, a == OK ? IDC_MAKESURE_OK : IDC_MAKESURE_CANCEL);
}

void CPromptHand::Press(HWND hPrompt, UINT nId)
{
    ::PostMessageW(hPrompt, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)::GetDlgItem(hPrompt, nId));
}

HWND CPromptHand::OpenPrompt() const
{
    return m_hLeft && ::IsWindow(m_hLeft) && ::IsWindowVisible(m_hLeft) ? m_hLeft : nullptr;
}

bool CPromptHand::Saw(const CString& strMessage) const
{
    for (const Seen& s : seen)
        if (s.message == strMessage)
            return true;
    return false;
}

void RunCountDown(HWND hPrompt)
{
    CMakeSureDlg* pDlg = dynamic_cast<CMakeSureDlg*>(CWnd::FromHandlePermanent(hPrompt));
    if (!pDlg)
        return;
    for (int n = 0; n < 40 && ::IsWindow(hPrompt) && ::IsWindowVisible(hPrompt) && pDlg->m_nCountDown > 0; ++n)
        ::SendMessageW(hPrompt, WM_TIMER, (WPARAM)pDlg->m_nTimer, 0);
}

// ---------------------------------------------------------------------------------------
// Trees
// ---------------------------------------------------------------------------------------

CBackUpTreeCtrl* SourceTree()
{
    return CBackUpTreeCtrl::FromTreeWnd(g_hSourceTreeWnd);
}

CUsbTreeCtrl* DestTree()
{
    return dynamic_cast<CUsbTreeCtrl*>(CBackUpTreeCtrl::FromTreeWnd(g_hDestTreeWnd));
}

CString DestinationText()
{
    if (!g_hDestComboWnd || !::IsWindow(g_hDestComboWnd))
        return CString();
    wchar_t sz[64] = {};
    ::GetWindowTextW(g_hDestComboWnd, sz, 64);
    return sz;
}

bool CheckSourcePath(const CString& strPath)
{
    CBackUpTreeCtrl* pTree = SourceTree();
    if (!pTree || !pTree->m_hRootItem)
        return false;
    pTree->Expand(pTree->m_hRootItem, TVE_EXPAND);
    CString strRoot = strPath.Left(3);
    HTREEITEM hDrive = pTree->FindListedItem(strRoot);
    HTREEITEM h = OpenTreePath(*pTree, hDrive, strRoot, strPath);
    return h && pTree->ClickStateIcon(h) == 1;
}

bool CheckDestPath(const CString& strPath)
{
    CUsbTreeCtrl* pTree = DestTree();
    if (!pTree)
        return false;
    HTREEITEM h = OpenTreePath(*pTree, pTree->GetDriveRootItem(), strPath.Left(3), strPath);
    return h && pTree->ClickStateIcon(h) == 1;
}

bool CheckDiskItem(CBackUpTreeCtrl& tree, int nDeviceNumber)
{
    for (HTREEITEM h = tree.GetRootItem(); h; h = tree.GetNextSiblingItem(h)) {
        if (tree.GetItemData(h) == (DWORD_PTR)(nDeviceNumber + 3))
            return tree.ClickStateIcon(h) == 1;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------

namespace {

void ListInto(const CString& strRoot, const CString& strRel, std::vector<std::pair<CString, ULONGLONG>>& out)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(strRoot + strRel + L"\\*", &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L".."))
            continue;
        CString strName = strRel + L"\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(strRoot, strName, out);
        else
            out.push_back({strName.Mid(1), (ULONGLONG(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

}  // namespace

std::vector<std::pair<CString, ULONGLONG>> ListFiles(const CString& strRoot)
{
    std::vector<std::pair<CString, ULONGLONG>> out;
    CString strBase(strRoot);
    if (strBase.Right(1) == L"\\")
        strBase = strBase.Left(strBase.GetLength() - 1);
    ListInto(strBase, CString(), out);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first.Compare(b.first) < 0; });
    return out;
}

CString StorePath(const CString& strDrive, const CString& strSource)
{
    CString strRest(strSource);
    strRest.Delete(1);   // "C:\dir" -> "C\dir"
    return strDrive.Left(2) + L"\\VEZORI\\" + strRest;
}

// ---------------------------------------------------------------------------------------
// Scene
// ---------------------------------------------------------------------------------------

namespace {

CString InterfacePath(int n)
{
    CString s;
    s.Format(L"\\\\?\\usbstor#disk&ven_zedo&prod_road#%04d#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", n);
    return s;
}

}  // namespace

CRoadScene::CRoadScene()
{
    wchar_t szDir[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szDir);
    m_strStartDir = szDir;
    strApp = root.Dir() + L"app\\";
    strData = strApp + L"user";
    strSource = root / L"src";
    strTargetFolder = root / L"disk";
    langtest::MakeFolder(strApp);
    langtest::MakeFolder(strData);
    langtest::MakeFolder(strSource);
    langtest::MakeFolder(strTargetFolder);
    g_strAppDir = strApp;
    g_strUserName = L"user";
    CXmlDocument settings;
    WriteDefaultSettings(settings, strData);

    drive = std::make_unique<CPrefixDrive>(strTargetFolder);

    // The bridge disk that carries the mapped volume, and a spare one without a volume.
    FakeDiskConfig d;
    d.strDevicePath = InterfacePath(kDiskNumber);
    d.strImagePath = root / L"disk5.img";
    d.nDeviceNumber = kDiskNumber;
    d.vendor = "ZEDO";
    d.product = "Road Disk";
    if (drive->IsMapped())
        d.volumes = std::wstring(1, drive->Letter());
    WritePatternImage(d.strImagePath, 2 * 1024 * 1024, kDiskNumber);
    disks.AddDisk(d);
    FakeDiskConfig spare;
    spare.strDevicePath = InterfacePath(kSpareDiskNumber);
    spare.strImagePath = root / L"disk6.img";
    spare.nDeviceNumber = kSpareDiskNumber;
    spare.vendor = "ZEDO";
    spare.product = "Spare Disk";
    WritePatternImage(spare.strImagePath, 4 * 1024 * 1024, kSpareDiskNumber);
    disks.AddDisk(spare);

    enclosure = std::make_unique<CRoadEnclosure>(kDiskNumber);
    g_bBackupButtonPressed = 0;
}

CRoadScene::~CRoadScene()
{
    Close();
    StopButtonWatchAndClose();
    g_bBackupButtonPressed = 0;
    enclosure.reset();
    g_strAppDir.Empty();
    g_strUserName.Empty();
    // The program makes its folder the current one after every operation; leave it, or the
    // scene's folders could not be removed.
    ::SetCurrentDirectoryW(m_strStartDir);
}

bool CRoadScene::SetSetting(const wchar_t* pszName, const wchar_t* pszValue)
{
    return WriteSucceeded(SaveInitValueIn(strData, pszName, pszValue));
}

bool CRoadScene::Select(const std::vector<CString>& paths)
{
    CSelection sel;
    for (const CString& p : paths)
        sel.Check(p);
    return CSelectionFiles(strData).Write(sel);
}

void CRoadScene::MakeSourceFiles(int nCount, size_t nSize, const wchar_t* pszSub)
{
    CString strFolder = strSource;
    if (pszSub) {
        strFolder += CString(L"\\") + pszSub;
        langtest::MakeFolder(strFolder);
    }
    for (int i = 0; i < nCount; ++i) {
        CString strName;
        strName.Format(L"\\f%03d.txt", i);
        std::string bytes;
        bytes.reserve(nSize);
        // Text that packs well, with the file's number in it so no two files are alike.
        while (bytes.size() < nSize)
            bytes += "line " + std::to_string(i) + " of the road test, " + std::to_string(bytes.size()) + "\r\n";
        bytes.resize(nSize);
        langtest::WriteBytes(strFolder + strName, bytes);
    }
}

bool CRoadScene::Open()
{
    g_bDefaultsWritten = 0;
    CKelvariDlg::s_bShowSplash = false;
    InstallPanelPages();
    m_pMain = new CKelvariDlg;
    if (!m_pMain->Create(CKelvariDlg::IDD, nullptr)) {
        delete m_pMain;
        m_pMain = nullptr;
        return false;
    }
    if (CWinApp* pApp = AfxGetApp())
        pApp->m_pMainWnd = m_pMain;
    return true;
}

void CRoadScene::Close()
{
    if (!m_pMain)
        return;
    if (CWinApp* pApp = AfxGetApp())
        pApp->m_pMainWnd = nullptr;
    if (m_pMain->m_hWnd)
        m_pMain->DestroyWindow();
    delete m_pMain;
    m_pMain = nullptr;
}

void CRoadScene::PressButton()
{
    enclosure->Press();
}

void CRoadScene::ReleaseButton()
{
    enclosure->Release();
}

void CRoadScene::ClickButton()
{
    // The watcher polls every 300 ms: hold the button over two polls, pumping so that the
    // backup page's timer runs meanwhile.
    PressButton();
    Pump(750);
    ReleaseButton();
    Pump(400);
}

}  // namespace road
