#include "PageBox.h"

#include "BackUpTreeCtrl.h"
#include "DataFiles.h"
#include "DiskCopy.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "OtherSetDlg.h"
#include "SettingsCommon.h"
#include "StoreNames.h"
#include "TreeShared.h"
#include "USBDevice.h"
#include "UsbTreeCtrl.h"
#include "XmlDocument.h"

#include <map>

namespace {

std::map<int, PanelPageFactory>& Factories()
{
    static std::map<int, PanelPageFactory> s_factories;
    return s_factories;
}

const UINT kPageButtonIds[CPageBox::PAGE_COUNT] = {IDC_PAGE_QUICK, IDC_PAGE_BACKUP, IDC_PAGE_MANAGE,
                                                   IDC_PAGE_SETTINGS};
const UINT kPageIcons[CPageBox::PAGE_COUNT] = {IDI_PAGE_QUICK, IDI_PAGE_BACKUP, IDI_PAGE_MANAGE,
                                               IDI_PAGE_SETTINGS};
const int kPageButtonTop[CPageBox::PAGE_COUNT] = {10, 83, 155, 227};

}  // namespace

void RegisterPanelPage(int nSlot, PanelPageFactory factory) { Factories()[nSlot] = std::move(factory); }

PanelPageFactory GetPanelPageFactory(int nSlot)
{
    auto it = Factories().find(nSlot);
    return it == Factories().end() ? PanelPageFactory() : it->second;
}

bool IsSourceSelectionEmpty()
{
    HWND h = g_hSourceTreeWnd;
    if (!h || !::IsWindow(h))
        return true;
    HTREEITEM hRoot = TreeView_GetRoot(h);
    if (!hRoot)
        return true;
    UINT state = TreeView_GetItemState(h, hRoot, TVIS_STATEIMAGEMASK) >> 12;
    return state == TCS_UNCHECKED || state == TCS_FIXED || state == TCS_NONE;
}

CString GetDestinationText()
{
    HWND h = g_hDestComboWnd;
    if (!h || !::IsWindow(h))
        return CString();
    CWnd* p = CWnd::FromHandle(h);
    return p->GetWindowText();
}

// ---------------------------------------------------------------------------------------
// Empty page
// ---------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CEmptyPage, CWnd)
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

BOOL CEmptyPage::CreatePage(CPageBox* pPanel, const CRect& rcPage)
{
    return CreateEx(0, AfxRegisterWndClass(0, ::LoadCursorW(nullptr, IDC_ARROW)), L"", WS_CHILD, rcPage, pPanel, 0);
}

BOOL CEmptyPage::OnEraseBkgnd(CDC* pDC)
{
    CRect rc;
    GetClientRect(&rc);
    pDC->FillSolidRect(&rc, RGB(255, 255, 255));
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Panel
// ---------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CPageBox, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_BN_CLICKED(IDC_PAGE_QUICK, OnBnClickedQuickPage)
    ON_BN_CLICKED(IDC_PAGE_BACKUP, OnBnClickedBackupPage)
    ON_BN_CLICKED(IDC_PAGE_MANAGE, OnBnClickedManagePage)
    ON_BN_CLICKED(IDC_PAGE_SETTINGS, OnBnClickedSetPage)
    ON_BN_CLICKED(IDC_ACTION_HIDE, OnBnClickedMinimize)
    ON_BN_CLICKED(IDC_ACTION_START, OnBnClickedBackup)
    ON_BN_CLICKED(IDC_ACTION_RESTORE, OnBnClickedRestore)
END_MESSAGE_MAP()

CPageBox::CPageBox() : CDialog(IDD)
{
    CreateDialogFont(m_fontPage, 12, FW_NORMAL, L"MingLiU");
}

CPageBox::~CPageBox()
{
    // The progress dialog first: its destructor waits for a worker that still runs.
    delete m_pProgressDlg;
    m_pProgressDlg = nullptr;
    for (HWND h : m_hToolTip) {
        if (h && ::IsWindow(h))
            ::DestroyWindow(h);
    }
    // Pages first, while the panel window still exists.
    for (int i = PAGE_COUNT - 1; i >= 1; --i) {
        if (m_pPages[i] && m_pPages[i]->PageWnd())
            m_pPages[i]->PageWnd()->DestroyWindow();
        m_pOwnedPages[i].reset();
    }
    m_dlgQuick.DestroyWindow();
    for (CButtonST& b : m_btnPage)
        b.DestroyWindow();
    m_btnHide.DestroyWindow();
    m_btnStart.DestroyWindow();
    m_btnRestore.DestroyWindow();
}

void CPageBox::LoadLanguageText()
{
    m_strQuickActive = GetLanguageTextOr(L"QuickActive", L"Quick Activate");
    m_strBackup = GetLanguageTextOr(L"Backup", L"File Backup");
    m_strManage = GetLanguageTextOr(L"Manage", L"File Management");
    m_strSet = GetLanguageTextOr(L"Set", L"Setting");
    m_strMinimize = GetLanguageTextOr(L"Minisize", L"Minimize");
    m_strRevert = GetLanguageTextOr(L"Revert", L"Restore");
    m_strBackupTip = GetLanguageTextOr(L"BackupTip", L"Backup");
    m_strPromptTitle = GetLanguageTextOr(L"PromptTitle", L"Tips");
    m_strQuickPrompt = GetLanguageTextOr(L"QuickActivePoupPromptInfo", L"Start Quick backup ?");
    m_strChoseBackupFile = GetLanguageTextOr(L"ChoseBackupFile", L"Please select files for backup!");
    m_strChoseDestDisk = GetLanguageTextOr(L"ChoseDestDisk", L"Please select target disk for backup!");
    m_strVolumNotFormat = GetLanguageTextOr(
        L"VolumNotFormat", L"Target partition may not be formatted or be not usable, please reselect!");
    m_strBackupTitle = GetLanguageTextOr(L"Title", L"File Backup");
    m_strBackupPrompt = GetLanguageTextOr(L"Prompt", L"Start backup now ?");
    m_strProgressBackup = GetLanguageTextOr(L"ProgressBKTitle", L"Backup from PC to USB HDD");
    m_strProgressRestore = GetLanguageTextOr(L"ProgressRestoreTitle", L"Restore from USB HDD to PC");
    m_strRestoreTitle = GetLanguageTextOr(L"RestoreTipTitle", L"File Restore");
    m_strRestorePrompt = GetLanguageTextOr(L"RestoreTipMessage", L"Restore the selected files?");
    m_strNoRestoreDisk = GetLanguageTextOr(L"NoRestoreDisk", L"No disk for restore!");
    m_strChoseRestoreFile = GetLanguageTextOr(L"ChoseFilePrompt", L"Please select files for restore!");
    m_strChoseSourceDisk = GetLanguageTextOr(L"ChoseSourceDisk", L"Please select source disk for backup!");
    m_strSameDisk = GetLanguageTextOr(L"SourcediskAndDestDiskIsSame",
                                      L"Target disk and Source disk are the same, please reselect!");
    m_strSourceGreater = GetLanguageTextOr(
        L"SourceDiskIsGreater", L"Source disk's Capacity is greater than the target disk, please re-select");
    m_strDeletePartitions = GetLanguageTextOr(L"DeleteAllPartitions",
                                              L"Please delete all partitions on the destination disk, then back up!");
    m_strSectorSizes = DiskCopySectorSizeTemplate();
    m_strDiskCopyTitle = GetLanguageTextOr(L"DiskCopyTitle", L"Disk Copy");
    m_strDiskCopyPrompt = GetLanguageTextOr(L"DiskCopyMessage", L"Determine to copy the selected disk\uFF1F");
    m_strDiskGone = GetLanguageTextOr(L"DiskCopyDiskGone", L"The selected disk is no longer attached, please reselect!");
}

int CPageBox::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
    return 0;
}

void CPageBox::LayoutControls()
{
    LoadLanguageText();
    const CString* captions[PAGE_COUNT] = {&m_strQuickActive, &m_strBackup, &m_strManage, &m_strSet};
    for (int i = 0; i < PAGE_COUNT; ++i) {
        int top = kPageButtonTop[i];
        m_btnPage[i].Create(*captions[i], WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(8, top, 68, top + 60), this,
                            kPageButtonIds[i]);
    }
    CRect rc;
    GetClientRect(&rc);
    int W = rc.Width(), H = rc.Height();
    m_btnHide.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W - 40, H - 40, W - 8, H - 8), this,
                     IDC_ACTION_HIDE);
    m_btnHide.LoadPngImages(IDB_ACTION_DOWN_NORMAL, IDB_ACTION_DOWN_PRESSED, IDB_ACTION_DOWN_HOVER);
    m_btnRestore.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W - 88, H - 40, W - 56, H - 8), this,
                        IDC_ACTION_RESTORE);
    m_btnRestore.LoadPngImages(IDB_ACTION_RESTORE_NORMAL, IDB_ACTION_RESTORE_PRESSED, IDB_ACTION_RESTORE_HOVER,
                               IDB_ACTION_RESTORE_NORMAL);
    m_btnStart.Create(L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(W - 136, H - 40, W - 104, H - 8), this,
                      IDC_ACTION_START);
    m_btnStart.LoadPngImages(IDB_ACTION_PLAY_NORMAL, IDB_ACTION_PLAY_PRESSED, IDB_ACTION_PLAY_HOVER,
                             IDB_ACTION_PLAY_NORMAL);
    for (CButtonST* p : {&m_btnHide, &m_btnRestore, &m_btnStart}) {
        p->DrawBorder(FALSE, FALSE);
        p->ResetBackground(FALSE);
    }
}

BOOL CPageBox::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (int i = 0; i < PAGE_COUNT; ++i) {
        m_btnPage[i].SetFont(&m_fontPage);
        m_btnPage[i].SetIcons(kPageIcons[i], kPageIcons[i], kPageIcons[i], kPageIcons[i]);
        m_btnPage[i].SetAlign(CButtonST::ST_ALIGN_VERT, FALSE);
        m_btnPage[i].DrawBorder(FALSE, FALSE);
        m_btnPage[i].ResetBackground(FALSE);
    }
    InitToolTip(m_hToolTip[0], m_hWnd, m_btnHide.m_hWnd, m_strMinimize);
    InitToolTip(m_hToolTip[1], m_hWnd, m_btnRestore.m_hWnd, m_strRevert);
    InitToolTip(m_hToolTip[2], m_hWnd, m_btnStart.m_hWnd, m_strBackupTip);

    LoadSkinImage(IDB_PAGE_STRIP, m_imgStrip);
    LoadSkinImage(IDB_PAGE_SEPARATOR, m_imgSeparator);
    LoadSkinImage(IDB_PAGE_HIGHLIGHT, m_imgHighlight);

    CreatePages();
    if (g_bDefaultsWritten) {
        m_nHighlight = PAGE_BACKUP;
        OnBnClickedBackupPage();
    } else {
        m_nHighlight = PAGE_QUICK;
        OnBnClickedQuickPage();
    }
    UpdateActionButtons();

    // The one progress dialog, hidden in the page area until an operation puts it into a slot.
    m_pProgressDlg = new CPropressDlg;
    if (!m_pProgressDlg->CreateInPanel(this, this, PAGE_BACKUP, GetPageRect())) {
        delete m_pProgressDlg;
        m_pProgressDlg = nullptr;
    } else {
        m_pProgressDlg->ShowWindow(SW_HIDE);
    }
    return TRUE;
}

CRect CPageBox::GetPageRect() const
{
    CRect rc;
    GetClientRect(&rc);
    rc.DeflateRect(79, 8, 7, 40);
    return rc;
}

void CPageBox::CreatePages()
{
    CRect rcPage = GetPageRect();
    m_pPages[PAGE_QUICK] = &m_dlgQuick;
    m_dlgQuick.CreatePage(this, rcPage);
    for (int i = 1; i < PAGE_COUNT; ++i) {
        PanelPageFactory factory = GetPanelPageFactory(i);
        std::unique_ptr<IPanelPage> page = factory ? factory() : nullptr;
        if (!page || !page->CreatePage(this, rcPage)) {
            page = std::make_unique<CEmptyPage>();
            page->CreatePage(this, rcPage);
        }
        m_pPages[i] = page.get();
        m_pOwnedPages[i] = std::move(page);
    }
    for (int i = 0; i < PAGE_COUNT; ++i) {
        m_pSlotWnd[i] = m_pPages[i]->PageWnd();
        if (m_pSlotWnd[i] && m_pSlotWnd[i]->m_hWnd)
            m_pSlotWnd[i]->ShowWindow(SW_HIDE);
    }
}

IPanelPage* CPageBox::GetPage(int nSlot) const
{
    return nSlot >= 0 && nSlot < PAGE_COUNT ? m_pPages[nSlot] : nullptr;
}

void CPageBox::SetSlotWnd(int nSlot, CWnd* pWnd)
{
    if (nSlot < 0 || nSlot >= PAGE_COUNT || !pWnd)
        return;
    if (m_pSlotWnd[nSlot] && m_pSlotWnd[nSlot] != pWnd && m_pSlotWnd[nSlot]->m_hWnd)
        m_pSlotWnd[nSlot]->ShowWindow(SW_HIDE);
    m_pSlotWnd[nSlot] = pWnd;
    if (nSlot == m_nCurPage && pWnd->m_hWnd)
        pWnd->ShowWindow(SW_SHOW);
}

void CPageBox::RestoreSlot(int nSlot)
{
    if (nSlot < 0 || nSlot >= PAGE_COUNT || !m_pPages[nSlot])
        return;
    SetSlotWnd(nSlot, m_pPages[nSlot]->PageWnd());
}

void CPageBox::ShowPage(int nPage)
{
    if (nPage < 0 || nPage >= PAGE_COUNT)
        return;
    int nOld = m_nCurPage;
    if (nOld >= 0 && nOld < PAGE_COUNT && nOld != nPage && m_pSlotWnd[nOld] && m_pSlotWnd[nOld]->m_hWnd)
        m_pSlotWnd[nOld]->ShowWindow(SW_HIDE);
    m_nCurPage = m_nHighlight = nPage;
    if (m_pSlotWnd[nPage] && m_pSlotWnd[nPage]->m_hWnd)
        m_pSlotWnd[nPage]->ShowWindow(SW_SHOW);
    // The old button gets its normal look back, the new one the selected look.
    for (int i = 0; i < PAGE_COUNT; ++i) {
        if (m_btnPage[i].m_hWnd) {
            m_btnPage[i].CancelHover();
            m_btnPage[i].ResetBackground(FALSE);
        }
    }
    UpdateActionButtons();
    if (m_hWnd)
        Invalidate(FALSE);
}

void CPageBox::UpdateActionButtons()
{
    if (!m_btnStart.m_hWnd)
        return;
    if (m_nCurPage == PAGE_BACKUP && !m_bQuickRunning) {
        if (m_pPages[PAGE_BACKUP] && m_pSlotWnd[PAGE_BACKUP] == m_pPages[PAGE_BACKUP]->PageWnd()) {
            m_btnStart.ShowWindow(SW_SHOW);
            m_btnRestore.ShowWindow(SW_SHOW);
        }
        return;
    }
    m_btnStart.ShowWindow(SW_HIDE);
    m_btnRestore.ShowWindow(SW_HIDE);
}

void CPageBox::DisablePageButtons()
{
    for (CButtonST& b : m_btnPage)
        b.EnableWindow(FALSE);
}

void CPageBox::EnablePageButtons()
{
    for (CButtonST& b : m_btnPage)
        b.EnableWindow(TRUE);
}

void CPageBox::OnBnClickedMinimize()
{
    if (CWnd* p = GetTopLevelParent())
        p->ShowWindow(SW_HIDE);
}

BOOL CPageBox::PreTranslateMessage(MSG* pMsg)
{
    for (HWND h : m_hToolTip) {
        if (h) {
            MSG msg = *pMsg;
            ::SendMessageW(h, TTM_RELAYEVENT, 0, (LPARAM)&msg);
        }
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CPageBox::OnPaint()
{
    CPaintDC paint(this);
    CRect R;
    GetClientRect(&R);
    CMemDC dc(&paint, &R);
    dc.FillSolidRect(&R, RGB(255, 255, 255));
    if (!m_imgStrip.IsNull())
        m_imgStrip.Draw(dc.m_hDC, 0, 0, 72, R.Height());
    for (int k = 0; k < PAGE_COUNT; ++k) {
        int T = 8 + 72 * k;
        if (m_nHighlight == k && !m_imgHighlight.IsNull())
            m_imgHighlight.Draw(dc.m_hDC, 8, T);
        if (!m_imgSeparator.IsNull())
            m_imgSeparator.Draw(dc.m_hDC, 8, T + 68);
    }
    for (CButtonST& b : m_btnPage)
        b.CopyParentBackground(&dc);
    m_btnHide.CopyParentBackground(&dc);
    m_btnStart.CopyParentBackground(&dc);
    m_btnRestore.CopyParentBackground(&dc);
    for (CButtonST& b : m_btnPage)
        b.Invalidate(FALSE);
}

void CPageBox::ReloadLanguageText()
{
    LoadLanguageText();
    const CString* captions[PAGE_COUNT] = {&m_strQuickActive, &m_strBackup, &m_strManage, &m_strSet};
    for (int i = 0; i < PAGE_COUNT; ++i) {
        if (m_btnPage[i].m_hWnd) {
            m_btnPage[i].SetWindowText(*captions[i]);
            m_btnPage[i].Invalidate();
        }
    }
    if (m_hToolTip[0])
        UpdateToolTipText(m_hToolTip[0], m_btnHide.m_hWnd, m_strMinimize);
    if (m_hToolTip[1])
        UpdateToolTipText(m_hToolTip[1], m_btnRestore.m_hWnd, m_strRevert);
    if (m_hToolTip[2])
        UpdateToolTipText(m_hToolTip[2], m_btnStart.m_hWnd, m_strBackupTip);
    for (IPanelPage* p : m_pPages) {
        if (p)
            p->ReloadLanguageText();
    }
}

// ---------------------------------------------------------------------------------------
// Selection helpers
// ---------------------------------------------------------------------------------------

int FindCheckedDeviceNumber(HWND hTree)
{
    if (!hTree || !::IsWindow(hTree))
        return -1;
    // The computer item and the drive root carry no device data, so every top-level item can
    // be looked at.
    for (HTREEITEM h = TreeView_GetRoot(hTree); h; h = TreeView_GetNextSibling(hTree, h)) {
        TVITEMW item = {};
        item.mask = TVIF_PARAM | TVIF_STATE;
        item.hItem = h;
        item.stateMask = TVIS_STATEIMAGEMASK;
        if (!TreeView_GetItem(hTree, &item))
            continue;
        if (IsTreeDeviceData((DWORD_PTR)item.lParam) && (item.state >> 12) == TCS_CHECKED)
            return (int)((DWORD_PTR)item.lParam - TREE_DATA_DEVICE_BASE);
    }
    return -1;
}

int FindDeviceIndex(int nDeviceNumber)
{
    if (nDeviceNumber < 0)
        return -1;
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i) {
        if (g_arrUSBDevice[i].m_nDeviceNumber == nDeviceNumber)
            return (int)i;
    }
    return -1;
}

namespace {

// Holds g_hDeviceListMutex (when it exists) for a scope.
class CDeviceListLock {
public:
    CDeviceListLock()
    {
        if (g_hDeviceListMutex) {
            DWORD dw = ::WaitForSingleObject(g_hDeviceListMutex, INFINITE);
            m_bHeld = dw == WAIT_OBJECT_0 || dw == WAIT_ABANDONED;
        }
    }
    ~CDeviceListLock()
    {
        if (m_bHeld)
            ::ReleaseMutex(g_hDeviceListMutex);
    }
    CDeviceListLock(const CDeviceListLock&) = delete;
    CDeviceListLock& operator=(const CDeviceListLock&) = delete;

private:
    bool m_bHeld = false;
};

CBackUpTreeCtrl* SourceTree() { return CBackUpTreeCtrl::FromTreeWnd(g_hSourceTreeWnd); }
CUsbTreeCtrl* DestTree() { return dynamic_cast<CUsbTreeCtrl*>(CBackUpTreeCtrl::FromTreeWnd(g_hDestTreeWnd)); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Prompts
// ---------------------------------------------------------------------------------------

void CPageBox::ShowMessage(const CString& strMessage)
{
    ShowMessage(m_strPromptTitle, strMessage);
}

void CPageBox::ShowMessage(const CString& strHeading, const CString& strMessage)
{
    CMakeSureDlg dlg(strHeading, strMessage, 0);
    dlg.DoModal();
}

bool CPageBox::RunPrompt(CMakeSureDlg& prompt)
{
    m_pPrompt = &prompt;
    INT_PTR r = prompt.DoModal();
    m_pPrompt = nullptr;
    return r == IDOK;
}

bool CPageBox::RunKeyPrompt(const CString& strHeading, const CString& strMessage)
{
    if (m_btnStart.m_hWnd) {
        m_btnStart.CancelHover();
        m_btnStart.Invalidate();
    }
    m_bPromptOpen = 1;
    CMakeSureDlg prompt(strHeading, strMessage, 0);
    bool bOk = RunPrompt(prompt);
    m_bStartedByKey = 0;
    m_bPromptOpen = 0;
    m_pPrompt = nullptr;
    return bOk;
}

int CPageBox::ConfirmStart(BOOL bDiskCopy)
{
    const CString& strHeading = bDiskCopy ? m_strDiskCopyTitle : m_strBackupTitle;
    const CString& strMessage = bDiskCopy ? m_strDiskCopyPrompt : m_strBackupPrompt;
    if (m_btnStart.m_hWnd) {
        m_btnStart.CancelHover();
        m_btnStart.Invalidate();
    }
    CMakeSureDlg prompt(strHeading, strMessage, 0);
    prompt.m_bCountDown = 1;
    prompt.m_nCountDown = 30;
    m_bPromptOpen = 1;
    bool bOk = RunPrompt(prompt);
    m_bPromptOpen = 0;
    m_pPrompt = nullptr;
    return bOk ? 1 : 0;
}

void CPageBox::ClosePrompt()
{
    if (m_pPrompt) {
        CMakeSureDlg* p = m_pPrompt;
        m_pPrompt = nullptr;
        p->ConfirmFromOutside();
    }
}

void CPageBox::ClosePromptForDrive()
{
    if (m_pPrompt && !GetDestinationText().IsEmpty()) {
        CMakeSureDlg* p = m_pPrompt;
        m_pPrompt = nullptr;
        p->CancelFromOutside();
    }
}

// ---------------------------------------------------------------------------------------
// Starts
// ---------------------------------------------------------------------------------------

bool CPageBox::IsStartBlocked()
{
    if (m_bPromptOpen || m_pPrompt || m_bBackupRunning || m_bRestoreRunning || m_bQuickRunning)
        return true;
    return m_pProgressDlg && (m_pProgressDlg->IsRunning() || m_pProgressDlg->IsWorkerAlive());
}

void CPageBox::RefuseBackupStart()
{
    m_bPromptOpen = 0;
    m_bBackupRunning = 0;
    m_pPrompt = nullptr;
    m_bStartedByKey = 0;
}

bool CPageBox::CheckBackupChoice(const CString& strTarget)
{
    if (IsSourceSelectionEmpty()) {
        ShowMessage(m_strChoseBackupFile);
    } else if (strTarget.IsEmpty()) {
        ShowMessage(m_strChoseDestDisk);
    } else {
        return true;
    }
    RefuseBackupStart();
    return false;
}

void CPageBox::OnTargetDiskRemoved(const CString& strDrive)
{
    if (m_pProgressDlg)
        m_pProgressDlg->OnTargetDiskRemoved(strDrive);
}

int CPageBox::CheckDiskCopySelection()
{
    CBackUpTreeCtrl* pSource = SourceTree();
    CBackUpTreeCtrl* pDest = DestTree();
    int S = pSource ? pSource->m_nChosenDevice : -1;
    int D = pDest ? pDest->m_nChosenDevice : -1;
    if (S == -1 && D == -1)
        return 0;
    if (S == -1) {
        ShowMessage(m_strChoseSourceDisk);
        return -1;
    }
    if (D == -1) {
        ShowMessage(m_strChoseDestDisk);
        return -1;
    }
    if (S == D) {
        ShowMessage(m_strSameDisk);
        return -1;
    }
    return 1;
}

void CPageBox::OnBnClickedBackup()
{
    if (IsStartBlocked()) {
        m_bStartedByKey = 0;
        return;
    }
    m_bPromptOpen = 1;
    m_bBackupRunning = 1;
    m_nLastAction = 1;
    CString T = GetDestinationText();
    int R = CheckDiskCopySelection();
    if (R < 0) {
        RefuseBackupStart();
        return;
    }
    if (R == 1) {
        StartDiskCopy(T);
        return;
    }
    if (!CheckBackupChoice(T))
        return;
    HWND hDest = g_hDestTreeWnd;
    HTREEITEM hTop = hDest && ::IsWindow(hDest) ? TreeView_GetRoot(hDest) : nullptr;
    if (hTop && (TreeView_GetItemState(hDest, hTop, TVIS_STATEIMAGEMASK) >> 12) == TCS_FIXED) {
        ShowMessage(m_strVolumNotFormat);
        RefuseBackupStart();
        return;
    }
    bool bOk = m_bStartedByKey ? RunKeyPrompt(m_strBackupTitle, m_strBackupPrompt) : ConfirmStart(FALSE) == 1;
    if (!bOk) {
        RefuseBackupStart();
        return;
    }
    m_bPromptOpen = 0;
    StartFileBackup(T, FALSE);
}

void CPageBox::StartFileBackup(const CString& strTarget, BOOL bFromQuickPage)
{
    Invalidate(FALSE);
    DisablePageButtons();
    SaveLastBackupTime();
    BuildFileTypeFilter();
    int nSlot = bFromQuickPage ? PAGE_QUICK : PAGE_BACKUP;
    if (!m_pProgressDlg ||
        !m_pProgressDlg->InitOperation(FALSE, bFromQuickPage, m_strProgressBackup, TRUE, strTarget, -1, -1)) {
        // Only a worker that is still alive refuses; the start is undone.
        m_bBackupRunning = 0;
        m_bQuickRunning = 0;
        EnablePageButtons();
        return;
    }
    RunInSlot(nSlot);
}

void CPageBox::RunInSlot(int nSlot)
{
    SetSlotWnd(nSlot, m_pProgressDlg);
    if (nSlot == PAGE_BACKUP) {
        m_btnStart.ShowWindow(SW_HIDE);
        m_btnRestore.ShowWindow(SW_HIDE);
    }
    // A start that fails ends the operation at once through the end handlers.
    m_pProgressDlg->StartOperation();
}

void CPageBox::StartDiskCopy(const CString& strTarget)
{
    const int nSourceNumber = FindCheckedDeviceNumber(g_hSourceTreeWnd);
    const int nTargetNumber = FindCheckedDeviceNumber(g_hDestTreeWnd);
    CString strSourcePath, strTargetPath;
    ULONGLONG nSourceBytes = 0, nTargetBytes = 0;
    DWORD nSourceSector = 0, nTargetSector = 0;
    CString strTargetLetters;
    {
        CDeviceListLock lock;
        int si = FindDeviceIndex(nSourceNumber);
        int ti = FindDeviceIndex(nTargetNumber);
        if (si < 0 || ti < 0 || si == ti) {
            RefuseBackupStart();
            return;
        }
        strSourcePath = g_arrUSBDevice[si].m_strDevicePath;
        strTargetPath = g_arrUSBDevice[ti].m_strDevicePath;
        nSourceBytes = g_arrUSBDevice[si].GetCapacity();
        nTargetBytes = g_arrUSBDevice[ti].GetCapacity();
        nSourceSector = g_arrUSBDevice[si].m_geometry.BytesPerSector;
        nTargetSector = g_arrUSBDevice[ti].m_geometry.BytesPerSector;
        strTargetLetters = g_arrUSBDevice[ti].GetDriveLetters();
    }
    if (nSourceBytes > nTargetBytes) {
        CMakeSureDlg dlg(m_strDiskCopyTitle, m_strSourceGreater, 0);
        RunPrompt(dlg);
        RefuseBackupStart();
        return;
    }
    // A sector size not known yet is left for the copy itself to ask the disk.
    if (nSourceSector && nTargetSector && nSourceSector != nTargetSector) {
        CMakeSureDlg dlg(m_strDiskCopyTitle, FormatSectorSizes(m_strSectorSizes, nSourceSector, nTargetSector), 0);
        RunPrompt(dlg);
        RefuseBackupStart();
        return;
    }
    strTargetLetters.Trim();
    if (!strTargetLetters.IsEmpty()) {
        CMakeSureDlg dlg(m_strDiskCopyTitle, m_strDeletePartitions, 0);
        RunPrompt(dlg);
        RefuseBackupStart();
        return;
    }
    bool bOk = m_bStartedByKey ? RunKeyPrompt(m_strDiskCopyTitle, m_strDiskCopyPrompt) : ConfirmStart(TRUE) == 1;
    if (!bOk) {
        RefuseBackupStart();
        return;
    }
    m_bPromptOpen = 0;

    // The list may have changed while the prompt was open: the copy runs only between the
    // very disks that were chosen, found again by number and path under the list's lock.
    CDeviceListLock lock;
    int si = FindDeviceIndex(nSourceNumber);
    int ti = FindDeviceIndex(nTargetNumber);
    if (si < 0 || ti < 0 || g_arrUSBDevice[si].m_strDevicePath.CompareNoCase(strSourcePath) != 0 ||
        g_arrUSBDevice[ti].m_strDevicePath.CompareNoCase(strTargetPath) != 0) {
        ShowMessage(m_strDiskCopyTitle, m_strDiskGone);
        RefuseBackupStart();
        return;
    }
    Invalidate(FALSE);
    DisablePageButtons();
    if (!m_pProgressDlg || !m_pProgressDlg->InitOperation(TRUE, FALSE, m_strDiskCopyTitle, TRUE, strTarget, si, ti)) {
        m_bBackupRunning = 0;
        EnablePageButtons();
        return;
    }
    RunInSlot(PAGE_BACKUP);
}

void CPageBox::OnBnClickedRestore()
{
    if (IsStartBlocked()) {
        m_bStartedByKey = 0;
        return;
    }
    m_bRestoreRunning = 1;
    CUsbTreeCtrl* pDest = DestTree();
    HTREEITEM hTop = pDest && pDest->m_hWnd ? pDest->GetRootItem() : nullptr;
    if (!hTop) {
        ShowMessage(m_strNoRestoreDisk);
        m_bRestoreRunning = 0;
        m_bStartedByKey = 0;
        return;
    }
    pDest->m_hRootItem = hTop;
    m_nLastAction = 3;
    CString T = GetDestinationText();
    int nTopState = pDest->GetCheck(hTop);
    bool bChecked = nTopState == TCS_CHECKED || nTopState == TCS_MIXED;
    bool bHasEntries = g_hDestComboWnd && ::SendMessageW(g_hDestComboWnd, CB_GETCOUNT, 0, 0) > 0;
    if (!bChecked || !bHasEntries || T.IsEmpty()) {
        m_bRestoreRunning = 0;
        m_bStartedByKey = 0;
        ShowMessage(m_strChoseRestoreFile);
        return;
    }
    if (m_btnStart.m_hWnd)
        m_btnStart.CancelHover();
    CMakeSureDlg prompt(m_strRestoreTitle, m_strRestorePrompt, 0);
    prompt.m_bCountDown = 1;
    prompt.m_nCountDown = 30;
    m_bPromptOpen = 1;
    bool bOk = RunPrompt(prompt);
    m_bPromptOpen = 0;
    if (!bOk) {
        m_bRestoreRunning = 0;
        m_bStartedByKey = 0;
        return;
    }
    if (CWnd* pMain = GetTopLevelParent())
        pMain->Invalidate(FALSE);
    // The restore reads what the tree has checked from its list file; a list that could not be
    // written must not start a restore of an older list.
    pDest->m_strBasePath = T;
    pDest->m_bRestoreMode = 1;
    pDest->SetListFile(kRestoreListFile);
    if (!pDest->SaveSelection()) {
        m_bRestoreRunning = 0;
        return;
    }
    DisablePageButtons();
    if (!m_pProgressDlg || !m_pProgressDlg->InitOperation(FALSE, FALSE, m_strProgressRestore, FALSE, T, -1, -1)) {
        m_bRestoreRunning = 0;
        EnablePageButtons();
        return;
    }
    RunInSlot(PAGE_BACKUP);
}

void CPageBox::StartQuickBackup()
{
    if (IsStartBlocked()) {
        m_bStartedByKey = 0;
        return;
    }
    m_bPromptOpen = 1;
    CString strTarget = GetDestinationText();
    if (!CheckBackupChoice(strTarget))
        return;
    CXmlDocument doc;
    bool bAsk = doc.LoadFile(JoinPath(GetDataFolder(), kSettingsFile)) && GetSettingText(doc, L"MakeSure") == L"1";
    if (bAsk) {
        if (m_dlgQuick.m_btnQuick.m_hWnd)
            m_dlgQuick.m_btnQuick.CancelHover();
        CMakeSureDlg prompt(m_strPromptTitle, m_strQuickPrompt, 0);
        prompt.m_bCountDown = 1;
        prompt.m_nCountDown = 30;
        m_bBackupRunning = 1;
        bool bOk = RunPrompt(prompt);
        if (!bOk) {
            RefuseBackupStart();
            return;
        }
    }
    m_bPromptOpen = 0;
    m_bBackupRunning = 1;
    if (CWnd* pMain = GetTopLevelParent())
        pMain->Invalidate(FALSE);
    m_nLastAction = 0;
    m_bQuickRunning = 1;
    StartFileBackup(strTarget, TRUE);
}

bool CPageBox::StartScheduledBackup()
{
    if (IsStartBlocked()) {
        m_bStartedByKey = 0;
        return false;
    }
    m_bPromptOpen = 1;
    // Like every other start, an empty selection (unchecked or fixed root) is refused.
    CString T = GetDestinationText();
    if (!CheckBackupChoice(T))
        return true;
    m_nLastAction = 2;
    m_bBackupRunning = 1;
    if (!RunKeyPrompt(m_strBackupTitle, m_strBackupPrompt)) {
        RefuseBackupStart();
        return true;
    }
    StartFileBackup(T, FALSE);
    if (m_bBackupRunning)
        OnBnClickedBackupPage();
    return true;
}

// ---------------------------------------------------------------------------------------
// Action buttons, store folder, file-type filter
// ---------------------------------------------------------------------------------------

void CPageBox::EnableActionButtons(BOOL bHasDestination)
{
    int N = g_hDestTreeWnd && ::IsWindow(g_hDestTreeWnd) ? (int)TreeView_GetCount(g_hDestTreeWnd) : 0;
    auto apply = [](CButtonST& b, bool bOn) {
        if (!b.m_hWnd)
            return;
        if (!!b.GetTracking() == bOn)
            return;
        b.SetTracking(bOn ? TRUE : FALSE);
        if (!bOn)
            b.CancelHover();
        b.SetDisabledLook(bOn ? FALSE : TRUE);
    };
    apply(m_btnStart, bHasDestination || N > 1);
    apply(m_btnRestore, !!bHasDestination);
    apply(m_dlgQuick.m_btnQuick, !!bHasDestination);
}

void CPageBox::UpdateBackupFolderHidden()
{
    HWND hCombo = g_hDestComboWnd;
    if (!hCombo || !::IsWindow(hCombo) || ::SendMessageW(hCombo, CB_GETCURSEL, 0, 0) == CB_ERR)
        return;
    CString strDrive = GetDestinationText();
    if (strDrive.GetLength() < 2 || strDrive[1] != L':')
        return;
    // Without readable settings the folder keeps what it has.
    CXmlDocument doc;
    if (!doc.LoadFile(JoinPath(GetDataFolder(), kSettingsFile)))
        return;
    bool bHide = GetSettingText(doc, L"HideBackupFiles") == L"1";
    SetStoreFolderHidden(strDrive.Left(2) + L"\\" + copyengine::kStoreName, bHide);
}

void CPageBox::AddFileTypeFilter(const CString& strList)
{
    int nColon = strList.Find(L':');
    CString strRest = nColon >= 0 ? strList.Mid(nColon + 1) : strList;
    int nPos = 0;
    while (nPos <= strRest.GetLength()) {
        int nComma = strRest.Find(L',', nPos);
        int nEnd = nComma < 0 ? strRest.GetLength() : nComma;
        CString strExt = strRest.Mid(nPos, nEnd - nPos);
        strExt.Trim();
        if (!strExt.IsEmpty() && !IsExtensionInList(m_strFileTypeFilter, strExt)) {
            if (!m_strFileTypeFilter.IsEmpty())
                m_strFileTypeFilter += L",";
            m_strFileTypeFilter += strExt;
        }
        if (nComma < 0)
            break;
        nPos = nComma + 1;
    }
}

void CPageBox::BuildFileTypeFilter()
{
    m_strFileTypeFilter.Empty();
    COtherSetDlg* pOther = m_pPages[PAGE_SETTINGS] ? m_pPages[PAGE_SETTINGS]->GetOtherSettings() : nullptr;
    if (!pOther || !pOther->m_hWnd)
        return;
    static const int kOrder[4] = {COtherSetDlg::TYPE_AUDIOS, COtherSetDlg::TYPE_IMAGES, COtherSetDlg::TYPE_DATAS,
                                  COtherSetDlg::TYPE_VIDEOS};
    for (int nType : kOrder) {
        if (pOther->IsTypeChecked(nType))
            AddFileTypeFilter(pOther->GetTypeLabel(nType));
    }
    // The edit's grey prompt is no list of extensions.
    if (pOther->IsTypeChecked(COtherSetDlg::TYPE_OTHERS))
        AddFileTypeFilter(pOther->GetOtherExtensions());
}
