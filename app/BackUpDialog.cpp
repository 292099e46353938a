#include "BackUpDialog.h"

#include "ButtonWatch.h"
#include "DataFiles.h"
#include "LanguageText.h"
#include "MemDC.h"
#include "PageBox.h"
#include "SharedFunctions.h"
#include "ShellIo.h"
#include "SkinUtil.h"
#include "SystemIo.h"
#include "TreeShared.h"
#include "XmlDocument.h"
#include "ZedoUSBLib.h"

#include <dbt.h>
#include <cstddef>
#include <vector>

int g_bScheduleFired = 0;

namespace {

const DWORD kTreeStyle = WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS |
                         TVS_SHOWSELALWAYS | TVS_CHECKBOXES;

// The drive letters of a disk's letter text ("E: G: "), upper-cased.
std::vector<wchar_t> LettersOf(const CString& strLetters)
{
    std::vector<wchar_t> letters;
    for (int i = 1; i < strLetters.GetLength(); ++i) {
        wchar_t ch = strLetters[i - 1];
        if (strLetters[i] != L':')
            continue;
        if (ch >= L'a' && ch <= L'z')
            ch = static_cast<wchar_t>(ch - L'a' + L'A');
        if (ch >= L'A' && ch <= L'Z')
            letters.push_back(ch);
    }
    return letters;
}

CString DriveText(wchar_t ch)
{
    CString s;
    s.Format(L"%lc:", ch);
    return s;
}

// The label of a disk item: the product text and "( N )".
CString DeviceLabel(const CUSBDevice& dev)
{
    CString s;
    s.Format(L"%ls( %d )", dev.m_strProductName.GetString(), dev.m_nDeviceNumber);
    return s;
}

// Takes the device-list mutex; false when it does not exist or the wait fails.
bool LockDeviceList()
{
    if (!g_hDeviceListMutex)
        return false;
    DWORD dw = ::WaitForSingleObject(g_hDeviceListMutex, INFINITE);
    return dw == WAIT_OBJECT_0 || dw == WAIT_ABANDONED;
}

INT_PTR FindDeviceNumber(int nNumber)
{
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i)
        if (g_arrUSBDevice[i].m_nDeviceNumber == nNumber)
            return i;
    return -1;
}

// Where a disk goes in the list: before the first entry with a greater number.
INT_PTR InsertPosition(int nNumber)
{
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i)
        if (g_arrUSBDevice[i].m_nDeviceNumber > nNumber)
            return i;
    return g_arrUSBDevice.GetSize();
}

// Inserts a disk item among a tree's top-level items in device-number order; nothing when the
// tree lists the disk already.
void InsertDeviceInOrder(CInitTreeCtrl& tree, int nNumber, const CString& strLabel)
{
    HTREEITEM hAfter = TVI_FIRST;
    for (HTREEITEM h = tree.GetRootItem(); h; h = tree.GetNextSiblingItem(h)) {
        DWORD_PTR d = tree.GetItemData(h);
        if (IsTreeDeviceData(d)) {
            if (d == static_cast<DWORD_PTR>(nNumber) + TREE_DATA_DEVICE_BASE)
                return;
            if (static_cast<LONG_PTR>(d - TREE_DATA_DEVICE_BASE) > nNumber)
                break;
        }
        hAfter = h;
    }
    tree.InsertDeviceItem(nNumber, strLabel, TCS_UNCHECKED, hAfter);
}

void DeleteDeviceItem(CInitTreeCtrl& tree, int nNumber)
{
    for (HTREEITEM h = tree.GetRootItem(); h; h = tree.GetNextSiblingItem(h)) {
        if (tree.GetItemData(h) == static_cast<DWORD_PTR>(nNumber) + TREE_DATA_DEVICE_BASE) {
            tree.DeleteTreeItem(h);
            return;
        }
    }
}

void RemoveRoot(CStringArray& arr, const CString& strRoot)
{
    for (INT_PTR i = arr.GetSize() - 1; i >= 0; --i)
        if (arr[i].CompareNoCase(strRoot) == 0)
            arr.RemoveAt(i);
}

CString TwoDigits(int n)
{
    CString s;
    s.Format(n < 10 ? L"0%d" : L"%d", n);
    return s;
}

} // namespace

// "08:05": hour and minute with two digits each.
CString FormatTimeHHMM(int nHour, int nMinute)
{
    CString s;
    s.Format(L"%ls:%ls", TwoDigits(nHour).GetString(), TwoDigits(nMinute).GetString());
    return s;
}

BEGIN_MESSAGE_MAP(CTreeFrame, CStatic)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

void CTreeFrame::OnPaint()
{
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    dc.Draw3dRect(&rc, RGB(200, 212, 228), RGB(200, 212, 228));
}

BEGIN_MESSAGE_MAP(CBackUpDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_TIMER()
    ON_WM_DEVICECHANGE()
    ON_WM_DESTROY()
    ON_WM_CTLCOLOR()
    ON_WM_ERASEBKGND()
    ON_WM_SIZE()
    ON_CBN_SELCHANGE(IDC_BACKUP_DEST_COMBO, OnCbnSelchangeDestination)
END_MESSAGE_MAP()

CBackUpDialog::CBackUpDialog() : CDialog(IDD)
{
    static const wchar_t* const kDays[7] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                            L"Thursday", L"Friday", L"Saturday"};
    for (int i = 0; i < 7; ++i)
        m_strWeekDays[i] = kDays[i];
    LoadLanguageText();
    CreateDialogFont(m_font, 12, FW_NORMAL, L"MingLiU");
}

CBackUpDialog::~CBackUpDialog()
{
    if (m_hWnd)
        DestroyWindow();
    m_font.DeleteObject();
    // The watchers end before their devices are closed.
    StopButtonWatchAndClose();
    if (g_hOpenDevEvent) {
        ::CloseHandle(g_hOpenDevEvent);
        g_hOpenDevEvent = nullptr;
    }
    if (g_hDeviceListMutex) {
        ::CloseHandle(g_hDeviceListMutex);
        g_hDeviceListMutex = nullptr;
    }
}

BOOL CBackUpDialog::CreatePage(CPageBox* pPanel, const CRect& rcPage)
{
    m_pPanel = pPanel;
    if (!Create(IDD, pPanel))
        return FALSE;
    SetWindowPos(nullptr, rcPage.left, rcPage.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void CBackUpDialog::LoadLanguageText()
{
    m_strTitle = GetLanguageTextOr(L"BackupTitle", L"File Backup");
    CString strDrives = GetLanguageTextOr(L"Partitions", L"partitions:");
    CString strSize = GetLanguageTextOr(L"DiskSize", L"size:");
    for (CBackUpTreeCtrl* pTree : {static_cast<CBackUpTreeCtrl*>(&m_treeSource), static_cast<CBackUpTreeCtrl*>(&m_treeDest)}) {
        pTree->m_strTipDriveCaption = strDrives;
        pTree->m_strTipSizeCaption = strSize;
    }
}

void CBackUpDialog::ReloadLanguageText()
{
    LoadLanguageText();
    if (m_hWnd)
        Invalidate(FALSE);
}

int CBackUpDialog::OnCreate(LPCREATESTRUCT lpcs)
{
    if (CDialog::OnCreate(lpcs) == -1)
        return -1;
    SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int w = kWidth, h = kHeight;
    m_cbDest.Create(WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT | CBS_NOINTEGRALHEIGHT,
                    CRect(w - 130, 30, w - 5, 120), this, IDC_BACKUP_DEST_COMBO);
    m_cbDest.LoadSkinImages();
    m_cbDest.SetFont(&m_font);
    m_treeSource.Create(kTreeStyle, CRect(15, 65, (w - 10) / 2 - 15, h), this, IDC_BACKUP_SOURCE_TREE);
    m_treeDest.Create(kTreeStyle, CRect((w + 10) / 2 + 20, 65, w - 10, h), this, IDC_BACKUP_DEST_TREE);
    return 0;
}

BOOL CBackUpDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    // The button watch's start-up state; the watch itself starts from the settings.
    if (!g_hOpenDevEvent)
        g_hOpenDevEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    g_bBackupButtonPressed = 0;
    // No watcher may keep polling a list entry that is about to be cleared.
    StopButtonWatchAndClose();
    g_bStopButtonWatch = 0;
    for (USBDevEntry_& e : g_usbDevList.Entry) {
        e.hDevice = nullptr;
        memset(e.szDriveLetters, 0, sizeof(e.szDriveLetters));
        memset(e.ucRevision, 0, sizeof(e.ucRevision));
    }
    InitTrees();
    SetTimer(kTimerId, kTimerMs);
    return TRUE;
}

void CBackUpDialog::InitTrees()
{
    g_hSourceTreeWnd = m_treeSource.m_hWnd;
    g_hDestTreeWnd = m_treeDest.m_hWnd;
    g_hDestComboWnd = m_cbDest.m_hWnd;
    m_frameSource.SubclassDlgItem(IDC_BACKUP_FRAME_SOURCE, this);
    m_frameDest.SubclassDlgItem(IDC_BACKUP_FRAME_DEST, this);
    // The frames lie under the trees.
    for (CWnd* pFrame : {static_cast<CWnd*>(&m_frameSource), static_cast<CWnd*>(&m_frameDest)})
        if (pFrame->m_hWnd)
            ::SetWindowPos(pFrame->m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The list's guard exists before the first arrival can be handled.
    if (!g_hDeviceListMutex)
        g_hDeviceListMutex = ::CreateMutexW(nullptr, FALSE, nullptr);

    ZedoUSBLib_Load();
    m_bLibraryLoaded = true;
    LayoutTrees();
    if (!CUSBDevice::RegisterUSBDeviceNotify(m_hWnd))
        return;

    for (CBackUpTreeCtrl* pTree : {static_cast<CBackUpTreeCtrl*>(&m_treeSource), static_cast<CBackUpTreeCtrl*>(&m_treeDest)}) {
        pTree->ModifyStyle(0, kTreeStyle & ~WS_CHILD);
        pTree->AttachImageLists();
    }
    m_treeSource.InsertComputerItem();
    RefreshDeviceList();
    InsertSourceDrives();
    // The drives take their check images from the selection file, whatever its order.
    m_treeSource.ReloadCheckImages();
    FillDeviceViews();

    if (LoadPngResource(IDB_BACKUP_HEADER, m_imgHeader))
        PremultiplyAlpha(m_imgHeader);
    if (m_treeSource.m_hRootItem)
        m_treeSource.Expand(m_treeSource.m_hRootItem, TVE_EXPAND);
    m_treeDest.m_bRestoreMode = 1;
    CheckDestination();
    if (m_treeSource.m_hRootItem)
        m_treeSource.SortChildren(m_treeSource.m_hRootItem);
    if (m_cbDest.GetCount() > 0)
        SelectDestination(0);
}

void CBackUpDialog::LayoutTrees()
{
    CRect rc;
    GetWindowRect(&rc);
    const int w = rc.Width(), h = rc.Height();
    const int cx = (w - 10) / 2 - 20;
    if (m_frameSource.m_hWnd)
        m_frameSource.MoveWindow(10, 50, cx, h - 50, TRUE);
    if (m_frameDest.m_hWnd)
        m_frameDest.MoveWindow((w + 10) / 2 + 10, 50, cx, h - 50, TRUE);
}

void CBackUpDialog::InsertSourceDrives()
{
    HTREEITEM hComputer = m_treeSource.m_hRootItem;
    if (!hComputer)
        return;
    // The backup disks' volumes are destinations, never sources.
    CString strBridgeLetters;
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i) {
        CUSBDevice& dev = g_arrUSBDevice.ElementAt(i);
        if (dev.m_strDriveLetters.IsEmpty())
            dev.GetDriveLetters();
        strBridgeLetters += dev.m_strDriveLetters;
    }
    std::vector<wchar_t> bridge = LettersOf(strBridgeLetters);

    IShellIo& shell = ShellIo();
    const DWORD dwDrives = shell.LogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(dwDrives & (1u << i)))
            continue;
        // The letter comes from the drive itself, not from its display name.
        const wchar_t ch = static_cast<wchar_t>(L'A' + i);
        bool bBridge = false;
        for (wchar_t b : bridge)
            bBridge = bBridge || b == ch;
        if (bBridge)
            continue;
        CString strRoot;
        strRoot.Format(L"%lc:\\", ch);
        const UINT nType = shell.DriveType(strRoot);
        if (nType == DRIVE_CDROM || nType == DRIVE_REMOTE)
            continue;
        SHFILEINFOW sfi = {};
        shell.FileInfo(strRoot, 0, &sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
        CString strName(sfi.szDisplayName);
        if (strName.IsEmpty())
            strName.Format(L"(%lc:)", ch);
        const int nIcon = sfi.iIcon == 3 ? 9 : sfi.iIcon;

        DWORD_PTR dwData = static_cast<DWORD_PTR>(ch) << 8;
        int nCheck = TCS_UNCHECKED;
        bool bFileSystem = false;
        // A floppy drive is never asked (that would spin it up or prompt for a disk).
        if (!(nType == DRIVE_REMOVABLE && ch == L'A')) {
            wchar_t szFs[MAX_PATH + 1] = {};
            bFileSystem = shell.VolumeInformation(strRoot, nullptr, 0, nullptr, nullptr, nullptr, szFs, MAX_PATH + 1) &&
                          szFs[0];
        }
        if (!bFileSystem) {
            dwData += 2;
            nCheck = TCS_FIXED;
        }
        HTREEITEM hItem =
            m_treeSource.InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, strName, nIcon,
                                    nIcon, INDEXTOSTATEIMAGEMASK(nCheck), TVIS_STATEIMAGEMASK,
                                    static_cast<LPARAM>(dwData), hComputer, TVI_LAST);
        if (hItem)
            m_treeSource.InsertTempChildItem(hItem);
    }
}

void CBackUpDialog::RefreshDeviceList()
{
    CArray<CUSBDevice> found;
    CUSBDevice::EnumUSBDevices(found);
    if (!LockDeviceList())
        return;
    for (INT_PTR i = 0; i < found.GetSize(); ++i) {
        // One entry per disk.
        if (FindDeviceNumber(found[i].m_nDeviceNumber) >= 0)
            continue;
        g_arrUSBDevice.InsertAt(InsertPosition(found[i].m_nDeviceNumber), found[i]);
    }
    ::ReleaseMutex(g_hDeviceListMutex);
}

void CBackUpDialog::FillDeviceViews()
{
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize(); ++i) {
        CUSBDevice& dev = g_arrUSBDevice.ElementAt(i);
        AddComboLetters(dev, false);
        const CString strLabel = DeviceLabel(dev);
        m_treeSource.InsertDeviceItem(dev.m_nDeviceNumber, strLabel, TCS_UNCHECKED, TVI_LAST);
        m_treeDest.InsertDeviceItem(dev.m_nDeviceNumber, strLabel, TCS_UNCHECKED, TVI_LAST);
    }
}

void CBackUpDialog::AddComboLetters(CUSBDevice& dev, bool bAtTop)
{
    if (dev.m_strDriveLetters.IsEmpty())
        dev.GetDriveLetters();
    for (wchar_t ch : LettersOf(dev.m_strDriveLetters)) {
        const CString strDrive = DriveText(ch);
        if (m_cbDest.FindStringExact(-1, strDrive) != CB_ERR)
            continue;
        if (bAtTop)
            m_cbDest.InsertString(0, strDrive);
        else
            m_cbDest.AddString(strDrive);
        const CString strRoot = strDrive + L"\\";
        RemoveRoot(m_arrDriveRoots, strRoot);
        m_arrDriveRoots.Add(strRoot);
        m_treeDest.AddDriveRoot(strRoot);
    }
}

void CBackUpDialog::SelectDestination(int nIndex)
{
    m_cbDest.SetCurSel(nIndex);
    CString strText;
    if (nIndex >= 0)
        m_cbDest.GetLBText(nIndex, strText);
    m_treeDest.ShowDriveRoot(strText);
    m_treeDest.m_hHoverItem = nullptr;
}

void CBackUpDialog::CheckDestination()
{
    if (!m_cbDest.m_hWnd)
        return;
    const bool bAny = m_cbDest.GetCount() > 0;
    if (!bAny)
        m_cbDest.SetCurSel(-1);
    if (m_pPanel)
        m_pPanel->EnableActionButtons(bAny ? TRUE : FALSE);
}

// --- Disks coming and going ---------------------------------------------------------------------

BOOL CBackUpDialog::OnDeviceChange(UINT nEventType, DWORD_PTR dwData)
{
    if (!dwData)
        return FALSE;
    const DEV_BROADCAST_HDR* pHdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(dwData);
    if (pHdr->dbch_size < sizeof(DEV_BROADCAST_HDR) || pHdr->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return TRUE;
    if (nEventType == DBT_DEVICEREMOVEPENDING) {
        DebugMessage(4, L"OnDeviceChange=> DBT_DEVICEREMOVEPENDING data: %p", reinterpret_cast<void*>(dwData));
        return TRUE;
    }
    if (nEventType != DBT_DEVICEARRIVAL && nEventType != DBT_DEVICEREMOVECOMPLETE)
        return TRUE;

    // The path ends where the record does, whether or not the sender terminated it.
    const auto* pInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(dwData);
    const size_t nNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    CString strPath;
    if (pHdr->dbch_size > nNameOffset) {
        const size_t nMax = (pHdr->dbch_size - nNameOffset) / sizeof(wchar_t);
        strPath = CString(pInterface->dbcc_name, static_cast<int>(wcsnlen(pInterface->dbcc_name, nMax)));
    }

    if (nEventType == DBT_DEVICEARRIVAL) {
        m_bCurDeviceValid = 0;
        if (strPath.IsEmpty())
            return TRUE;
        CUSBDevice dev(strPath);
        if (!dev.IdentifyDevice())
            return TRUE;
        m_bCurDeviceValid = 1;
        m_curDevice = dev;
        AddDeviceToViews(dev);
        bool bAdded = false;
        if (LockDeviceList()) {
            INT_PTR nListed = FindDeviceNumber(dev.m_nDeviceNumber);
            if (nListed >= 0) {
                // A repeated arrival of a listed disk refreshes its entry.
                g_arrUSBDevice[nListed] = dev;
            } else {
                g_arrUSBDevice.InsertAt(InsertPosition(dev.m_nDeviceNumber), dev);
                bAdded = true;
            }
            ::ReleaseMutex(g_hDeviceListMutex);
        }
        if (bAdded)
            RestartButtonWatch();
    } else if (!strPath.IsEmpty()) {
        RemoveDeviceFromViews(CUSBDevice(strPath));
    }
    return TRUE;
}

void CBackUpDialog::AddDeviceToViews(CUSBDevice& dev)
{
    if (FindDeviceNumber(dev.m_nDeviceNumber) < 0) {
        const CString strLabel = DeviceLabel(dev);
        InsertDeviceInOrder(m_treeSource, dev.m_nDeviceNumber, strLabel);
        InsertDeviceInOrder(m_treeDest, dev.m_nDeviceNumber, strLabel);
    }
    AddComboLetters(dev, true);
}

void CBackUpDialog::RemoveDeviceFromViews(const CUSBDevice& removed)
{
    INT_PTR nIndex = -1;
    for (INT_PTR i = 0; i < g_arrUSBDevice.GetSize() && nIndex < 0; ++i)
        if (g_arrUSBDevice[i].m_strDevicePath.CompareNoCase(removed.m_strDevicePath) == 0)
            nIndex = i;
    if (nIndex < 0)
        return;
    const CUSBDevice entry = g_arrUSBDevice[nIndex];
    const int nNumber = entry.m_nDeviceNumber;

    for (CBackUpTreeCtrl* pTree : {static_cast<CBackUpTreeCtrl*>(&m_treeSource), static_cast<CBackUpTreeCtrl*>(&m_treeDest)}) {
        if (pTree->m_nChosenDevice == nNumber) {
            pTree->m_nChosenDevice = -1;
            pTree->m_hChosenDeviceItem = nullptr;
            pTree->m_nDeviceReset = 1;
        }
    }

    if (!LockDeviceList())
        return;
    DeleteDeviceItem(m_treeDest, nNumber);
    DeleteDeviceItem(m_treeSource, nNumber);

    CString strCurrent;
    if (m_cbDest.GetCurSel() >= 0)
        m_cbDest.GetLBText(m_cbDest.GetCurSel(), strCurrent);
    bool bCurrentGone = false;
    for (wchar_t ch : LettersOf(entry.m_strDriveLetters)) {
        const CString strDrive = DriveText(ch);
        int nAt = m_cbDest.FindStringExact(-1, strDrive);
        if (nAt != CB_ERR)
            m_cbDest.DeleteString(nAt);
        bCurrentGone = bCurrentGone || strCurrent.CompareNoCase(strDrive) == 0;
        RemoveRoot(m_arrDriveRoots, strDrive + L"\\");
        RemoveRoot(m_treeDest.m_arrDriveRoots, strDrive + L"\\");
    }
    if (!strCurrent.IsEmpty() && !bCurrentGone) {
        // The destination belongs to another disk: it stays chosen.
        m_cbDest.SetCurSel(m_cbDest.FindStringExact(-1, strCurrent));
    } else {
        m_cbDest.SetCurSel(-1);
        if (m_cbDest.GetCount() > 0)
            SelectDestination(0);
        else if (bCurrentGone)
            SelectDestination(-1);
    }
    g_arrUSBDevice.RemoveAt(nIndex);
    ::ReleaseMutex(g_hDeviceListMutex);

    RestartButtonWatch();
    if (m_pPanel)
        m_pPanel->ClosePromptForDrive();
    CheckDestination();
}

void CBackUpDialog::RestartButtonWatch()
{
    if (!g_bUSBHotKey)
        return;
    StopButtonWatchAndClose();
    if (g_arrUSBDevice.GetSize() > 0) {
        g_bStopButtonWatch = 0;
        StartButtonWatch();
    }
}

void CBackUpDialog::OnCbnSelchangeDestination()
{
    int nSel = m_cbDest.GetCurSel();
    CString strText;
    if (nSel >= 0)
        m_cbDest.GetLBText(nSel, strText);
    if (m_pPanel)
        m_pPanel->UpdateBackupFolderHidden();
    m_treeDest.ShowDriveRoot(strText);
    m_treeDest.m_hHoverItem = nullptr;
}

// --- The button and the schedule ----------------------------------------------------------------

void CBackUpDialog::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kTimerId || !m_pPanel)
        return;
    CPageBox& panel = *m_pPanel;
    // Nothing starts beside a running operation or a worker that has not ended.
    if (panel.m_bRestoreRunning || panel.m_bQuickRunning)
        return;
    if (panel.m_bPromptOpen) {
        // A press confirms the open start prompt; the schedule waits until it has closed.
        if (ConsumeBackupButtonPress())
            panel.ClosePrompt();
        return;
    }
    if (panel.m_bBackupRunning)
        return;

    if (ConsumeBackupButtonPress()) {
        CWnd* pMain = AfxGetMainWnd();
        if (pMain && pMain->m_hWnd)
            pMain->ShowWindow(SW_SHOW);
        panel.m_bStartedByKey = 1;
        panel.OnBnClickedBackupPage();
        panel.OnBnClickedBackup();
        if (!panel.IsOperationRunning())
            panel.m_bStartedByKey = 0;
        return;
    }
    CheckSchedule();
}

void CBackUpDialog::CheckSchedule()
{
    SYSTEMTIME st = {};
    SystemIo().GetLocalTime(&st);
    const CString strNow = FormatTimeHHMM(st.wHour, st.wMinute);
    CString strDate, strStamp;
    strDate.Format(L"%d-%d-%d", st.wYear, st.wMonth, st.wDay);
    strStamp.Format(L"%ls %d:%d", strDate.GetString(), st.wHour, st.wMinute);
    if (g_bScheduleFired && m_strScheduleStamp == strStamp)
        return;

    m_strScheduleStamp.Empty();
    if (st.wDayOfWeek > 6)
        return;
    CXmlDocument doc;
    if (!doc.LoadFile(JoinPath(GetDataFolder(), kSettingsFile)))
        return;
    doc.ResetPosition();
    if (!doc.FindChildElement(m_strWeekDays[st.wDayOfWeek]))
        return;
    if (doc.GetChildAttribute(L"IsSet") != L"1")
        return;
    m_strScheduleStamp = strStamp;
    if (doc.GetChildAttribute(L"Timing") != strNow)
        return;
    // Once per date: a repeated hour at the end of daylight saving time does not fire again.
    if (m_strScheduleFiredDate == strDate)
        return;
    // The date counts as fired while the start runs (its prompt pumps this timer), and stays
    // so only when the panel took the start. A start refused because the last run or its
    // worker is still ending is asked for again on the next ticks of this minute; the stamp
    // must not stop those ticks.
    const int bFiredBefore = g_bScheduleFired;
    const CString strFiredDateBefore = m_strScheduleFiredDate;
    g_bScheduleFired = 1;
    m_strScheduleFiredDate = strDate;
    if (!OnScheduleDue()) {
        g_bScheduleFired = bFiredBefore;
        m_strScheduleFiredDate = strFiredDateBefore;
        m_strScheduleStamp.Empty();
    }
}

bool CBackUpDialog::OnScheduleDue()
{
    return m_pPanel && m_pPanel->StartScheduledBackup();
}

// --- Painting and the rest ----------------------------------------------------------------------

void CBackUpDialog::DrawTitle(CDC& dc, const CImage& img, int x, const CString& strText, int nRight)
{
    int cx = 0, cy = 0;
    if (!img.IsNull()) {
        img.Draw(dc.m_hDC, x, 10);
        cx = img.GetWidth();
        cy = img.GetHeight();
    }
    CRect rc(x + cx + 5, cy + 10 - 14, nRight, cy + 10);
    dc.DrawText(strText, &rc, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void CBackUpDialog::OnPaint()
{
    CPaintDC paint(this);
    CRect rc;
    GetClientRect(&rc);
    const int w = rc.Width();
    if (!m_bIconsLoaded) {
        m_bIconsLoaded = true;
        if (LoadPngResource(IDB_BACKUP_PAGE_ICON, m_imgIcon))
            PremultiplyAlpha(m_imgIcon);
        if (LoadPngResource(IDB_BACKUP_DEVICE_ICON, m_imgDevice))
            PremultiplyAlpha(m_imgDevice);
    }
    CMemDC dc(&paint, &rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    const int half = (w - 10) / 2;
    if (!m_imgHeader.IsNull()) {
        const int hh = m_imgHeader.GetHeight() + 8;
        m_imgHeader.Draw(dc.m_hDC, 0, 0, half, hh);
        m_imgHeader.Draw(dc.m_hDC, (w + 10) / 2, 0, half, hh);
    }
    HGDIOBJ hOld = ::SelectObject(dc.m_hDC, m_font.m_hObject);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(0, 0, 0));
    DrawTitle(dc, m_imgIcon, 10, m_strTitle, half);
    DrawTitle(dc, m_imgDevice, (w + 10) / 2 + 10, L"USB Device", w - 10);
    ::SelectObject(dc.m_hDC, hOld);
}

HBRUSH CBackUpDialog::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}

void CBackUpDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    ApplyRoundRegion(this);
}

void CBackUpDialog::OnDestroy()
{
    KillTimer(kTimerId);
    if (g_hDeviceNotify) {
        ::UnregisterDeviceNotification(g_hDeviceNotify);
        g_hDeviceNotify = nullptr;
    }
    // The watchers stop polling before the library goes.
    StopButtonWatchAndClose();
    if (m_bLibraryLoaded) {
        ZedoUSBLib_Unload();
        m_bLibraryLoaded = false;
    }
    if (g_hSourceTreeWnd == m_treeSource.m_hWnd)
        g_hSourceTreeWnd = nullptr;
    if (g_hDestTreeWnd == m_treeDest.m_hWnd)
        g_hDestTreeWnd = nullptr;
    if (g_hDestComboWnd == m_cbDest.m_hWnd)
        g_hDestComboWnd = nullptr;
    CDialog::OnDestroy();
}
