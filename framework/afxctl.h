#pragma once
// Wrappers of the standard and common controls: one class per control, each a CWnd made
// with Create in code or attached to a dialog's control with SubclassDlgItem.

#include "afxwin.h"

class CButton : public CWnd {
public:
    BOOL Create(const wchar_t* caption, DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    int GetCheck() const { return (int)SendMessage(BM_GETCHECK); }
    void SetCheck(int n) { SendMessage(BM_SETCHECK, n); }
    UINT GetState() const { return (UINT)SendMessage(BM_GETSTATE); }
    void SetState(BOOL b) { SendMessage(BM_SETSTATE, b); }
    UINT GetButtonStyle() const { return (UINT)GetStyle() & 0xFFFF; }
    void SetButtonStyle(UINT style, BOOL bRedraw = TRUE) { SendMessage(BM_SETSTYLE, style, bRedraw); }
    HICON SetIcon(HICON h) { return (HICON)SendMessage(BM_SETIMAGE, IMAGE_ICON, (LPARAM)h); }
    // Owner-drawn buttons paint here; the parent's WM_DRAWITEM is reflected to it.
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CStatic : public CWnd {
public:
    BOOL Create(const wchar_t* text, DWORD style, const RECT& r, CWnd* pParent, UINT nID = 0xFFFF);
    HICON SetIcon(HICON h) { return (HICON)SendMessage(STM_SETICON, (WPARAM)h); }
    HBITMAP SetBitmap(HBITMAP h) { return (HBITMAP)SendMessage(STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)h); }
};

class CEdit : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    void SetSel(int start, int end, BOOL bNoScroll = FALSE)
    {
        SendMessage(EM_SETSEL, start, end);
        if (!bNoScroll)
            SendMessage(EM_SCROLLCARET);
    }
    void GetSel(int& start, int& end) const
    {
        DWORD s = 0, e = 0;
        SendMessage(EM_GETSEL, (WPARAM)&s, (LPARAM)&e);
        start = (int)s;
        end = (int)e;
    }
    DWORD GetSel() const { return (DWORD)SendMessage(EM_GETSEL); }
    void ReplaceSel(const wchar_t* s, BOOL bCanUndo = FALSE) { SendMessage(EM_REPLACESEL, bCanUndo, (LPARAM)s); }
    void LimitText(int n = 0) { SendMessage(EM_LIMITTEXT, n); }
    BOOL SetReadOnly(BOOL b = TRUE) { return (BOOL)SendMessage(EM_SETREADONLY, b); }
    void SetPasswordChar(wchar_t ch) { SendMessage(EM_SETPASSWORDCHAR, ch); }
    wchar_t GetPasswordChar() const { return (wchar_t)SendMessage(EM_GETPASSWORDCHAR); }
    int GetLineCount() const { return (int)SendMessage(EM_GETLINECOUNT); }
    void SetMargins(UINT l, UINT r) { SendMessage(EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(l, r)); }
    void Clear() { SendMessage(WM_CLEAR); }
};

class CListBox : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    int AddString(const wchar_t* s) { return (int)SendMessage(LB_ADDSTRING, 0, (LPARAM)s); }
    int InsertString(int i, const wchar_t* s) { return (int)SendMessage(LB_INSERTSTRING, i, (LPARAM)s); }
    int DeleteString(UINT i) { return (int)SendMessage(LB_DELETESTRING, i); }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    int GetCount() const { return (int)SendMessage(LB_GETCOUNT); }
    int GetCurSel() const { return (int)SendMessage(LB_GETCURSEL); }
    int SetCurSel(int i) { return (int)SendMessage(LB_SETCURSEL, i); }
    int GetTextLen(int i) const { return (int)SendMessage(LB_GETTEXTLEN, i); }
    void GetText(int i, CString& s) const;
    int GetTopIndex() const { return (int)SendMessage(LB_GETTOPINDEX); }
    int SetTopIndex(int i) { return (int)SendMessage(LB_SETTOPINDEX, i); }
    int GetHorizontalExtent() const { return (int)SendMessage(LB_GETHORIZONTALEXTENT); }
    void SetHorizontalExtent(int n) { SendMessage(LB_SETHORIZONTALEXTENT, n); }
    DWORD_PTR GetItemData(int i) const { return (DWORD_PTR)SendMessage(LB_GETITEMDATA, i); }
    int SetItemData(int i, DWORD_PTR d) { return (int)SendMessage(LB_SETITEMDATA, i, (LPARAM)d); }
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}
    virtual void MeasureItem(LPMEASUREITEMSTRUCT) {}
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CComboBox : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    int AddString(const wchar_t* s) { return (int)SendMessage(CB_ADDSTRING, 0, (LPARAM)s); }
    int InsertString(int i, const wchar_t* s) { return (int)SendMessage(CB_INSERTSTRING, i, (LPARAM)s); }
    int DeleteString(UINT i) { return (int)SendMessage(CB_DELETESTRING, i); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int GetCount() const { return (int)SendMessage(CB_GETCOUNT); }
    int GetCurSel() const { return (int)SendMessage(CB_GETCURSEL); }
    int SetCurSel(int i) { return (int)SendMessage(CB_SETCURSEL, i); }
    int GetLBTextLen(int i) const { return (int)SendMessage(CB_GETLBTEXTLEN, i); }
    void GetLBText(int i, CString& s) const;
    int FindString(int start, const wchar_t* s) const { return (int)SendMessage(CB_FINDSTRING, start, (LPARAM)s); }
    int FindStringExact(int start, const wchar_t* s) const
    {
        return (int)SendMessage(CB_FINDSTRINGEXACT, start, (LPARAM)s);
    }
    int SelectString(int start, const wchar_t* s) { return (int)SendMessage(CB_SELECTSTRING, start, (LPARAM)s); }
    DWORD_PTR GetItemData(int i) const { return (DWORD_PTR)SendMessage(CB_GETITEMDATA, i); }
    int SetItemData(int i, DWORD_PTR d) { return (int)SendMessage(CB_SETITEMDATA, i, (LPARAM)d); }
    void ShowDropDown(BOOL b = TRUE) { SendMessage(CB_SHOWDROPDOWN, b); }
    BOOL GetDroppedState() const { return (BOOL)SendMessage(CB_GETDROPPEDSTATE); }
    int SetItemHeight(int i, UINT h) { return (int)SendMessage(CB_SETITEMHEIGHT, i, h); }
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}
    virtual void MeasureItem(LPMEASUREITEMSTRUCT) {}
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CTreeCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    HTREEITEM InsertItem(LPTVINSERTSTRUCTW p) { return (HTREEITEM)SendMessage(TVM_INSERTITEMW, 0, (LPARAM)p); }
    HTREEITEM InsertItem(const wchar_t* text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
    HTREEITEM InsertItem(const wchar_t* text, int image, int selImage, HTREEITEM parent = TVI_ROOT,
                         HTREEITEM after = TVI_LAST);
    HTREEITEM InsertItem(UINT mask, const wchar_t* text, int image, int selImage, UINT state,
                         UINT stateMask, LPARAM lParam, HTREEITEM parent, HTREEITEM after);
    BOOL DeleteItem(HTREEITEM h) { return (BOOL)SendMessage(TVM_DELETEITEM, 0, (LPARAM)h); }
    BOOL DeleteAllItems() { return (BOOL)SendMessage(TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT); }
    HTREEITEM GetNextItem(HTREEITEM h, UINT code) const
    {
        return (HTREEITEM)SendMessage(TVM_GETNEXTITEM, code, (LPARAM)h);
    }
    HTREEITEM GetRootItem() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM GetChildItem(HTREEITEM h) const { return GetNextItem(h, TVGN_CHILD); }
    HTREEITEM GetNextSiblingItem(HTREEITEM h) const { return GetNextItem(h, TVGN_NEXT); }
    HTREEITEM GetPrevSiblingItem(HTREEITEM h) const { return GetNextItem(h, TVGN_PREVIOUS); }
    HTREEITEM GetParentItem(HTREEITEM h) const { return GetNextItem(h, TVGN_PARENT); }
    HTREEITEM GetSelectedItem() const { return GetNextItem(nullptr, TVGN_CARET); }
    HTREEITEM GetDropHilightItem() const { return GetNextItem(nullptr, TVGN_DROPHILITE); }
    HTREEITEM GetFirstVisibleItem() const { return GetNextItem(nullptr, TVGN_FIRSTVISIBLE); }
    BOOL ItemHasChildren(HTREEITEM h) const;
    BOOL GetItem(TVITEMW* p) const { return (BOOL)SendMessage(TVM_GETITEMW, 0, (LPARAM)p); }
    BOOL SetItem(TVITEMW* p) { return (BOOL)SendMessage(TVM_SETITEMW, 0, (LPARAM)p); }
    CString GetItemText(HTREEITEM h) const;
    BOOL SetItemText(HTREEITEM h, const wchar_t* s);
    DWORD_PTR GetItemData(HTREEITEM h) const;
    BOOL SetItemData(HTREEITEM h, DWORD_PTR d);
    UINT GetItemState(HTREEITEM h, UINT mask) const
    {
        return (UINT)SendMessage(TVM_GETITEMSTATE, (WPARAM)h, mask);
    }
    BOOL SetItemState(HTREEITEM h, UINT state, UINT mask);
    BOOL GetItemImage(HTREEITEM h, int& image, int& selImage) const;
    BOOL SetItemImage(HTREEITEM h, int image, int selImage);
    BOOL Expand(HTREEITEM h, UINT code) { return (BOOL)SendMessage(TVM_EXPAND, code, (LPARAM)h); }
    BOOL Select(HTREEITEM h, UINT code) { return (BOOL)SendMessage(TVM_SELECTITEM, code, (LPARAM)h); }
    BOOL SelectItem(HTREEITEM h) { return Select(h, TVGN_CARET); }
    BOOL SelectDropTarget(HTREEITEM h) { return Select(h, TVGN_DROPHILITE); }
    BOOL EnsureVisible(HTREEITEM h) { return (BOOL)SendMessage(TVM_ENSUREVISIBLE, 0, (LPARAM)h); }
    HTREEITEM HitTest(CPoint pt, UINT* pFlags = nullptr) const;
    HTREEITEM HitTest(TVHITTESTINFO* p) const { return (HTREEITEM)SendMessage(TVM_HITTEST, 0, (LPARAM)p); }
    BOOL GetItemRect(HTREEITEM h, LPRECT r, BOOL bTextOnly) const;
    BOOL SortChildren(HTREEITEM h) { return (BOOL)SendMessage(TVM_SORTCHILDREN, 0, (LPARAM)h); }
    BOOL SortChildrenCB(LPTVSORTCB p) { return (BOOL)SendMessage(TVM_SORTCHILDRENCB, 0, (LPARAM)p); }
    HIMAGELIST SetImageList(HIMAGELIST h, int type) { return (HIMAGELIST)SendMessage(TVM_SETIMAGELIST, type, (LPARAM)h); }
    HIMAGELIST GetImageList(int type) const { return (HIMAGELIST)SendMessage(TVM_GETIMAGELIST, type); }
    HWND EditLabel(HTREEITEM h) { return (HWND)SendMessage(TVM_EDITLABELW, 0, (LPARAM)h); }
    HWND GetEditControl() const { return (HWND)SendMessage(TVM_GETEDITCONTROL); }
    HWND GetToolTips() const { return (HWND)SendMessage(TVM_GETTOOLTIPS); }
    UINT GetCount() const { return (UINT)SendMessage(TVM_GETCOUNT); }
    COLORREF SetBkColor(COLORREF c) { return (COLORREF)SendMessage(TVM_SETBKCOLOR, 0, c); }
    COLORREF SetTextColor(COLORREF c) { return (COLORREF)SendMessage(TVM_SETTEXTCOLOR, 0, c); }
    int SetItemHeight(int h) { return (int)SendMessage(TVM_SETITEMHEIGHT, h); }
};

class CHotKeyCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& r, CWnd* pParent, UINT nID);
    void SetHotKey(WORD vk, WORD mods) { SendMessage(HKM_SETHOTKEY, MAKEWORD(vk, mods)); }
    DWORD GetHotKey() const { return (DWORD)SendMessage(HKM_GETHOTKEY); }
    void GetHotKey(WORD& vk, WORD& mods) const
    {
        DWORD d = GetHotKey();
        vk = LOBYTE(LOWORD(d));
        mods = HIBYTE(LOWORD(d));
    }
    void SetRules(WORD invalid, WORD mods) { SendMessage(HKM_SETRULES, invalid, MAKELPARAM(mods, 0)); }
};

class CToolTipCtrl : public CWnd {
public:
    BOOL Create(CWnd* pParent, DWORD style = 0);
    void Activate(BOOL b) { SendMessage(TTM_ACTIVATE, b); }
    // A tool for a window (the whole window, tool id = its handle) or for a rectangle.
    BOOL AddTool(CWnd* pWnd, const wchar_t* text, LPCRECT r = nullptr, UINT_PTR nIDTool = 0);
    void DelTool(CWnd* pWnd, UINT_PTR nIDTool = 0);
    void UpdateTipText(const wchar_t* text, CWnd* pWnd, UINT_PTR nIDTool = 0);
    void RelayEvent(MSG* pMsg) { SendMessage(TTM_RELAYEVENT, 0, (LPARAM)pMsg); }
    void SetTipBkColor(COLORREF c) { SendMessage(TTM_SETTIPBKCOLOR, c); }
    void SetTipTextColor(COLORREF c) { SendMessage(TTM_SETTIPTEXTCOLOR, c); }
    void SetDelayTime(UINT ms) { SendMessage(TTM_SETDELAYTIME, TTDT_AUTOMATIC, ms); }
    void SetDelayTime(DWORD which, int ms) { SendMessage(TTM_SETDELAYTIME, which, ms); }
    int SetMaxTipWidth(int w) { return (int)SendMessage(TTM_SETMAXTIPWIDTH, 0, w); }
    int GetToolCount() const { return (int)SendMessage(TTM_GETTOOLCOUNT); }
    void Pop() { SendMessage(TTM_POP); }
private:
    void FillToolInfo(TOOLINFOW& ti, CWnd* pWnd, UINT_PTR nIDTool) const;
};
