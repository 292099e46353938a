#pragma once
// The window half of the class layer: geometry, GDI objects, windows with message maps,
// the application object, dialogs and the standard controls.
//
// Every platform object has one wrapper class that owns its handle and frees it in its
// destructor (RAII). Windows are found from their handles through two maps: a permanent
// map of the objects that own a window, and a per-thread map of temporary wrappers that
// FromHandle makes for windows nobody owns.

#include "afxstr.h"
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <utility>

#ifndef TRUE
#define TRUE 1
#endif

// ---------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------

class CSize : public SIZE {
public:
    CSize() { cx = cy = 0; }
    CSize(int x, int y) { cx = x; cy = y; }
    CSize(SIZE s) { cx = s.cx; cy = s.cy; }
    bool operator==(const SIZE& s) const { return cx == s.cx && cy == s.cy; }
    bool operator!=(const SIZE& s) const { return !(*this == s); }
};

class CPoint : public POINT {
public:
    CPoint() { x = y = 0; }
    CPoint(int px, int py) { x = px; y = py; }
    CPoint(POINT p) { x = p.x; y = p.y; }
    // From a mouse message's lParam (signed 16-bit coordinates).
    explicit CPoint(LPARAM l) { x = (short)LOWORD(l); y = (short)HIWORD(l); }
    void Offset(int dx, int dy) { x += dx; y += dy; }
    bool operator==(const POINT& p) const { return x == p.x && y == p.y; }
    bool operator!=(const POINT& p) const { return !(*this == p); }
    CPoint operator+(SIZE s) const { return CPoint(x + s.cx, y + s.cy); }
    CPoint operator-(SIZE s) const { return CPoint(x - s.cx, y - s.cy); }
    CSize operator-(POINT p) const { return CSize(x - p.x, y - p.y); }
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) { CopyRect(&r); }
    CRect(const RECT* r) { if (r) CopyRect(r); else SetRectEmpty(); }
    CRect(POINT pt, SIZE sz) { left = pt.x; top = pt.y; right = pt.x + sz.cx; bottom = pt.y + sz.cy; }

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return Width() <= 0 || Height() <= 0; }
    bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    void SetRectEmpty() { left = top = right = bottom = 0; }
    void CopyRect(const RECT* r) { left = r->left; top = r->top; right = r->right; bottom = r->bottom; }
    void OffsetRect(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void InflateRect(int dx, int dy) { left -= dx; right += dx; top -= dy; bottom += dy; }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    void DeflateRect(int l, int t, int r, int b) { left += l; top += t; right -= r; bottom -= b; }
    void NormalizeRect()
    {
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
    }
    BOOL IntersectRect(const RECT* a, const RECT* b) { return ::IntersectRect(this, a, b); }
    BOOL UnionRect(const RECT* a, const RECT* b) { return ::UnionRect(this, a, b); }
    operator RECT*() { return this; }
    operator const RECT*() const { return this; }
    bool operator==(const RECT& r) const
    {
        return left == r.left && top == r.top && right == r.right && bottom == r.bottom;
    }
    bool operator!=(const RECT& r) const { return !(*this == r); }
};

// ---------------------------------------------------------------------------------------
// Base objects
// ---------------------------------------------------------------------------------------

class CObject {
public:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
    virtual ~CObject() = default;
};

class CCmdTarget : public CObject {
};

// True for the keyboard messages that carry a virtual key or character code in wParam
// (key down/up, system key down/up, characters). Filters that must swallow one key use
// this so that unrelated messages whose wParam happens to equal the key code pass.
bool AfxIsKeyMessage(const MSG* pMsg);
bool AfxIsKeyMessageFor(const MSG* pMsg, UINT nVirtKey);

// ---------------------------------------------------------------------------------------
// GDI objects
// ---------------------------------------------------------------------------------------

class CGdiObject : public CObject {
public:
    CGdiObject() = default;
    ~CGdiObject() override { DeleteObject(); }
    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int nCount, void* pObject) const { return ::GetObjectW(m_hObject, nCount, pObject); }
    // A wrapper, owned by the thread, for a handle that nobody else owns (never deleted).
    static CGdiObject* FromHandle(HGDIOBJ h);
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF c) { CreatePen(style, width, c); }
    BOOL CreatePen(int style, int width, COLORREF c) { return Attach(::CreatePen(style, width, c)); }
    operator HPEN() const { return (HPEN)m_hObject; }
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    BOOL CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
    BOOL CreateStockObject(int n) { return Attach(::GetStockObject(n)); }
    operator HBRUSH() const { return (HBRUSH)m_hObject; }
    static CBrush* FromHandle(HBRUSH h) { return static_cast<CBrush*>(CGdiObject::FromHandle(h)); }
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTW* plf) { return Attach(::CreateFontIndirectW(plf)); }
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight,
                    BYTE bItalic, BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet,
                    BYTE nOutPrecision, BYTE nClipPrecision, BYTE nQuality,
                    BYTE nPitchAndFamily, const wchar_t* lpszFacename)
    {
        return Attach(::CreateFontW(nHeight, nWidth, nEscapement, nOrientation, nWeight, bItalic,
                                    bUnderline, cStrikeOut, nCharSet, nOutPrecision, nClipPrecision,
                                    nQuality, nPitchAndFamily, lpszFacename));
    }
    int GetLogFont(LOGFONTW* plf) const { return ::GetObjectW(m_hObject, sizeof(LOGFONTW), plf); }
    operator HFONT() const { return (HFONT)m_hObject; }
    static CFont* FromHandle(HFONT h) { return static_cast<CFont*>(CGdiObject::FromHandle(h)); }
};

class CDC;

class CBitmap : public CGdiObject {
public:
    BOOL CreateCompatibleBitmap(CDC* pDC, int w, int h);
    BOOL CreateBitmap(int w, int h, UINT planes, UINT bpp, const void* bits)
    {
        return Attach(::CreateBitmap(w, h, planes, bpp, bits));
    }
    BOOL LoadBitmap(UINT nID);
    int GetBitmap(BITMAP* pbm) const { return ::GetObjectW(m_hObject, sizeof(BITMAP), pbm); }
    operator HBITMAP() const { return (HBITMAP)m_hObject; }
    static CBitmap* FromHandle(HBITMAP h) { return static_cast<CBitmap*>(CGdiObject::FromHandle(h)); }
};

class CRgn : public CGdiObject {
public:
    BOOL CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
    BOOL CreateRectRgnIndirect(const RECT* r) { return Attach(::CreateRectRgnIndirect(r)); }
    BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h)
    {
        return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
    }
    int CombineRgn(const CRgn* a, const CRgn* b, int mode)
    {
        return ::CombineRgn((HRGN)m_hObject, (HRGN)a->m_hObject, b ? (HRGN)b->m_hObject : nullptr, mode);
    }
    BOOL PtInRegion(int x, int y) const { return ::PtInRegion((HRGN)m_hObject, x, y); }
    operator HRGN() const { return (HRGN)m_hObject; }
};

// ---------------------------------------------------------------------------------------
// Device contexts
// ---------------------------------------------------------------------------------------

class CWnd;

class CDC : public CObject {
public:
    CDC() = default;
    ~CDC() override;

    HDC m_hDC = nullptr;        // the context drawn into
    HDC m_hAttribDC = nullptr;  // the context queried (the same unless a subclass says otherwise)

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    BOOL Attach(HDC h);
    HDC Detach();
    BOOL DeleteDC();
    BOOL CreateCompatibleDC(CDC* pDC);
    static CDC* FromHandle(HDC h);
    virtual BOOL IsPrinting() const { return FALSE; }

    // Objects
    CGdiObject* SelectStockObject(int n);
    CFont* SelectObject(CFont* p);
    CBrush* SelectObject(CBrush* p);
    CPen* SelectObject(CPen* p);
    CBitmap* SelectObject(CBitmap* p);
    int SelectObject(CRgn* p) { return ::SelectClipRgn(m_hDC, p ? (HRGN)p->m_hObject : nullptr); }
    HGDIOBJ SelectObject(HGDIOBJ h) { return ::SelectObject(m_hDC, h); }
    CFont* GetCurrentFont() const { return CFont::FromHandle((HFONT)::GetCurrentObject(m_hDC, OBJ_FONT)); }
    CBitmap* GetCurrentBitmap() const
    {
        return CBitmap::FromHandle((HBITMAP)::GetCurrentObject(m_hDC, OBJ_BITMAP));
    }

    // Attributes
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int m) { return ::SetBkMode(m_hDC, m); }
    int SetStretchBltMode(int m) { return ::SetStretchBltMode(m_hDC, m); }
    CPoint SetWindowOrg(int x, int y);
    CPoint SetWindowOrg(POINT p) { return SetWindowOrg(p.x, p.y); }
    CPoint GetWindowOrg() const;
    CPoint SetViewportOrg(int x, int y);
    int GetClipBox(LPRECT r) const { return ::GetClipBox(m_hDC, r); }
    int GetDeviceCaps(int n) const { return ::GetDeviceCaps(m_hAttribDC ? m_hAttribDC : m_hDC, n); }
    int SaveDC() { return ::SaveDC(m_hDC); }
    BOOL RestoreDC(int n) { return ::RestoreDC(m_hDC, n); }
    int IntersectClipRect(int l, int t, int r, int b) { return ::IntersectClipRect(m_hDC, l, t, r, b); }
    int SelectClipRgn(CRgn* p) { return SelectObject(p); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF SetPixel(int x, int y, COLORREF c) { return ::SetPixel(m_hDC, x, y, c); }

    // Drawing
    BOOL BitBlt(int x, int y, int w, int h, CDC* pSrc, int xs, int ys, DWORD rop)
    {
        return ::BitBlt(m_hDC, x, y, w, h, pSrc ? pSrc->m_hDC : nullptr, xs, ys, rop);
    }
    BOOL StretchBlt(int x, int y, int w, int h, CDC* pSrc, int xs, int ys, int ws, int hs, DWORD rop)
    {
        return ::StretchBlt(m_hDC, x, y, w, h, pSrc ? pSrc->m_hDC : nullptr, xs, ys, ws, hs, rop);
    }
    BOOL AlphaBlend(int x, int y, int w, int h, CDC* pSrc, int xs, int ys, int ws, int hs,
                    BLENDFUNCTION bf);
    void FillRect(LPCRECT r, CBrush* pBrush) { ::FillRect(m_hDC, r, pBrush ? (HBRUSH)pBrush->m_hObject : nullptr); }
    void FillSolidRect(LPCRECT r, COLORREF c);
    void FillSolidRect(int x, int y, int w, int h, COLORREF c);
    void FrameRect(LPCRECT r, CBrush* pBrush) { ::FrameRect(m_hDC, r, (HBRUSH)pBrush->m_hObject); }
    void Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight);
    void Draw3dRect(int x, int y, int w, int h, COLORREF topLeft, COLORREF bottomRight);
    BOOL DrawEdge(LPRECT r, UINT edge, UINT flags) { return ::DrawEdge(m_hDC, r, edge, flags); }
    CPoint MoveTo(int x, int y);
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
    BOOL RoundRect(int l, int t, int r, int b, int w, int h) { return ::RoundRect(m_hDC, l, t, r, b, w, h); }
    BOOL DrawIcon(int x, int y, HICON h) { return ::DrawIcon(m_hDC, x, y, h); }
    BOOL DrawState(CPoint pt, CSize sz, HICON h, UINT flags, HBRUSH hBrush = nullptr)
    {
        return ::DrawStateW(m_hDC, hBrush, nullptr, (LPARAM)h, 0, pt.x, pt.y, sz.cx, sz.cy, flags | DST_ICON);
    }
    BOOL FillRgn(CRgn* pRgn, CBrush* pBrush) { return ::FillRgn(m_hDC, *pRgn, *pBrush); }

    // Text
    int DrawText(const wchar_t* s, int n, LPRECT r, UINT fmt) { return ::DrawTextW(m_hDC, s, n, r, fmt); }
    int DrawText(const CString& s, LPRECT r, UINT fmt) { return ::DrawTextW(m_hDC, s, s.GetLength(), r, fmt); }
    BOOL TextOut(int x, int y, const CString& s) { return ::TextOutW(m_hDC, x, y, s, s.GetLength()); }
    CSize GetTextExtent(const wchar_t* s, int n) const;
    CSize GetTextExtent(const CString& s) const { return GetTextExtent(s, s.GetLength()); }
    BOOL GetTextMetrics(TEXTMETRICW* tm) const { return ::GetTextMetricsW(m_hAttribDC ? m_hAttribDC : m_hDC, tm); }
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};
private:
    HWND m_hWnd;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;
private:
    HWND m_hWnd;
};

class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* pWnd);
    ~CWindowDC() override;
private:
    HWND m_hWnd;
};

// ---------------------------------------------------------------------------------------
// Menus and image lists
// ---------------------------------------------------------------------------------------

class CMenu : public CObject {
public:
    CMenu() = default;
    ~CMenu() override { DestroyMenu(); }
    HMENU m_hMenu = nullptr;
    HMENU GetSafeHmenu() const { return m_hMenu; }
    operator HMENU() const { return m_hMenu; }
    BOOL Attach(HMENU h);
    HMENU Detach();
    BOOL LoadMenu(UINT nID);
    BOOL CreatePopupMenu() { return Attach(::CreatePopupMenu()); }
    BOOL DestroyMenu();
    // A wrapper for a menu owned elsewhere (a submenu belongs to its parent menu).
    static CMenu* FromHandle(HMENU h);
    CMenu* GetSubMenu(int nPos) const;
    int GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
    UINT GetMenuItemID(int nPos) const { return ::GetMenuItemID(m_hMenu, nPos); }
    UINT GetMenuState(UINT nID, UINT flags) const { return ::GetMenuState(m_hMenu, nID, flags); }
    int GetMenuString(UINT nID, CString& s, UINT flags) const;
    UINT EnableMenuItem(UINT nID, UINT flags) { return ::EnableMenuItem(m_hMenu, nID, flags); }
    UINT CheckMenuItem(UINT nID, UINT flags) { return ::CheckMenuItem(m_hMenu, nID, flags); }
    BOOL SetDefaultItem(UINT item, BOOL byPos = FALSE) { return ::SetMenuDefaultItem(m_hMenu, item, byPos); }
    BOOL ModifyMenu(UINT nPos, UINT flags, UINT_PTR nIDNew, const wchar_t* text)
    {
        return ::ModifyMenuW(m_hMenu, nPos, flags, nIDNew, text);
    }
    BOOL AppendMenu(UINT flags, UINT_PTR nID = 0, const wchar_t* text = nullptr)
    {
        return ::AppendMenuW(m_hMenu, flags, nID, text);
    }
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd, LPCRECT r = nullptr);
};

class CImageList : public CObject {
public:
    CImageList() = default;
    ~CImageList() override { DeleteImageList(); }
    HIMAGELIST m_hImageList = nullptr;
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }
    operator HIMAGELIST() const { return m_hImageList; }
    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    BOOL Attach(HIMAGELIST h);
    HIMAGELIST Detach();
    BOOL DeleteImageList();
    static CImageList* FromHandle(HIMAGELIST h);
    int Add(HICON h) { return ImageList_AddIcon(m_hImageList, h); }
    int Add(CBitmap* pbm, COLORREF mask)
    {
        return ImageList_AddMasked(m_hImageList, (HBITMAP)pbm->m_hObject, mask);
    }
    int GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
    BOOL SetOverlayImage(int image, int overlay) { return ImageList_SetOverlayImage(m_hImageList, image, overlay); }
    BOOL Draw(CDC* pDC, int image, POINT pt, UINT style)
    {
        return ImageList_Draw(m_hImageList, image, pDC->m_hDC, pt.x, pt.y, style);
    }
    HICON ExtractIcon(int image) { return ImageList_GetIcon(m_hImageList, image, ILD_NORMAL); }
    COLORREF SetBkColor(COLORREF c) { return ImageList_SetBkColor(m_hImageList, c); }
};

// ---------------------------------------------------------------------------------------
// Message maps
// ---------------------------------------------------------------------------------------

typedef void (CCmdTarget::*AFX_PMSG)(void);

// Handler signatures; the dispatcher casts the stored pointer back to the one named here.
enum AfxSig : UINT {
    AfxSig_end = 0,
    AfxSig_v_v,          // void ()
    AfxSig_b_v,          // BOOL ()             (reflected command, EX form)
    AfxSig_i_pcs,        // int (LPCREATESTRUCT)
    AfxSig_b_pDC,        // BOOL (CDC*)
    AfxSig_h_pDCpWu,     // HBRUSH (CDC*, CWnd*, UINT)
    AfxSig_h_pDCu,       // HBRUSH (CDC*, UINT)  reflected colour request
    AfxSig_v_up,         // void (UINT, CPoint)  mouse
    AfxSig_v_uii,        // void (UINT, int, int) size
    AfxSig_v_ut,         // void (UINT_PTR)      timer
    AfxSig_v_pW,         // void (CWnd*)         focus
    AfxSig_v_b,          // void (BOOL)          enable
    AfxSig_v_upWb,       // void (UINT, CWnd*, BOOL) activate
    AfxSig_b_pWuu,       // BOOL (CWnd*, UINT, UINT) set cursor
    AfxSig_u_v,          // UINT ()              get dialog code
    AfxSig_h_v,          // HCURSOR ()           query drag icon
    AfxSig_b_ud,         // BOOL (UINT, DWORD_PTR) device change
    AfxSig_v_uuu,        // void (UINT, UINT, UINT) hot key
    AfxSig_v_iDIS,       // void (int, LPDRAWITEMSTRUCT)
    AfxSig_v_iMIS,       // void (int, LPMEASUREITEMSTRUCT)
    AfxSig_v_uL,         // void (UINT, LPARAM)  system command
    AfxSig_l_wl,         // LRESULT (WPARAM, LPARAM)
    AfxSig_v_NMHDR_pl,   // void (NMHDR*, LRESULT*)
    AfxSig_b_NMHDR_pl,   // BOOL (NMHDR*, LRESULT*) reflected notification, EX form
    AfxSig_v_pWp,        // void (CWnd*, CPoint)  context menu
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;    // window message, or WM_COMMAND / WM_NOTIFY / reflected forms
    UINT nCode;       // control notification code
    UINT nID;         // first control id
    UINT nLastID;     // last control id (same as nID for one control)
    const UINT* pRegisteredMessage;  // for registered messages: where the number lives
    UINT nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Reflected messages arrive at the control under this offset.
#define WM_REFLECT_BASE 0xBC00
#define WM_REGISTERED_MESSAGE_MARK 0xC000

#define DECLARE_MESSAGE_MAP()                              \
protected:                                                 \
    static const AFX_MSGMAP* GetThisMessageMap();          \
    const AFX_MSGMAP* GetMessageMap() const override;      \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                   \
    {                                                                                 \
        typedef theClass ThisClass;                                                   \
        typedef baseClass TheBaseClass;                                               \
        (void)sizeof(ThisClass*);                                                     \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                              \
            {0, 0, 0, 0, nullptr, AfxSig_end, (AFX_PMSG) nullptr}                      \
        };                                                                             \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
        return &messageMap;                                                            \
    }

#define AFX_MSG_PFN(type, fn) reinterpret_cast<AFX_PMSG>(static_cast<type>(fn))
#define AFX_ENTRY(msg, sig, type, fn) {msg, 0, 0, 0, nullptr, sig, AFX_MSG_PFN(type, &ThisClass::fn)},

#define ON_WM_CREATE() AFX_ENTRY(WM_CREATE, AfxSig_i_pcs, int (CWnd::*)(LPCREATESTRUCT), OnCreate)
#define ON_WM_DESTROY() AFX_ENTRY(WM_DESTROY, AfxSig_v_v, void (CWnd::*)(), OnDestroy)
#define ON_WM_PAINT() AFX_ENTRY(WM_PAINT, AfxSig_v_v, void (CWnd::*)(), OnPaint)
#define ON_WM_ERASEBKGND() AFX_ENTRY(WM_ERASEBKGND, AfxSig_b_pDC, BOOL (CWnd::*)(CDC*), OnEraseBkgnd)
#define ON_WM_CTLCOLOR() AFX_ENTRY(WM_CTLCOLOR, AfxSig_h_pDCpWu, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor)
#define ON_WM_CTLCOLOR_REFLECT() \
    AFX_ENTRY(WM_REFLECT_BASE + WM_CTLCOLOR, AfxSig_h_pDCu, HBRUSH (CWnd::*)(CDC*, UINT), CtlColor)
#define ON_WM_TIMER() AFX_ENTRY(WM_TIMER, AfxSig_v_ut, void (CWnd::*)(UINT_PTR), OnTimer)
#define ON_WM_SIZE() AFX_ENTRY(WM_SIZE, AfxSig_v_uii, void (CWnd::*)(UINT, int, int), OnSize)
#define ON_WM_MOUSEMOVE() AFX_ENTRY(WM_MOUSEMOVE, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnMouseMove)
#define ON_WM_LBUTTONDOWN() AFX_ENTRY(WM_LBUTTONDOWN, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_ENTRY(WM_LBUTTONUP, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_ENTRY(WM_LBUTTONDBLCLK, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_ENTRY(WM_RBUTTONDOWN, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnRButtonDown)
#define ON_WM_RBUTTONUP() AFX_ENTRY(WM_RBUTTONUP, AfxSig_v_up, void (CWnd::*)(UINT, CPoint), OnRButtonUp)
#define ON_WM_MOUSELEAVE() AFX_ENTRY(WM_MOUSELEAVE, AfxSig_v_v, void (CWnd::*)(), OnMouseLeave)
#define ON_WM_SETFOCUS() AFX_ENTRY(WM_SETFOCUS, AfxSig_v_pW, void (CWnd::*)(CWnd*), OnSetFocus)
#define ON_WM_KILLFOCUS() AFX_ENTRY(WM_KILLFOCUS, AfxSig_v_pW, void (CWnd::*)(CWnd*), OnKillFocus)
#define ON_WM_CANCELMODE() AFX_ENTRY(WM_CANCELMODE, AfxSig_v_v, void (CWnd::*)(), OnCancelMode)
#define ON_WM_ACTIVATE() AFX_ENTRY(WM_ACTIVATE, AfxSig_v_upWb, void (CWnd::*)(UINT, CWnd*, BOOL), OnActivate)
#define ON_WM_ENABLE() AFX_ENTRY(WM_ENABLE, AfxSig_v_b, void (CWnd::*)(BOOL), OnEnable)
#define ON_WM_SETCURSOR() AFX_ENTRY(WM_SETCURSOR, AfxSig_b_pWuu, BOOL (CWnd::*)(CWnd*, UINT, UINT), OnSetCursor)
#define ON_WM_SYSCOLORCHANGE() AFX_ENTRY(WM_SYSCOLORCHANGE, AfxSig_v_v, void (CWnd::*)(), OnSysColorChange)
#define ON_WM_GETDLGCODE() AFX_ENTRY(WM_GETDLGCODE, AfxSig_u_v, UINT (CWnd::*)(), OnGetDlgCode)
#define ON_WM_QUERYDRAGICON() AFX_ENTRY(WM_QUERYDRAGICON, AfxSig_h_v, HCURSOR (CWnd::*)(), OnQueryDragIcon)
#define ON_WM_DEVICECHANGE() AFX_ENTRY(WM_DEVICECHANGE, AfxSig_b_ud, BOOL (CWnd::*)(UINT, DWORD_PTR), OnDeviceChange)
#define ON_WM_HOTKEY() AFX_ENTRY(WM_HOTKEY, AfxSig_v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnHotKey)
#define ON_WM_DRAWITEM() AFX_ENTRY(WM_DRAWITEM, AfxSig_v_iDIS, void (CWnd::*)(int, LPDRAWITEMSTRUCT), OnDrawItem)
#define ON_WM_MEASUREITEM() \
    AFX_ENTRY(WM_MEASUREITEM, AfxSig_v_iMIS, void (CWnd::*)(int, LPMEASUREITEMSTRUCT), OnMeasureItem)
#define ON_WM_SYSCOMMAND() AFX_ENTRY(WM_SYSCOMMAND, AfxSig_v_uL, void (CWnd::*)(UINT, LPARAM), OnSysCommand)
#define ON_WM_CONTEXTMENU() AFX_ENTRY(WM_CONTEXTMENU, AfxSig_v_pWp, void (CWnd::*)(CWnd*, CPoint), OnContextMenu)
#define ON_WM_CLOSE() AFX_ENTRY(WM_CLOSE, AfxSig_v_v, void (CWnd::*)(), OnClose)

// Any message to a handler LRESULT (WPARAM, LPARAM).
#define ON_MESSAGE(msg, fn) \
    {msg, 0, 0, 0, nullptr, AfxSig_l_wl, AFX_MSG_PFN(LRESULT (CWnd::*)(WPARAM, LPARAM), &ThisClass::fn)},
// A message number known only at run time (RegisterWindowMessage), read from a variable.
#define ON_REGISTERED_MESSAGE(nVar, fn)                            \
    {WM_REGISTERED_MESSAGE_MARK, 0, 0, 0, &nVar, AfxSig_l_wl,      \
     AFX_MSG_PFN(LRESULT (CWnd::*)(WPARAM, LPARAM), &ThisClass::fn)},

// Commands (menu items, accelerators) and control notifications sent as WM_COMMAND.
#define ON_COMMAND(id, fn) \
    {WM_COMMAND, 0, (UINT)(id), (UINT)(id), nullptr, AfxSig_v_v, AFX_MSG_PFN(void (CCmdTarget::*)(), &ThisClass::fn)},
#define ON_CONTROL(code, id, fn) \
    {WM_COMMAND, (UINT)(code), (UINT)(id), (UINT)(id), nullptr, AfxSig_v_v, AFX_MSG_PFN(void (CCmdTarget::*)(), &ThisClass::fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_BN_DOUBLECLICKED(id, fn) ON_CONTROL(BN_DOUBLECLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_CBN_DROPDOWN(id, fn) ON_CONTROL(CBN_DROPDOWN, id, fn)
#define ON_CBN_CLOSEUP(id, fn) ON_CONTROL(CBN_CLOSEUP, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_EN_SETFOCUS(id, fn) ON_CONTROL(EN_SETFOCUS, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)

// WM_NOTIFY from a child to its parent.
#define ON_NOTIFY(code, id, fn)                                              \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), (UINT)(id), nullptr, AfxSig_v_NMHDR_pl, \
     AFX_MSG_PFN(void (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn)},

// Notifications and commands reflected back to the control that sent them. The plain form
// consumes the notification; the _EX form lets the parent see it too when it returns FALSE.
#define ON_NOTIFY_REFLECT(code, fn)                                                     \
    {WM_REFLECT_BASE + WM_NOTIFY, (UINT)(code), 0, 0, nullptr, AfxSig_v_NMHDR_pl,        \
     AFX_MSG_PFN(void (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn)},
#define ON_NOTIFY_REFLECT_EX(code, fn)                                                  \
    {WM_REFLECT_BASE + WM_NOTIFY, (UINT)(code), 0, 0, nullptr, AfxSig_b_NMHDR_pl,        \
     AFX_MSG_PFN(BOOL (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn)},
#define ON_CONTROL_REFLECT(code, fn)                                                    \
    {WM_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, nullptr, AfxSig_v_v,              \
     AFX_MSG_PFN(void (CCmdTarget::*)(), &ThisClass::fn)},
#define ON_CONTROL_REFLECT_EX(code, fn)                                                 \
    {WM_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, nullptr, AfxSig_b_v,              \
     AFX_MSG_PFN(BOOL (CCmdTarget::*)(), &ThisClass::fn)},

// The WM_CTLCOLOR* family is dispatched under this one number (the platform stopped
// sending it long ago, so it cannot collide).
#ifndef WM_CTLCOLOR
#define WM_CTLCOLOR 0x0019
#endif

// The message being processed by the class layer on this thread (for Default()).
MSG* AfxGetCurrentMessage();
// Records a message as the thread's current one for the lifetime of the object.
class CCurrentMessageScope {
public:
    CCurrentMessageScope(HWND h, UINT m, WPARAM w, LPARAM l);
    ~CCurrentMessageScope();
private:
    MSG m_saved;
};

// ---------------------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------------------

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Handle maps
    static CWnd* FromHandle(HWND h);           // permanent object, else a temporary wrapper
    static CWnd* FromHandlePermanent(HWND h);  // the owning object only, or nullptr
    BOOL Attach(HWND h);                       // joins the permanent map without subclassing
    HWND Detach();

    // Creation and subclassing
    virtual BOOL Create(const wchar_t* lpszClassName, const wchar_t* lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID, void* pContext = nullptr);
    virtual BOOL CreateEx(DWORD dwExStyle, const wchar_t* lpszClassName, const wchar_t* lpszWindowName,
                          DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID,
                          void* lpParam = nullptr);
    BOOL SubclassWindow(HWND h);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();
    virtual BOOL DestroyWindow();
    virtual void PreSubclassWindow() {}
    virtual BOOL PreCreateWindow(CREATESTRUCTW&) { return TRUE; }
    virtual void PostNcDestroy() {}
    virtual BOOL PreTranslateMessage(MSG*) { return FALSE; }
    // The help request of the window (F1 in a dialog, the help command); nothing by default.
    virtual void WinHelp(DWORD_PTR, UINT = HELP_CONTEXT) {}

    // Message processing
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // A notification that the parent reflected to this control; TRUE when it was consumed.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    LRESULT Default();
    // Walks PreTranslateMessage from the message's window up to hWndStop (its top level).
    static BOOL WalkPreTranslateTree(HWND hWndStop, MSG* pMsg);
    // Sends the current message to the control for reflection; TRUE when it consumed it.
    static BOOL ReflectLastMsg(HWND hWndChild, LRESULT* pResult = nullptr);

    // Default handlers (the message map binds derived overrides to their messages).
    int OnCreate(LPCREATESTRUCT) { return (int)Default(); }
    void OnDestroy() { Default(); }
    void OnPaint() { Default(); }
    BOOL OnEraseBkgnd(CDC*) { return (BOOL)Default(); }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnTimer(UINT_PTR) { Default(); }
    void OnSize(UINT, int, int) { Default(); }
    void OnMouseMove(UINT, CPoint) { Default(); }
    void OnLButtonDown(UINT, CPoint) { Default(); }
    void OnLButtonUp(UINT, CPoint) { Default(); }
    void OnLButtonDblClk(UINT, CPoint) { Default(); }
    void OnRButtonDown(UINT, CPoint) { Default(); }
    void OnRButtonUp(UINT, CPoint) { Default(); }
    void OnMouseLeave() { Default(); }
    void OnSetFocus(CWnd*) { Default(); }
    void OnKillFocus(CWnd*) { Default(); }
    void OnCancelMode() { Default(); }
    void OnActivate(UINT, CWnd*, BOOL) { Default(); }
    void OnEnable(BOOL) { Default(); }
    BOOL OnSetCursor(CWnd*, UINT, UINT) { return (BOOL)Default(); }
    void OnSysColorChange() { Default(); }
    UINT OnGetDlgCode() { return (UINT)Default(); }
    HCURSOR OnQueryDragIcon() { return (HCURSOR)Default(); }
    BOOL OnDeviceChange(UINT, DWORD_PTR) { return (BOOL)Default(); }
    void OnHotKey(UINT, UINT, UINT) { Default(); }
    void OnDrawItem(int nIDCtl, LPDRAWITEMSTRUCT lpDIS);
    void OnMeasureItem(int nIDCtl, LPMEASUREITEMSTRUCT lpMIS);
    void OnSysCommand(UINT, LPARAM) { Default(); }
    void OnContextMenu(CWnd*, CPoint) { Default(); }
    void OnClose() { Default(); }

    // Attributes and operations
    DWORD GetStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_STYLE); }
    DWORD GetExStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_EXSTYLE); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT nFlags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT nFlags = 0);
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    int SetDlgCtrlID(int nID) { return (int)::SetWindowLongPtrW(m_hWnd, GWLP_ID, nID); }
    CWnd* GetDlgItem(int nID) const;
    CWnd* GetParent() const;
    CWnd* GetOwner() const;
    CWnd* GetTopLevelParent() const;
    CWnd* GetNextDlgTabItem(CWnd* pCtl, BOOL bPrevious = FALSE) const;
    static CWnd* GetFocus();
    static CWnd* GetForegroundWindow();
    static CWnd* GetActiveWindow();
    static CWnd* WindowFromPoint(POINT p);
    CWnd* SetFocus();
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    CWnd* SetCapture();
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsChild(const CWnd* p) const { return p && ::IsChild(m_hWnd, p->m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
    BOOL EnableWindow(BOOL b = TRUE) { return ::EnableWindow(m_hWnd, b); }
    BOOL ShowWindow(int n) { return ::ShowWindow(m_hWnd, n); }
    void MoveWindow(int x, int y, int w, int h, BOOL bRepaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, bRepaint); }
    void MoveWindow(LPCRECT r, BOOL bRepaint = TRUE) { MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, bRepaint); }
    BOOL SetWindowPos(const CWnd* pAfter, int x, int y, int cx, int cy, UINT flags)
    {
        return ::SetWindowPos(m_hWnd, pAfter ? pAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    void GetWindowRect(LPRECT r) const { ::GetWindowRect(m_hWnd, r); }
    void GetClientRect(LPRECT r) const { ::GetClientRect(m_hWnd, r); }
    void ClientToScreen(LPPOINT p) const { ::ClientToScreen(m_hWnd, p); }
    void ClientToScreen(LPRECT r) const;
    void ScreenToClient(LPPOINT p) const { ::ScreenToClient(m_hWnd, p); }
    void ScreenToClient(LPRECT r) const;
    void SetWindowText(const wchar_t* s) { ::SetWindowTextW(m_hWnd, s); }
    void GetWindowText(CString& s) const;
    CString GetWindowText() const { CString s; GetWindowText(s); return s; }
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    void SetDlgItemText(int nID, const wchar_t* s) { ::SetDlgItemTextW(m_hWnd, nID, s); }
    int GetDlgItemText(int nID, CString& s) const;
    void SetFont(CFont* pFont, BOOL bRedraw = TRUE)
    {
        ::SendMessageW(m_hWnd, WM_SETFONT, (WPARAM)(pFont ? pFont->m_hObject : nullptr), bRedraw);
    }
    CFont* GetFont() const { return CFont::FromHandle((HFONT)::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)); }
    HICON SetIcon(HICON h, BOOL bBig) { return (HICON)::SendMessageW(m_hWnd, WM_SETICON, bBig, (LPARAM)h); }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    void InvalidateRect(LPCRECT r, BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, r, bErase); }
    void ValidateRect(LPCRECT r) { ::ValidateRect(m_hWnd, r); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(LPCRECT r = nullptr, CRgn* rgn = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE)
    {
        return ::RedrawWindow(m_hWnd, r, rgn ? (HRGN)rgn->m_hObject : nullptr, flags);
    }
    void SetRedraw(BOOL b = TRUE) { ::SendMessageW(m_hWnd, WM_SETREDRAW, b, 0); }
    // The window takes the region over; the CRgn is left empty.
    int SetWindowRgn(HRGN h, BOOL bRedraw) { return ::SetWindowRgn(m_hWnd, h, bRedraw); }
    UINT_PTR SetTimer(UINT_PTR nID, UINT ms, TIMERPROC proc = nullptr) { return ::SetTimer(m_hWnd, nID, ms, proc); }
    BOOL KillTimer(UINT_PTR nID) { return ::KillTimer(m_hWnd, nID); }
    LRESULT SendMessage(UINT m, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(m_hWnd, m, w, l); }
    BOOL PostMessage(UINT m, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(m_hWnd, m, w, l); }
    LRESULT SendDlgItemMessage(int nID, UINT m, WPARAM w = 0, LPARAM l = 0) const
    {
        return ::SendDlgItemMessageW(m_hWnd, nID, m, w, l);
    }
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);
    BOOL SetMenu(CMenu* p) { return ::SetMenu(m_hWnd, p ? p->m_hMenu : nullptr); }
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // Looks an entry up along the class chain; nID/nCode only for commands and notifications.
    const AFX_MSGMAP_ENTRY* FindEntry(UINT nMessage, UINT nCode, UINT nID) const;
    // Calls a handler of one of the signatures above.
    LRESULT DispatchEntry(const AFX_MSGMAP_ENTRY* e, UINT message, WPARAM wParam, LPARAM lParam,
                          BOOL* pbHandled = nullptr);
    void HookNextCreate();
    static void UnhookCreate();
    virtual void OnNcDestroyFinal();

    WNDPROC m_pfnSuper = nullptr;  // the procedure the window had before it joined the class layer
    bool m_bTemporary = false;

    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK AfxCbtFilterHook(int, WPARAM, LPARAM);
    friend class CDialog;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// A window class name registered once per process for plain windows made with Create.
const wchar_t* AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr,
                                   HBRUSH hbrBackground = nullptr, HICON hIcon = nullptr);

// ---------------------------------------------------------------------------------------
// Application and threads
// ---------------------------------------------------------------------------------------

class CWinThread : public CCmdTarget {
public:
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    CWnd* m_pMainWnd = nullptr;
    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
    DWORD SuspendThread() { return ::SuspendThread(m_hThread); }
    BOOL SetThreadPriority(int n) { return ::SetThreadPriority(m_hThread, n); }
    ~CWinThread() override;
};

typedef UINT (*AFX_THREADPROC)(LPVOID);
// Starts a worker thread. With m_bAutoDelete the object deletes itself when the procedure
// returns. Flags: CREATE_SUSPENDED or 0.
CWinThread* AfxBeginThread(AFX_THREADPROC pfn, LPVOID pParam, int nPriority = THREAD_PRIORITY_NORMAL,
                           UINT nStackSize = 0, DWORD dwCreateFlags = 0, void* lpSecurityAttrs = nullptr);

class CWinApp : public CWinThread {
public:
    explicit CWinApp(const wchar_t* pszAppName = nullptr);
    ~CWinApp() override;
    HINSTANCE m_hInstance = nullptr;
    const wchar_t* m_pszAppName = nullptr;
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // The application's own message loop (only when InitInstance returns TRUE).
    virtual int Run();
    // The help command: asks the main window for help.
    void OnHelp()
    {
        if (m_pMainWnd)
            m_pMainWnd->WinHelp(0, HELP_CONTEXT);
    }
};

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// Runs the application object: InitInstance, then (when it returns TRUE) Run, then ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK, UINT nHelp = 0);
// Frees the per-thread wrappers of windows and GDI objects that no longer exist.
void AfxPurgeTemporaryMaps();

// ---------------------------------------------------------------------------------------
// Dialogs
// ---------------------------------------------------------------------------------------

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Modeless: a window made from the dialog resource (a child page when its style says so).
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Modal: the class layer's own loop; PreTranslateMessage is walked from the message's
    // window up to its top-level window, and every other window's messages keep flowing.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    BOOL PreTranslateMessage(MSG* pMsg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL IsModal() const { return m_bModal; }
    UINT GetTemplateID() const { return m_nIDTemplate; }

protected:
    UINT m_nIDTemplate = 0;
    CWnd* m_pParentWnd = nullptr;
    INT_PTR m_nModalResult = -1;
    bool m_bModal = false;
    bool m_bContinueModal = false;
    BOOL CreateFromTemplate(HWND hParent);
    static INT_PTR CALLBACK DlgProc(HWND, UINT, WPARAM, LPARAM);
};

#include "afxctl.h"
