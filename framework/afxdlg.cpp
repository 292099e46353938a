// Dialogs made from dialog resources: modeless pages and modal dialogs with the class
// layer's own loop.
#include "afxwin.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd) &&
        ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        ::DestroyWindow(m_hWnd);
}

INT_PTR CALLBACK CDialog::DlgProc(HWND, UINT, WPARAM, LPARAM)
{
    // Every message reaches the object through its window procedure first; what the object
    // leaves to the default goes through the dialog class, which lands here.
    return FALSE;
}

BOOL CDialog::CreateFromTemplate(HWND hParent)
{
    HINSTANCE hInst = AfxGetResourceHandle();
    HRSRC hRes = ::FindResourceW(hInst, MAKEINTRESOURCEW(m_nIDTemplate), (LPCWSTR)RT_DIALOG);
    if (!hRes)
        return FALSE;
    HGLOBAL hGlobal = ::LoadResource(hInst, hRes);
    const DLGTEMPLATE* tmpl = hGlobal ? (const DLGTEMPLATE*)::LockResource(hGlobal) : nullptr;
    if (!tmpl)
        return FALSE;
    HookNextCreate();
    HWND h = ::CreateDialogIndirectParamW(hInst, tmpl, hParent, DlgProc, (LPARAM)this);
    UnhookCreate();
    if (!h) {
        if (m_hWnd) {
            Detach();
        }
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    if (m_hWnd)
        return FALSE;
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    m_bModal = false;
    return CreateFromTemplate(pParentWnd ? pParentWnd->m_hWnd : nullptr);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    LRESULT r = 0;
    if (OnWndMsg(message, wParam, lParam, &r))
        return r;
    if (message == WM_HELP) {
        // F1 without a handler of its own: the window's help.
        WinHelp(0, HELP_CONTEXT);
        return TRUE;
    }
    return DefWindowProc(message, wParam, lParam);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (CWnd::OnCommand(wParam, lParam))
        return TRUE;
    // Enter and Esc arrive as IDOK and IDCANCEL; unless the map says otherwise they end the dialog.
    UINT nID = LOWORD(wParam);
    UINT nCode = lParam ? HIWORD(wParam) : 0;
    if (nCode == BN_CLICKED && (nID == IDHELP || nID == ID_HELP)) {
        WinHelp(0, HELP_CONTEXT);
        return TRUE;
    }
    if (nCode == BN_CLICKED) {
        if (nID == IDOK) {
            OnOK();
            return TRUE;
        }
        if (nID == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

namespace {

// A dialog placed as a control inside another dialog (a page, a tab): the dialog manager acts for
// the outermost dialog of such a chain.
bool IsNestedDialog(HWND hWnd)
{
    const DWORD style = (DWORD)::GetWindowLongW(hWnd, GWL_STYLE);
    if ((style & (WS_CHILD | DS_CONTROL)) != (WS_CHILD | DS_CONTROL))
        return false;
    HWND hParent = ::GetParent(hWnd);
    return hParent && ::GetClassLongPtrW(hParent, GCW_ATOM) == (ULONG_PTR)(WORD)(ULONG_PTR)WC_DIALOG;
}

// The control the key goes to takes it itself (a dropped-down list, an edit that handles it).
bool ControlWantsKey(MSG* pMsg)
{
    return pMsg->hwnd && (::SendMessageW(pMsg->hwnd, WM_GETDLGCODE, pMsg->wParam, (LPARAM)pMsg) & DLGC_WANTMESSAGE);
}

}  // namespace

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    // Keyboard navigation of the dialog (Tab, Enter, Esc, mnemonics).
    if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST)
        return FALSE;
    // Esc inside a nested dialog would have the dialog manager cancel the outermost dialog at
    // once, before the filters of the dialogs that hold this one have seen the key. It goes on up
    // to the holding dialog instead, which handles it, filters it or cancels itself.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_CANCEL) &&
        IsNestedDialog(m_hWnd) && !ControlWantsKey(pMsg))
        return FALSE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    if (m_bModal) {
        if (m_bContinueModal) {
            m_bContinueModal = false;
            ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the loop
        }
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, nResult);
    }
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    // The owner is the parent's top-level window; it is disabled while the dialog runs.
    while (hParent && (::GetWindowLongW(hParent, GWL_STYLE) & WS_CHILD))
        hParent = ::GetParent(hParent);
    bool reenable = false;
    if (hParent && ::IsWindowEnabled(hParent)) {
        ::EnableWindow(hParent, FALSE);
        reenable = true;
    }
    m_bModal = true;
    m_bContinueModal = true;
    m_nModalResult = -1;
    if (!CreateFromTemplate(hParent)) {
        if (reenable)
            ::EnableWindow(hParent, TRUE);
        m_bModal = false;
        return -1;
    }
    if (m_bContinueModal && !::IsWindowVisible(m_hWnd))
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);

    MSG msg;
    while (m_bContinueModal && m_hWnd) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
            AfxPurgeTemporaryMaps();
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r <= 0) {
            // The application is quitting: leave the loop and hand the quit on.
            ::PostQuitMessage((int)msg.wParam);
            if (m_nModalResult == -1)
                m_nModalResult = IDABORT;
            break;
        }
        if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    // Re-enable the owner before the dialog goes so that activation returns to it.
    if (reenable)
        ::EnableWindow(hParent, TRUE);
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (hParent && ::GetActiveWindow() == m_hWnd)
            ::SetActiveWindow(hParent);
        ::DestroyWindow(m_hWnd);
    }
    m_bModal = false;
    return m_nModalResult;
}
