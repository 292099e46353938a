#include "PageBox.h"

#include "DataFiles.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "TreeShared.h"
#include "XmlDocument.h"

#include <map>

namespace {

std::map<int, PanelPageFactory>& Factories()
{
    static std::map<int, PanelPageFactory> s_factories;
    return s_factories;
}

IPanelOperations* g_pPanelOperations = nullptr;

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

void SetPanelOperations(IPanelOperations* pOperations) { g_pPanelOperations = pOperations; }
IPanelOperations* GetPanelOperations() { return g_pPanelOperations; }

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
// Starts
// ---------------------------------------------------------------------------------------

void CPageBox::ShowMessage(const CString& strMessage)
{
    CMakeSureDlg dlg(m_strPromptTitle, strMessage, 0);
    dlg.DoModal();
}

bool CPageBox::RunPrompt(CMakeSureDlg& prompt)
{
    m_pPrompt = &prompt;
    INT_PTR r = prompt.DoModal();
    m_pPrompt = nullptr;
    return r == IDOK;
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

void CPageBox::OnBnClickedBackup()
{
    if (IsOperationRunning() || m_bPromptOpen) {
        m_bStartedByKey = 0;
        return;
    }
    if (IPanelOperations* pOps = GetPanelOperations()) {
        pOps->StartBackupOrDiskCopy(this);
        return;
    }
    m_bStartedByKey = 0;
}

void CPageBox::OnBnClickedRestore()
{
    if (IsOperationRunning() || m_bPromptOpen)
        return;
    if (IPanelOperations* pOps = GetPanelOperations())
        pOps->StartRestore(this);
}

void CPageBox::StartQuickBackup()
{
    if (IsOperationRunning() || m_bPromptOpen)
        return;
    m_bPromptOpen = 1;
    if (IsSourceSelectionEmpty()) {
        ShowMessage(m_strChoseBackupFile);
        m_bPromptOpen = 0;
        return;
    }
    CString strTarget = GetDestinationText();
    if (strTarget.IsEmpty()) {
        ShowMessage(m_strChoseDestDisk);
        m_bPromptOpen = 0;
        return;
    }
    CXmlDocument doc;
    bool bAsk = doc.LoadFile(JoinPath(GetDataFolder(), kSettingsFile)) && GetSettingText(doc, L"MakeSure") == L"1";
    if (bAsk) {
        m_dlgQuick.m_btnQuick.CancelHover();
        CMakeSureDlg prompt(m_strPromptTitle, m_strQuickPrompt, 0);
        prompt.m_bCountDown = 1;
        prompt.m_nCountDown = 30;
        m_bBackupRunning = 1;
        bool bOk = RunPrompt(prompt);
        m_bPromptOpen = 0;
        if (!bOk) {
            m_bBackupRunning = 0;
            return;
        }
    }
    m_bPromptOpen = 0;
    IPanelOperations* pOps = GetPanelOperations();
    if (!pOps) {
        m_bBackupRunning = 0;
        return;
    }
    m_bBackupRunning = 1;
    SaveLastBackupTime();
    m_nLastAction = 0;
    m_bQuickRunning = 1;
    DisablePageButtons();
    pOps->StartQuickBackup(this, strTarget);
}
