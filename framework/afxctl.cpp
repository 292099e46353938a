// Standard and common control wrappers.
#include "afxctl.h"

namespace {

// Reads item i's text of a list box or of a combo box's list: the length message first,
// then the text message into a buffer of that size. A missing item gives an empty string.
void ReadItemText(const CWnd& wnd, UINT lenMsg, UINT textMsg, int i, CString& s)
{
    int n = (int)wnd.SendMessage(lenMsg, i);
    if (n < 0) {
        s.Empty();
        return;
    }
    wchar_t* p = s.GetBuffer(n + 1);
    int got = (int)wnd.SendMessage(textMsg, i, (LPARAM)p);
    s.ReleaseBuffer(got < 0 ? 0 : got);
}

// Owner-drawn list boxes and combo boxes draw and measure their own items when the parent
// passes the request back to them.
template <class Ctl>
BOOL OwnerDrawNotify(Ctl& ctl, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_DRAWITEM) {
        ctl.DrawItem((LPDRAWITEMSTRUCT)lParam);
    } else if (message == WM_MEASUREITEM) {
        ctl.MeasureItem((LPMEASUREITEMSTRUCT)lParam);
    } else {
        return ctl.CWnd::OnChildNotify(message, wParam, lParam, pResult);
    }
    if (pResult)
        *pResult = TRUE;
    return TRUE;
}

}  // namespace

BOOL CButton::Create(const wchar_t* caption, DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, L"BUTTON", caption, style | WS_CHILD, r, pParent, nID);
}

BOOL CButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_DRAWITEM) {
        DrawItem((LPDRAWITEMSTRUCT)lParam);
        if (pResult)
            *pResult = TRUE;
        return TRUE;
    }
    return CWnd::OnChildNotify(message, wParam, lParam, pResult);
}

BOOL CStatic::Create(const wchar_t* text, DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, L"STATIC", text, style | WS_CHILD, r, pParent, nID);
}

BOOL CEdit::Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, L"EDIT", nullptr, style | WS_CHILD, r, pParent, nID);
}

BOOL CListBox::Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, L"LISTBOX", nullptr, style | WS_CHILD, r, pParent, nID);
}

void CListBox::GetText(int i, CString& s) const { ReadItemText(*this, LB_GETTEXTLEN, LB_GETTEXT, i, s); }

BOOL CListBox::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    return OwnerDrawNotify(*this, message, wParam, lParam, pResult);
}

BOOL CComboBox::Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, L"COMBOBOX", nullptr, style | WS_CHILD, r, pParent, nID);
}

void CComboBox::GetLBText(int i, CString& s) const { ReadItemText(*this, CB_GETLBTEXTLEN, CB_GETLBTEXT, i, s); }

BOOL CComboBox::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    return OwnerDrawNotify(*this, message, wParam, lParam, pResult);
}

// ---------------------------------------------------------------------------------------
// Tree
// ---------------------------------------------------------------------------------------

BOOL CTreeCtrl::Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, WC_TREEVIEWW, nullptr, style | WS_CHILD, r, pParent, nID);
}

HTREEITEM CTreeCtrl::InsertItem(UINT mask, const wchar_t* text, int image, int selImage, UINT state,
                                UINT stateMask, LPARAM lParam, HTREEITEM parent, HTREEITEM after)
{
    TVINSERTSTRUCTW tvis = {};
    tvis.hParent = parent;
    tvis.hInsertAfter = after;
    tvis.item.mask = mask;
    tvis.item.pszText = const_cast<wchar_t*>(text);
    tvis.item.iImage = image;
    tvis.item.iSelectedImage = selImage;
    tvis.item.state = state;
    tvis.item.stateMask = stateMask;
    tvis.item.lParam = lParam;
    return InsertItem(&tvis);
}

HTREEITEM CTreeCtrl::InsertItem(const wchar_t* text, HTREEITEM parent, HTREEITEM after)
{
    return InsertItem(TVIF_TEXT, text, 0, 0, 0, 0, 0, parent, after);
}

HTREEITEM CTreeCtrl::InsertItem(const wchar_t* text, int image, int selImage, HTREEITEM parent, HTREEITEM after)
{
    return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, text, image, selImage, 0, 0, 0, parent, after);
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM h) const
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_CHILDREN;
    if (!GetItem(&item))
        return FALSE;
    return item.cChildren != 0;
}

CString CTreeCtrl::GetItemText(HTREEITEM h) const
{
    // Grow the buffer until the text fits with room to spare (the control cuts silently).
    for (int size = 260;; size *= 4) {
        CString s;
        TVITEMW item = {};
        item.hItem = h;
        item.mask = TVIF_TEXT;
        item.pszText = s.GetBuffer(size);
        item.cchTextMax = size;
        item.pszText[0] = 0;
        if (!GetItem(&item)) {
            s.ReleaseBuffer(0);
            return s;
        }
        // The control may point pszText at its own storage.
        CString text(item.pszText ? item.pszText : L"");
        s.ReleaseBuffer(0);
        if (text.GetLength() < size - 1 || size >= 65536)
            return text;
    }
}

BOOL CTreeCtrl::SetItemText(HTREEITEM h, const wchar_t* s)
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_TEXT;
    item.pszText = const_cast<wchar_t*>(s);
    return SetItem(&item);
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM h) const
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_PARAM;
    if (!GetItem(&item))
        return 0;
    return (DWORD_PTR)item.lParam;
}

BOOL CTreeCtrl::SetItemData(HTREEITEM h, DWORD_PTR d)
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_PARAM;
    item.lParam = (LPARAM)d;
    return SetItem(&item);
}

BOOL CTreeCtrl::SetItemState(HTREEITEM h, UINT state, UINT mask)
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_STATE;
    item.state = state;
    item.stateMask = mask;
    return SetItem(&item);
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM h, int& image, int& selImage) const
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    if (!GetItem(&item))
        return FALSE;
    image = item.iImage;
    selImage = item.iSelectedImage;
    return TRUE;
}

BOOL CTreeCtrl::SetItemImage(HTREEITEM h, int image, int selImage)
{
    TVITEMW item = {};
    item.hItem = h;
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    item.iImage = image;
    item.iSelectedImage = selImage;
    return SetItem(&item);
}

HTREEITEM CTreeCtrl::HitTest(CPoint pt, UINT* pFlags) const
{
    TVHITTESTINFO hti = {};
    hti.pt = pt;
    HTREEITEM h = HitTest(&hti);
    if (pFlags)
        *pFlags = hti.flags;
    return h;
}

BOOL CTreeCtrl::GetItemRect(HTREEITEM h, LPRECT r, BOOL bTextOnly) const
{
    *(HTREEITEM*)r = h;
    return (BOOL)SendMessage(TVM_GETITEMRECT, bTextOnly, (LPARAM)r);
}

// ---------------------------------------------------------------------------------------
// Hot key and tooltip
// ---------------------------------------------------------------------------------------

BOOL CHotKeyCtrl::Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID)
{
    return CreateEx(0, HOTKEY_CLASSW, nullptr, style | WS_CHILD, r, pParent, nID);
}

BOOL CToolTipCtrl::Create(CWnd* pParent, DWORD style)
{
    RECT r = {CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT};
    // A popup owned by the parent; never a child.
    if (!CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | style, r, pParent, 0))
        return FALSE;
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

void CToolTipCtrl::FillToolInfo(TOOLINFOW& ti, CWnd* pWnd, UINT_PTR nIDTool) const
{
    ti = {};
    ti.cbSize = sizeof(TOOLINFOW);
    HWND hTool = pWnd ? pWnd->m_hWnd : nullptr;
    if (nIDTool == 0) {
        // The whole window is the tool: the id is its handle, its parent receives notices.
        ti.hwnd = hTool ? ::GetParent(hTool) : nullptr;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.uId = (UINT_PTR)hTool;
        if (!ti.hwnd)
            ti.hwnd = hTool;
    } else {
        ti.hwnd = hTool;
        ti.uFlags = TTF_SUBCLASS;
        ti.uId = nIDTool;
    }
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, const wchar_t* text, LPCRECT r, UINT_PTR nIDTool)
{
    TOOLINFOW ti;
    FillToolInfo(ti, pWnd, nIDTool);
    if (r && nIDTool)
        ti.rect = *r;
    ti.lpszText = const_cast<wchar_t*>(text ? text : L"");
    ti.hinst = nullptr;
    return (BOOL)SendMessage(TTM_ADDTOOLW, 0, (LPARAM)&ti);
}

void CToolTipCtrl::DelTool(CWnd* pWnd, UINT_PTR nIDTool)
{
    TOOLINFOW ti;
    FillToolInfo(ti, pWnd, nIDTool);
    SendMessage(TTM_DELTOOLW, 0, (LPARAM)&ti);
}

void CToolTipCtrl::UpdateTipText(const wchar_t* text, CWnd* pWnd, UINT_PTR nIDTool)
{
    TOOLINFOW ti;
    FillToolInfo(ti, pWnd, nIDTool);
    ti.lpszText = const_cast<wchar_t*>(text ? text : L"");
    SendMessage(TTM_UPDATETIPTEXTW, 0, (LPARAM)&ti);
}
