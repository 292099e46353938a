#include "KelvariDlg.h"

#include "ButtonWatch.h"
#include "DataFiles.h"
#include "HelpCommand.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "SettingsStore.h"
#include "ShellIo.h"
#include "SingleInstance.h"
#include "SkinUtil.h"
#include "StartupData.h"
#include "TreeShared.h"
#include "USBDevice.h"

#include <shlobj.h>

bool CKelvariDlg::s_bShowSplash = true;

BEGIN_MESSAGE_MAP(CKelvariDlg, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_SIZE()
    ON_WM_QUERYDRAGICON()
    ON_WM_LBUTTONDOWN()
    ON_WM_MOUSEMOVE()
    ON_WM_LBUTTONUP()
    ON_WM_TIMER()
    ON_WM_DESTROY()
    ON_WM_DEVICECHANGE()
    ON_WM_HOTKEY()
    ON_MESSAGE(WM_SHELL_NOTIFY, OnShellNotify)
    ON_BN_CLICKED(IDC_MAIN_QUIT, OnBnClickedQuit)
    ON_COMMAND(ID_TRAY_QUIT, OnBnClickedQuit)
    ON_BN_CLICKED(IDC_MAIN_HELP, OnHelp)
    ON_COMMAND(ID_TRAY_HELP, OnHelp)
    ON_BN_CLICKED(IDC_MAIN_ABOUT, OnBnClickedAbout)
    ON_COMMAND(ID_TRAY_ABOUT, OnBnClickedAbout)
    ON_BN_CLICKED(IDC_MAIN_HIDE, OnBnClickedHide)
    ON_COMMAND(ID_TRAY_SHOW, OnTrayShow)
END_MESSAGE_MAP()

CString FolderPartOfPath(const CString& strPath)
{
    int pos = strPath.ReverseFind(L'\\');
    return pos < 0 ? CString() : strPath.Left(pos + 1);
}

IShellChangeSink* ShellChangeSinkOf(HWND hTree)
{
    if (!hTree || !::IsWindow(hTree))
        return nullptr;
    return dynamic_cast<IShellChangeSink*>(CWnd::FromHandlePermanent(hTree));
}

namespace {

// The four trees in the order the shell events visit them: both management trees, the source
// tree, the destination tree.
struct TreeSinks {
    IShellChangeSink* manage1 = ShellChangeSinkOf(g_hManageTreeWnd);
    IShellChangeSink* manage2 = ShellChangeSinkOf(g_hManageTree2Wnd);
    IShellChangeSink* source = ShellChangeSinkOf(g_hSourceTreeWnd);
    IShellChangeSink* dest = ShellChangeSinkOf(g_hDestTreeWnd);
    template <class F>
    void ForAll(F f)
    {
        for (IShellChangeSink* p : {manage1, manage2, source, dest}) {
            if (p)
                f(p);
        }
    }
};

CString PathFromIDList(LPCITEMIDLIST pidl)
{
    if (!pidl)
        return CString();
    wchar_t buf[MAX_PATH + 1] = {};
    if (!ShellIo().PathFromIDList(pidl, buf))
        return CString();
    return CString(buf);
}

// True when the n bytes at p lie in committed memory that this process may read.
bool IsReadable(const void* p, size_t n)
{
    const BYTE* pByte = static_cast<const BYTE*>(p);
    const BYTE* pEnd = pByte + n;
    while (pByte < pEnd) {
        MEMORY_BASIC_INFORMATION mbi = {};
        if (!::VirtualQuery(pByte, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT)
            return false;
        const DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (!(mbi.Protect & kReadable) || (mbi.Protect & PAGE_GUARD))
            return false;
        pByte = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return true;
}

// The path of an item-identifier list that the shell handed over, or empty text when there is
// none or the list does not lie whole in readable memory.
CString CheckedPathFromIDList(LPCITEMIDLIST pidl)
{
    if (!pidl)
        return CString();
    // An item list longer than this is no event's.
    const size_t kMaxListBytes = 64 * 1024;
    const BYTE* p = reinterpret_cast<const BYTE*>(pidl);
    size_t nOffset = 0;
    for (;;) {
        USHORT cb = 0;
        if (nOffset + sizeof(cb) > kMaxListBytes || !IsReadable(p + nOffset, sizeof(cb)))
            return CString();
        memcpy(&cb, p + nOffset, sizeof(cb));
        if (cb == 0)
            break;
        if (cb < sizeof(cb) || !IsReadable(p + nOffset, cb))
            return CString();
        nOffset += cb;
    }
    return PathFromIDList(pidl);
}

bool IsBridgeDiskDrive(const CString& strDrive)
{
    for (int i = 0; i < g_arrUSBDevice.GetSize(); ++i) {
        CString letters = g_arrUSBDevice[i].GetDriveLetters();
        if (!letters.IsEmpty() && letters.Find(strDrive) >= 0)
            return true;
    }
    return false;
}

HICON LoadIconSized(UINT nID, int cx)
{
    return (HICON)::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nID), IMAGE_ICON, cx, cx, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------------------

CKelvariDlg::CKelvariDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    if (!g_pLanguageDoc)
        g_pLanguageDoc = new CXmlDocument;
    if (!g_pLanguageListDoc)
        g_pLanguageListDoc = new CXmlDocument;
    if (s_bShowSplash)
        m_splash.Start();
    LoadProgramData(m_docSettings);
    m_hIcon = LoadIconSized(IDI_APP, ::GetSystemMetrics(SM_CXICON));
    m_hSmallIcon = LoadIconSized(IDI_APP, ::GetSystemMetrics(SM_CXSMICON));
}

CKelvariDlg::~CKelvariDlg()
{
    if (GetSettingsHost() == this)
        SetSettingsHost(nullptr);
    if (m_pPageBox) {
        m_pPageBox->DestroyWindow();
        delete m_pPageBox;
        m_pPageBox = nullptr;
    }
    for (CButtonST* p : {&m_btnQuit, &m_btnHelp, &m_btnAbout, &m_btnHide})
        p->DestroyWindow();
    m_splash.Close();
    delete g_pLanguageDoc;
    g_pLanguageDoc = nullptr;
    g_bLanguageLoaded = 0;
    delete g_pLanguageListDoc;
    g_pLanguageListDoc = nullptr;
    if (g_hStateImageList) {
        ImageList_Destroy(g_hStateImageList);
        g_hStateImageList = nullptr;
    }
    if (m_hIcon)
        ::DestroyIcon(m_hIcon);
    if (m_hSmallIcon)
        ::DestroyIcon(m_hSmallIcon);
}

void CKelvariDlg::WriteDefaultSettings()
{
    ::WriteDefaultSettings(m_docSettings, GetDataFolder());
}

void CKelvariDlg::WriteLanguageSelect() { ::WriteLanguageSelect(g_strAppDir); }

void CKelvariDlg::LoadBackUpInfo()
{
    CXmlDocument doc;
    ::LoadBackUpInfo(doc, GetDataFolder());
}

// ---------------------------------------------------------------------------------------
// Window creation and initialisation
// ---------------------------------------------------------------------------------------

int CKelvariDlg::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_trayIcon.m_nShowState = (GetStyle() & WS_MAXIMIZE) ? 3 : 1;
    m_trayIcon.AttachNotifyWnd(this);
    m_trayIcon.LoadTrayMenu();
    CreateCaptionButtons();
    return 0;
}

void CKelvariDlg::CreateCaptionButtons()
{
    CRect rc;
    GetWindowRect(&rc);
    int W = rc.Width();
    struct {
        CButtonST* p;
        UINT id;
        int right;
    } buttons[] = {{&m_btnQuit, IDC_MAIN_QUIT, W - 10},
                   {&m_btnHelp, IDC_MAIN_HELP, W - 38},
                   {&m_btnAbout, IDC_MAIN_ABOUT, W - 66},
                   {&m_btnHide, IDC_MAIN_HIDE, W - 94}};
    for (auto& b : buttons)
        b.p->Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(b.right - 18, 32, b.right, 50), this, b.id);
}

BOOL CKelvariDlg::OnInitDialog()
{
    SetTimer(1, 100);
    OSVERSIONINFOW vi = {sizeof(vi)};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (::GetVersionExW(&vi) && vi.dwMajorVersion > 5) {
#pragma GCC diagnostic pop
        g_nShareOverlaySysImage = 0;
        g_nLinkOverlaySysImage = 4;
        g_nShareOverlay = 0;
    }
    CDialog::OnInitDialog();
    SetWindowText(kMainWindowTitle);
    MarkMainWindow(m_hWnd);
    SetSettingsHost(this);
    InitMainWindow();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hSmallIcon, FALSE);

    LPITEMIDLIST pidlDrives = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(m_hWnd, CSIDL_DRIVES, &pidlDrives)) || !pidlDrives)
        return FALSE;
    SHChangeNotifyEntry entry = {pidlDrives, TRUE};
    m_nShellNotifyId = ::SHChangeNotifyRegister(m_hWnd, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS,
                                                WM_SHELL_NOTIFY, 1, &entry);
    ::CoTaskMemFree(pidlDrives);
    return m_nShellNotifyId ? TRUE : FALSE;
}

void CKelvariDlg::InitMainWindow()
{
    LoadSkinImage(IDB_WINDOW_FRAME, m_imgFrame);
    LoadSkinImage(IDB_MAIN_BACKGROUND, m_imgBackground);
    LoadSkinImage(IDB_CONTENT_PANEL, m_imgPanel);
    LoadSkinImage(IDB_LOGO, m_imgLogo);
    InitCaptionButtons();
    BuildTrayMenu();
    SetUpNormalImageList();
    CreateStateImageList();
    CreatePageBox();
    RegisterStoredHotKey();
}

void CKelvariDlg::LoadLanguageText()
{
    m_strQuit = GetLanguageTextOr(L"Quit", L"Quit");
    m_strMinimize = GetLanguageTextOr(L"Minisize", L"Minimize");
    m_strHelp = GetLanguageTextOr(L"Help", L"Help");
    m_strAbout = GetLanguageTextOr(L"About", L"About");
    m_strShow = GetLanguageTextOr(L"ShowNormal", L"Display");
    m_strProduct = GetLanguageTextOr(L"Morvessa", L"Morvessa");
}

void CKelvariDlg::InitCaptionButtons()
{
    LoadLanguageText();
    // Disabled (while an operation runs) the quit button shows its picture dimmed.
    m_btnQuit.SetIcons(IDI_CAPTION_CLOSE_PRESSED, IDI_CAPTION_CLOSE_HOVER, CButtonST::BTNST_AUTO_DARKER,
                       IDI_CAPTION_CLOSE_NORMAL);
    m_btnHelp.SetIcons(IDI_CAPTION_HELP_PRESSED, IDI_CAPTION_HELP_HOVER, IDI_CAPTION_HELP_NORMAL,
                       IDI_CAPTION_HELP_NORMAL);
    m_btnAbout.SetIcons(IDI_CAPTION_INFO_PRESSED, IDI_CAPTION_INFO_HOVER, IDI_CAPTION_INFO_NORMAL,
                        IDI_CAPTION_INFO_NORMAL);
    m_btnHide.SetIcons(IDI_CAPTION_MINUS_PRESSED, IDI_CAPTION_MINUS_HOVER, IDI_CAPTION_MINUS_NORMAL,
                       IDI_CAPTION_MINUS_NORMAL);
    CButtonST* buttons[4] = {&m_btnQuit, &m_btnHelp, &m_btnAbout, &m_btnHide};
    const CString* tips[4] = {&m_strQuit, &m_strHelp, &m_strAbout, &m_strMinimize};
    for (int i = 0; i < 4; ++i) {
        buttons[i]->DrawBorder(FALSE, FALSE);
        buttons[i]->ResetBackground(FALSE);
        InitToolTip(m_hToolTip[i], m_hWnd, buttons[i]->m_hWnd, *tips[i]);
    }
}

void CKelvariDlg::BuildTrayMenu()
{
    m_trayIcon.UpdateIcon(m_hSmallIcon, m_strProduct);
    if (!m_trayIcon.LoadTrayMenu())
        return;  // the old menu stays
    CMenu* pSub = m_trayIcon.GetTrayMenu() ? m_trayIcon.GetTrayMenu()->GetSubMenu(0) : nullptr;
    if (!pSub)
        return;
    pSub->ModifyMenu(0, MF_BYPOSITION | MF_STRING, ID_TRAY_SHOW, m_strShow + L" KVR ZUL");
    pSub->ModifyMenu(1, MF_BYPOSITION | MF_STRING, ID_TRAY_HELP, m_strHelp);
    pSub->ModifyMenu(2, MF_BYPOSITION | MF_STRING, ID_TRAY_ABOUT, m_strAbout + L" KVR ZUL");
    pSub->ModifyMenu(3, MF_BYPOSITION | MF_STRING, ID_TRAY_QUIT, m_strQuit + L" KVR ZUL");
}

void CKelvariDlg::SetUpNormalImageList()
{
    SHFILEINFOW sfi = {};
    HIMAGELIST h = (HIMAGELIST)ShellIo().FileInfo(L"C:\\", 0, &sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    g_hNormalImageList = h;
    if (!h)
        return;
    ImageList_SetOverlayImage(h, 0, 1);
    ImageList_SetOverlayImage(h, 1, 2);
    ImageList_SetOverlayImage(h, 2, 3);
    if (HICON hDisk = LoadIconSized(IDI_DISK, 16)) {
        g_nDiskImage = ImageList_AddIcon(h, hDisk);
        ::DestroyIcon(hDisk);
    }
}

void CKelvariDlg::CreateStateImageList()
{
    if (g_hStateImageList)
        ImageList_Destroy(g_hStateImageList);
    g_hStateImageList = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR16, 6, 6);
    if (!g_hStateImageList)
        return;
    const UINT ids[6] = {IDI_CHECK_UNCHECKED, IDI_CHECK_UNCHECKED, IDI_CHECK_MIXED,
                         IDI_CHECK_CHECKED, IDI_CHECK_HOVER, IDI_CHECK_FIXED};
    for (UINT id : ids) {
        HICON h = LoadIconSized(id, 16);
        ImageList_AddIcon(g_hStateImageList, h);
        if (h)
            ::DestroyIcon(h);
    }
}

void CKelvariDlg::CreatePageBox()
{
    m_pPageBox = new CPageBox;
    if (!m_pPageBox->Create(CPageBox::IDD, this)) {
        delete m_pPageBox;
        m_pPageBox = nullptr;
        return;
    }
    CRect rc;
    GetClientRect(&rc);
    m_pPageBox->MoveWindow(7, 67, rc.Width() - 14, rc.Height() - 97);
    m_pPageBox->ShowWindow(SW_SHOW);
}

void CKelvariDlg::RegisterStoredHotKey()
{
    int nKey = 0, nModifiers = 0;
    ReadHotKey(nKey, nModifiers);
    if (nKey != 0 && nModifiers != 0)
        m_bHotKeyRegistered = ::RegisterHotKey(m_hWnd, ID_BACKUP_HOTKEY, (UINT)nModifiers, (UINT)nKey) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------------------

void CKelvariDlg::ApplyLanguage(const CString& strLanguageId)
{
    g_strLanguage = strLanguageId;
    g_bLanguageLoaded = LoadLanguageFile(LanguageTablePath(g_strAppDir, strLanguageId));
    LoadLanguageText();
    CButtonST* buttons[4] = {&m_btnQuit, &m_btnHelp, &m_btnAbout, &m_btnHide};
    const CString* tips[4] = {&m_strQuit, &m_strHelp, &m_strAbout, &m_strMinimize};
    for (int i = 0; i < 4; ++i) {
        if (m_hToolTip[i])
            UpdateToolTipText(m_hToolTip[i], buttons[i]->m_hWnd, *tips[i]);
    }
    BuildTrayMenu();
    if (m_pPageBox)
        m_pPageBox->ReloadLanguageText();
}

void CKelvariDlg::SetButtonWatch(bool bOn)
{
    g_bUSBHotKey = bOn ? 1 : 0;
    if (!bOn) {
        StopButtonWatchAndClose();
    } else if (g_arrUSBDevice.GetSize() > 0) {
        StopButtonWatchAndClose();
        g_bStopButtonWatch = 0;
        StartButtonWatch();
    }
}

void CKelvariDlg::UpdateBackupFolderHidden()
{
    if (m_pPageBox)
        m_pPageBox->UpdateBackupFolderHidden();
}

void CKelvariDlg::ReportSettingsWriteFailure(const CString& strPath)
{
    // The path follows the table's text, which may not carry a format of its own.
    CString strMessage = GetLanguageTextOr(L"SettingStoreFailed", L"The setting could not be stored in");
    strMessage += L" \"" + strPath + L"\".";
    CMakeSureDlg dlg(GetLanguageTextOr(L"PromptTitle", L"Tips"), strMessage, 1);
    dlg.DoModal();
}

// ---------------------------------------------------------------------------------------
// Painting and dragging
// ---------------------------------------------------------------------------------------

void CKelvariDlg::OnPaint()
{
    // The first drawing of the main window ends the splash.
    m_splash.RequestClose();
    CPaintDC paint(this);
    CRect R;
    GetClientRect(&R);
    int W = R.Width(), H = R.Height();
    CMemDC dc(&paint, &R);
    dc.FillSolidRect(&R, RGB(125, 125, 125));
    if (!m_imgBackground.IsNull())
        m_imgBackground.Draw(dc.m_hDC, 0, 0, W, H);
    if (!m_imgFrame.IsNull())
        m_imgFrame.Draw(dc.m_hDC, -3, -3, W + 5, H + 5);
    if (!m_imgPanel.IsNull())
        m_imgPanel.Draw(dc.m_hDC, 1, 60, W - 3, H - 84);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(255, 125, 0));
    HGDIOBJ old = ::SelectObject(dc.m_hDC, ::GetStockObject(DEFAULT_GUI_FONT));
    CRect rcVersion(W - 200, H - 20, W - 10, H - 5);
    dc.DrawText(CString(L"Version 1.4.1.0"), &rcVersion, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc.m_hDC, old);
    if (!m_imgLogo.IsNull())
        m_imgLogo.Draw(dc.m_hDC, 10, 12);
    for (CButtonST* p : {&m_btnQuit, &m_btnHelp, &m_btnAbout, &m_btnHide})
        p->CopyParentBackground(&dc);
}

void CKelvariDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    ApplyRoundRegion(this);
}

void CKelvariDlg::OnLButtonDown(UINT nFlags, CPoint point)
{
    if (point.y >= 0 && point.y < kDragBand) {
        m_bDragPending = 1;
        m_ptDrag = point;
    }
    CDialog::OnLButtonDown(nFlags, point);
}

void CKelvariDlg::OnMouseMove(UINT nFlags, CPoint point)
{
    if (m_bDragPending && point.y >= 0 && point.y < kDragBand) {
        m_bDragPending = 0;
        CPoint pt = m_ptDrag;
        ClientToScreen(&pt);
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
    }
    CDialog::OnMouseMove(nFlags, point);
}

void CKelvariDlg::OnLButtonUp(UINT nFlags, CPoint point)
{
    m_bDragPending = 0;
    CDialog::OnLButtonUp(nFlags, point);
}

BOOL CKelvariDlg::PreTranslateMessage(MSG* pMsg)
{
    // Esc never closes the main window; other messages carrying 27 pass. Neither does Ctrl+Break,
    // which the dialog manager takes for Esc (its character, Ctrl+C, passes).
    if (AfxIsKeyMessageFor(pMsg, VK_ESCAPE) || (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_CANCEL))
        return TRUE;
    for (HWND h : m_hToolTip) {
        if (h) {
            MSG msg = *pMsg;
            ::SendMessageW(h, TTM_RELAYEVENT, 0, (LPARAM)&msg);
        }
    }
    return CDialog::PreTranslateMessage(pMsg);
}

// ---------------------------------------------------------------------------------------
// Timer, devices, hot key
// ---------------------------------------------------------------------------------------

void CKelvariDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != 1) {
        CDialog::OnTimer(nIDEvent);
        return;
    }
    DWORD now = ::GetTickCount();
    if (m_bRefreshPending && now - m_dwLastDeviceChange >= kDeviceSettleMs) {
        m_bRefreshPending = 0;
        ++m_nDriveTreeRefreshes;
        if (IPanelPage* p = m_pPageBox ? m_pPageBox->GetPage(CPageBox::PAGE_MANAGE) : nullptr)
            p->RefreshDriveTree();
    }
    if (!m_strMediaPendingRoot.IsEmpty() && now - m_dwMediaPendingSince >= kMediaWaitMs)
        ClearMediaPending();
    // The quit item and button follow whatever makes a quit refused.
    SetBusy(IsOperationRunning());
}

void CKelvariDlg::SetBusy(bool bBusy)
{
    m_trayIcon.m_bBusy = bBusy ? TRUE : FALSE;
    if (!m_btnQuit.m_hWnd || (m_btnQuit.HasDisabledLook() != FALSE) == bBusy)
        return;
    if (bBusy)
        m_btnQuit.CancelHover();
    m_btnQuit.SetDisabledLook(bBusy ? TRUE : FALSE, FALSE);
    m_btnQuit.Invalidate(FALSE);
}

BOOL CKelvariDlg::OnDeviceChange(UINT, DWORD_PTR dwData)
{
    if (dwData != 0)
        return TRUE;
    m_dwLastDeviceChange = ::GetTickCount();
    m_bRefreshPending = 1;
    return FALSE;
}

bool CKelvariDlg::IsHotKeyBlocked() const
{
    if (!m_pPageBox)
        return true;
    // A prompt is open, an operation runs, or the last worker has not ended yet.
    if (m_pPageBox->IsStartBlocked())
        return true;
    // A modal dialog over the main window (About, a prompt, a settings pop-up) has disabled it.
    return m_pAboutDlg != nullptr || !::IsWindowEnabled(m_hWnd);
}

void CKelvariDlg::OnHotKey(UINT nHotKeyId, UINT, UINT)
{
    if (nHotKeyId != ID_BACKUP_HOTKEY || IsHotKeyBlocked())
        return;
    ShowWindow(SW_SHOW);
    m_pPageBox->m_bStartedByKey = 1;
    m_pPageBox->OnBnClickedBackupPage();
    m_pPageBox->OnBnClickedBackup();
}

void CKelvariDlg::OnDestroy()
{
    if (m_nShellNotifyId) {
        ::SHChangeNotifyDeregister(m_nShellNotifyId);
        m_nShellNotifyId = 0;
    }
    if (m_bHotKeyRegistered) {
        ::UnregisterHotKey(m_hWnd, ID_BACKUP_HOTKEY);
        m_bHotKeyRegistered = 0;
    }
    KillTimer(1);
    UnmarkMainWindow(m_hWnd);
    if (GetSettingsHost() == this)
        SetSettingsHost(nullptr);
    m_trayIcon.UpdateIcon(nullptr);
    CDialog::OnDestroy();
}

// ---------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------

void CKelvariDlg::OnBnClickedQuit()
{
    // Nothing ends the program under a running backup, restore or disk copy.
    if (IsOperationRunning())
        return;
    if (m_pPageBox) {
        for (int i = 0; i < CPageBox::PAGE_COUNT; ++i) {
            if (IPanelPage* p = m_pPageBox->GetPage(i))
                p->OnMainWindowClosing();
        }
    }
    EndDialog(IDOK);
    if (!IsModal())
        DestroyWindow();
}

void CKelvariDlg::OnHelp()
{
    CString strModule;
    if (!GetModulePath(nullptr, strModule))
        return;
    OpenHelp(FolderOfPath(strModule), g_strLanguage);
}

void CKelvariDlg::OnBnClickedAbout()
{
    if (m_pAboutDlg)
        return;
    m_pAboutDlg = new CAboutDlg(this, CAboutDlg::MODE_ABOUT);
    m_btnAbout.CancelHover();
    // Drawn before the box opens, so that no late repaint of the main window shows through it.
    Invalidate();
    UpdateWindow();
    m_pAboutDlg->DoModal();
    delete m_pAboutDlg;
    m_pAboutDlg = nullptr;
}

void CKelvariDlg::OnBnClickedHide() { ShowWindow(SW_HIDE); }
void CKelvariDlg::OnTrayShow() { ShowWindow(SW_SHOW); }

// ---------------------------------------------------------------------------------------
// Shell changes
// ---------------------------------------------------------------------------------------

LRESULT CKelvariDlg::OnShellNotify(WPARAM wParam, LPARAM lParam)
{
    // The registration asks for the shell's new delivery: wParam is a block that the shell shares
    // from its process (lParam), and only the shell's lock opens it. Anything else that arrives
    // under this message (another program can post it) is not the shell's and is ignored.
    if (!m_nShellNotifyId || !wParam)
        return 0;
    PIDLIST_ABSOLUTE* pidls = nullptr;
    LONG lEvent = 0;
    HANDLE hLock = ::SHChangeNotification_Lock((HANDLE)wParam, (DWORD)lParam, &pidls, &lEvent);
    if (!hLock)
        return 0;
    CString a, b;
    if (pidls && IsReadable(pidls, 2 * sizeof(*pidls))) {
        a = CheckedPathFromIDList(pidls[0]);
        b = CheckedPathFromIDList(pidls[1]);
    }
    ::SHChangeNotification_Unlock(hLock);
    HandleShellEvent(lEvent & ~SHCNE_INTERRUPT, a, b);
    return 1;
}

void CKelvariDlg::ClearMediaPending()
{
    m_strMediaPendingRoot.Empty();
    m_dwMediaPendingSince = 0;
}

void CKelvariDlg::HandleShellEvent(LONG lEvent, const CString& a, const CString& b)
{
    if (a.IsEmpty())
        return;
    TreeSinks trees;
    switch (lEvent) {
    case SHCNE_RENAMEITEM:
    case SHCNE_RENAMEFOLDER:
        if (a == b)
            OnDriveAdded(a);  // a drive's label changed
        else if (FolderPartOfPath(a).CompareNoCase(FolderPartOfPath(b)) != 0)
            trees.ForAll([&](IShellChangeSink* p) { p->ShellRenameAcrossFolders(a, b); });
        else
            trees.ForAll([&](IShellChangeSink* p) { p->ShellRenameInFolder(a, b); });
        break;
    case SHCNE_CREATE:
    case SHCNE_MKDIR:
        trees.ForAll([&](IShellChangeSink* p) { p->ShellItemCreated(a); });
        break;
    case SHCNE_DELETE:
    case SHCNE_RMDIR:
        trees.ForAll([&](IShellChangeSink* p) { p->ShellItemDeleted(a); });
        break;
    case SHCNE_MEDIAINSERTED:
    case SHCNE_DRIVEADD:
        OnDriveAdded(a);
        break;
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED: {
        UINT type = ShellIo().DriveType(a);
        if (type == DRIVE_NO_ROOT_DIR) {
            OnDriveRemoved(a);
        } else if (type == DRIVE_CDROM) {
            SHFILEINFOW sfi = {};
            ShellIo().FileInfo(a, 0, &sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
            trees.ForAll([&](IShellChangeSink* p) { p->SetPathItemImage(a, sfi.iIcon); });
        } else {
            // The drive stays but its medium may be gone: the shell's next update of this
            // drive tells.
            m_strMediaPendingRoot = a;
            m_dwMediaPendingSince = ::GetTickCount();
        }
        break;
    }
    case SHCNE_NETSHARE:
        trees.ForAll([&](IShellChangeSink* p) { p->ShellShareChanged(a); });
        break;
    case SHCNE_UPDATEDIR:
        trees.ForAll([&](IShellChangeSink* p) { p->ShellFolderUpdated(a); });
        break;
    case SHCNE_UPDATEITEM:
        if (!m_strMediaPendingRoot.IsEmpty() && m_strMediaPendingRoot.CompareNoCase(a) == 0) {
            ClearMediaPending();
            if (!ShellIo().FolderHasEntries(a)) {
                OnDriveRemoved(a);
                OnDriveAdded(a);
            }
        }
        break;
    default:
        break;
    }
    if (IPanelPage* p = m_pPageBox ? m_pPageBox->GetPage(CPageBox::PAGE_BACKUP) : nullptr)
        p->CheckDestination();
}

LRESULT CKelvariDlg::OnDriveAdded(const CString& strRoot)
{
    if (!m_strMediaPendingRoot.IsEmpty() || strRoot.IsEmpty())
        return 1;
    IShellIo& shell = ShellIo();
    SHFILEINFOW sfi = {};
    shell.FileInfo(strRoot, 0, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    CString strName(sfi.szDisplayName);
    if (strName.IsEmpty())
        return 1;
    int nIcon = sfi.iIcon == 3 ? 9 : sfi.iIcon;
    CString D = strRoot.Left(2);
    TreeSinks trees;

    if (IsBridgeDiskDrive(D)) {
        // A drive of a bridge disk is a backup target, never a source.
        if (g_hDestComboWnd && ::IsWindow(g_hDestComboWnd)) {
            bool bHadText = ::GetWindowTextLengthW(g_hDestComboWnd) > 0;
            if (::SendMessageW(g_hDestComboWnd, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)(const wchar_t*)D) == CB_ERR)
                ::SendMessageW(g_hDestComboWnd, CB_INSERTSTRING, 0, (LPARAM)(const wchar_t*)D);
            if (trees.dest)
                trees.dest->AddDriveRoot(D + L"\\");
            if (!bHadText) {
                if (IPanelPage* p = m_pPageBox ? m_pPageBox->GetPage(CPageBox::PAGE_BACKUP) : nullptr)
                    p->CheckDestination();
                ::SendMessageW(g_hDestComboWnd, CB_SETCURSEL, 0, 0);
                if (trees.dest)
                    trees.dest->ShowDriveRoot(D);
            }
        }
        return 1;
    }

    UINT type = shell.DriveType(strRoot);
    DWORD_PTR data = (DWORD_PTR)(WORD)D[0] << 8;
    wchar_t fs[MAX_PATH + 1] = {};
    bool bHasFileSystem = shell.VolumeInformation(strRoot, nullptr, 0, nullptr, nullptr, nullptr, fs, MAX_PATH + 1) &&
                          fs[0] != 0;
    if (trees.source && type != DRIVE_CDROM && !trees.source->HasItemForPath(strRoot)) {
        // The source tree shows the drive with what the selection file holds for it.
        if (bHasFileSystem)
            trees.source->AddDriveItem(strRoot, strName, nIcon, data, TCS_UNCHECKED);
        else
            trees.source->AddDriveItem(strRoot, strName, nIcon, data + 2, TCS_FIXED);
    }
    // The management trees show the name up to its drive letter part "(E:)".
    int paren = strName.ReverseFind(L')');
    CString strShort = paren >= 0 ? strName.Left(paren + 1) : strName;
    DWORD_PTR manageData = bHasFileSystem ? data : data + 2;
    for (IShellChangeSink* p : {trees.manage1, trees.manage2}) {
        if (!p)
            continue;
        if (type == DRIVE_CDROM)
            p->RemoveDriveItem(strRoot);
        if (!p->HasItemForPath(strRoot))
            p->AddDriveItem(strRoot, strShort, nIcon, manageData, 0);
    }
    return 1;
}

void CKelvariDlg::OnDriveRemoved(const CString& strRoot)
{
    TreeSinks trees;
    for (IShellChangeSink* p : {trees.manage1, trees.manage2, trees.source}) {
        if (p)
            p->RemoveDriveItem(strRoot);
    }
    CString D = strRoot.Left(2);
    if (g_hDestComboWnd && ::IsWindow(g_hDestComboWnd)) {
        CString strCurrent = CWnd::FromHandle(g_hDestComboWnd)->GetWindowText();
        LRESULT i = ::SendMessageW(g_hDestComboWnd, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)(const wchar_t*)D);
        if (i != CB_ERR) {
            ::SendMessageW(g_hDestComboWnd, CB_DELETESTRING, (WPARAM)i, 0);
            if (strCurrent.CompareNoCase(D) == 0) {
                if (trees.dest)
                    trees.dest->RemoveTopDriveItem(D);
                if (::SendMessageW(g_hDestComboWnd, CB_GETCOUNT, 0, 0) > 0) {
                    ::SendMessageW(g_hDestComboWnd, CB_SETCURSEL, 0, 0);
                    CString strFirst = CWnd::FromHandle(g_hDestComboWnd)->GetWindowText();
                    if (trees.dest)
                        trees.dest->ShowDriveRoot(strFirst);
                } else {
                    ::SetWindowTextW(g_hDestComboWnd, L"");
                }
                if (IPanelPage* p = m_pPageBox ? m_pPageBox->GetPage(CPageBox::PAGE_BACKUP) : nullptr)
                    p->CheckDestination();
            }
        }
    }
    if (m_pPageBox)
        m_pPageBox->OnTargetDiskRemoved(strRoot);
}
