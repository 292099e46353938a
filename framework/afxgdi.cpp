// GDI objects, device contexts, menus and image lists.
#include "afxwin.h"

// ---------------------------------------------------------------------------------------
// GDI objects
// ---------------------------------------------------------------------------------------

BOOL CGdiObject::Attach(HGDIOBJ h)
{
    if (!h)
        return FALSE;
    DeleteObject();
    m_hObject = h;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);  // stock objects are ignored by the system
    m_hObject = nullptr;
    return ok;
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int w, int h)
{
    return Attach(::CreateCompatibleBitmap(pDC->m_hDC, w, h));
}

BOOL CBitmap::LoadBitmap(UINT nID)
{
    return Attach(::LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nID)));
}

// ---------------------------------------------------------------------------------------
// CDC
// ---------------------------------------------------------------------------------------

CDC::~CDC() { DeleteDC(); }

BOOL CDC::Attach(HDC h)
{
    if (!h)
        return FALSE;
    m_hDC = m_hAttribDC = h;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC h = m_hDC;
    m_hDC = m_hAttribDC = nullptr;
    return h;
}

BOOL CDC::DeleteDC()
{
    if (!m_hDC)
        return FALSE;
    BOOL ok = ::DeleteDC(m_hDC);
    m_hDC = m_hAttribDC = nullptr;
    return ok;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC)
{
    HDC h = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    if (!h)
        return FALSE;
    DeleteDC();
    return Attach(h);
}

CGdiObject* CDC::SelectStockObject(int n)
{
    return CGdiObject::FromHandle(::SelectObject(m_hDC, ::GetStockObject(n)));
}

CFont* CDC::SelectObject(CFont* p)
{
    return CFont::FromHandle((HFONT)::SelectObject(m_hDC, p ? p->m_hObject : nullptr));
}

CBrush* CDC::SelectObject(CBrush* p)
{
    return CBrush::FromHandle((HBRUSH)::SelectObject(m_hDC, p ? p->m_hObject : nullptr));
}

CPen* CDC::SelectObject(CPen* p)
{
    return static_cast<CPen*>(CGdiObject::FromHandle(::SelectObject(m_hDC, p ? p->m_hObject : nullptr)));
}

CBitmap* CDC::SelectObject(CBitmap* p)
{
    return CBitmap::FromHandle((HBITMAP)::SelectObject(m_hDC, p ? p->m_hObject : nullptr));
}

CPoint CDC::SetWindowOrg(int x, int y)
{
    POINT old{};
    ::SetWindowOrgEx(m_hDC, x, y, &old);
    return CPoint(old);
}

CPoint CDC::GetWindowOrg() const
{
    POINT p{};
    ::GetWindowOrgEx(m_hDC, &p);
    return CPoint(p);
}

CPoint CDC::SetViewportOrg(int x, int y)
{
    POINT old{};
    ::SetViewportOrgEx(m_hDC, x, y, &old);
    return CPoint(old);
}

BOOL CDC::AlphaBlend(int x, int y, int w, int h, CDC* pSrc, int xs, int ys, int ws, int hs, BLENDFUNCTION bf)
{
    return ::AlphaBlend(m_hDC, x, y, w, h, pSrc->m_hDC, xs, ys, ws, hs, bf);
}

void CDC::FillSolidRect(LPCRECT r, COLORREF c)
{
    COLORREF old = ::SetBkColor(m_hDC, c);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

void CDC::FillSolidRect(int x, int y, int w, int h, COLORREF c)
{
    RECT r = {x, y, x + w, y + h};
    FillSolidRect(&r, c);
}

void CDC::Draw3dRect(int x, int y, int w, int h, COLORREF topLeft, COLORREF bottomRight)
{
    FillSolidRect(x, y, w - 1, 1, topLeft);
    FillSolidRect(x, y, 1, h - 1, topLeft);
    FillSolidRect(x + w, y, -1, h, bottomRight);
    FillSolidRect(x, y + h, w, -1, bottomRight);
}

void CDC::Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight)
{
    Draw3dRect(r->left, r->top, r->right - r->left, r->bottom - r->top, topLeft, bottomRight);
}

CPoint CDC::MoveTo(int x, int y)
{
    POINT old{};
    ::MoveToEx(m_hDC, x, y, &old);
    return CPoint(old);
}

CSize CDC::GetTextExtent(const wchar_t* s, int n) const
{
    SIZE sz{};
    ::GetTextExtentPoint32W(m_hAttribDC ? m_hAttribDC : m_hDC, s, n, &sz);
    return CSize(sz);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { Attach(::BeginPaint(m_hWnd, &m_ps)); }

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) { Attach(::GetDC(m_hWnd)); }

CClientDC::~CClientDC()
{
    ::ReleaseDC(m_hWnd, Detach());
}

CWindowDC::CWindowDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) { Attach(::GetWindowDC(m_hWnd)); }

CWindowDC::~CWindowDC()
{
    ::ReleaseDC(m_hWnd, Detach());
}

// ---------------------------------------------------------------------------------------
// Menus
// ---------------------------------------------------------------------------------------

BOOL CMenu::Attach(HMENU h)
{
    if (!h)
        return FALSE;
    DestroyMenu();
    m_hMenu = h;
    return TRUE;
}

HMENU CMenu::Detach()
{
    HMENU h = m_hMenu;
    m_hMenu = nullptr;
    return h;
}

BOOL CMenu::LoadMenu(UINT nID)
{
    HMENU h = ::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nID));
    return h ? Attach(h) : FALSE;
}

BOOL CMenu::DestroyMenu()
{
    if (!m_hMenu)
        return FALSE;
    BOOL ok = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return ok;
}

CMenu* CMenu::GetSubMenu(int nPos) const { return FromHandle(::GetSubMenu(m_hMenu, nPos)); }

int CMenu::GetMenuString(UINT nID, CString& s, UINT flags) const
{
    int n = ::GetMenuStringW(m_hMenu, nID, nullptr, 0, flags);
    wchar_t* p = s.GetBuffer(n + 1);
    int got = ::GetMenuStringW(m_hMenu, nID, p, n + 1, flags);
    s.ReleaseBuffer(got < 0 ? 0 : got);
    return got;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd, LPCRECT r)
{
    return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, pWnd ? pWnd->m_hWnd : nullptr, r);
}

// ---------------------------------------------------------------------------------------
// Image lists
// ---------------------------------------------------------------------------------------

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow)
{
    return Attach(ImageList_Create(cx, cy, flags, initial, grow));
}

BOOL CImageList::Attach(HIMAGELIST h)
{
    if (!h)
        return FALSE;
    DeleteImageList();
    m_hImageList = h;
    return TRUE;
}

HIMAGELIST CImageList::Detach()
{
    HIMAGELIST h = m_hImageList;
    m_hImageList = nullptr;
    return h;
}

BOOL CImageList::DeleteImageList()
{
    if (!m_hImageList)
        return FALSE;
    BOOL ok = ImageList_Destroy(m_hImageList);
    m_hImageList = nullptr;
    return ok;
}
