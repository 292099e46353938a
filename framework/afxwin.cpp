// Windows, message maps, handle maps, the creation hook, the application object and threads.
#include "afxwin.h"

#include <memory>
#include <mutex>
#include <process.h>
#include <unordered_map>

// ---------------------------------------------------------------------------------------
// Key messages
// ---------------------------------------------------------------------------------------

bool AfxIsKeyMessage(const MSG* pMsg)
{
    if (!pMsg)
        return false;
    switch (pMsg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        return true;
    default:
        return false;
    }
}

bool AfxIsKeyMessageFor(const MSG* pMsg, UINT nVirtKey)
{
    return AfxIsKeyMessage(pMsg) && pMsg->wParam == nVirtKey;
}

// ---------------------------------------------------------------------------------------
// The thread's current message
// ---------------------------------------------------------------------------------------

static thread_local MSG t_currentMsg{};

MSG* AfxGetCurrentMessage() { return &t_currentMsg; }

CCurrentMessageScope::CCurrentMessageScope(HWND h, UINT m, WPARAM w, LPARAM l) : m_saved(t_currentMsg)
{
    t_currentMsg.hwnd = h;
    t_currentMsg.message = m;
    t_currentMsg.wParam = w;
    t_currentMsg.lParam = l;
}

CCurrentMessageScope::~CCurrentMessageScope() { t_currentMsg = m_saved; }

// ---------------------------------------------------------------------------------------
// Handle maps
// ---------------------------------------------------------------------------------------

namespace {

// Windows owned by an object. One process-wide map: the splash runs on a thread of its own,
// and a window may be looked up from another thread than the one that made it.
std::mutex g_mapLock;
std::unordered_map<HWND, CWnd*>& PermanentMap()
{
    static auto* map = new std::unordered_map<HWND, CWnd*>;  // outlives every static window object
    return *map;
}

struct TempMaps {
    std::unordered_map<HWND, std::unique_ptr<CWnd>> wnds;
    std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> gdi;
    std::unordered_map<HDC, std::unique_ptr<CDC>> dcs;
    std::unordered_map<HMENU, std::unique_ptr<CMenu>> menus;
    std::unordered_map<HIMAGELIST, std::unique_ptr<CImageList>> imageLists;
};
// Per thread, made on first use. Deliberately a plain pointer: objects with destructors in
// thread-local storage are torn down after the runtime has already freed that storage on
// this toolchain, which corrupts the heap when a thread ends. The few wrappers of a thread
// that ends are left behind (they own no handles).
thread_local TempMaps* t_tempMaps = nullptr;
TempMaps& Temp()
{
    if (!t_tempMaps)
        t_tempMaps = new TempMaps;
    return *t_tempMaps;
}


void MapAdd(HWND h, CWnd* p)
{
    std::lock_guard<std::mutex> lock(g_mapLock);
    PermanentMap()[h] = p;
}

void MapRemove(HWND h, CWnd* p)
{
    std::lock_guard<std::mutex> lock(g_mapLock);
    auto it = PermanentMap().find(h);
    if (it != PermanentMap().end() && it->second == p)
        PermanentMap().erase(it);
}

}  // namespace

CWnd* CWnd::FromHandlePermanent(HWND h)
{
    if (!h)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mapLock);
    auto it = PermanentMap().find(h);
    return it == PermanentMap().end() ? nullptr : it->second;
}

namespace {

// The wrapper for a handle that no object owns: made on first use and kept in the thread's
// map until the next purge, so repeated look-ups hand back the same object. `adopt` puts
// the handle into a freshly made wrapper.
template <class T, class H, class Adopt>
T* TempWrapper(std::unordered_map<H, std::unique_ptr<T>>& map, H h, Adopt adopt)
{
    if (!h)
        return nullptr;
    auto& slot = map[h];
    if (!slot) {
        slot = std::make_unique<T>();
        adopt(*slot);
    }
    return slot.get();
}

// Drops the wrappers whose handle is gone; `release` lets go of the handle first, since a
// temporary wrapper never owns it.
template <class Map, class Gone, class Release>
void PurgeGone(Map& map, Gone gone, Release release)
{
    for (auto it = map.begin(); it != map.end();) {
        if (gone(it->first)) {
            release(*it->second);
            it = map.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

CWnd* CWnd::FromHandle(HWND h)
{
    if (CWnd* p = FromHandlePermanent(h))
        return p;
    return TempWrapper(Temp().wnds, h, [h](CWnd& w) {
        w.m_hWnd = h;
        w.m_bTemporary = true;
    });
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ h)
{
    return TempWrapper(Temp().gdi, h, [h](CGdiObject& o) { o.m_hObject = h; });
}

CDC* CDC::FromHandle(HDC h)
{
    return TempWrapper(Temp().dcs, h, [h](CDC& dc) { dc.m_hDC = dc.m_hAttribDC = h; });
}

CMenu* CMenu::FromHandle(HMENU h)
{
    return TempWrapper(Temp().menus, h, [h](CMenu& m) { m.m_hMenu = h; });
}

CImageList* CImageList::FromHandle(HIMAGELIST h)
{
    return TempWrapper(Temp().imageLists, h, [h](CImageList& il) { il.m_hImageList = h; });
}

void AfxPurgeTemporaryMaps()
{
    auto noObject = [](auto h) { return ::GetObjectType(h) == 0; };
    PurgeGone(Temp().wnds, [](HWND h) { return !::IsWindow(h); }, [](CWnd& w) { w.m_hWnd = nullptr; });
    PurgeGone(Temp().gdi, noObject, [](CGdiObject& o) { o.Detach(); });
    PurgeGone(Temp().dcs, noObject, [](CDC& dc) { dc.Detach(); });
    PurgeGone(Temp().menus, [](HMENU h) { return !::IsMenu(h); }, [](CMenu& m) { m.Detach(); });
    // An image list cannot be asked whether it still exists; its temporary wrappers are
    // dropped at every idle time like the class library's, so they cannot pile up.
    PurgeGone(Temp().imageLists, [](HIMAGELIST) { return true; }, [](CImageList& il) { il.Detach(); });
}

// ---------------------------------------------------------------------------------------
// Creation hook: the object that is being created joins its window before WM_NCCREATE,
// so that OnCreate runs for windows, controls made in code and dialogs alike.
// ---------------------------------------------------------------------------------------

static thread_local CWnd* t_pWndInit = nullptr;
static thread_local HHOOK t_hCbtHook = nullptr;
static thread_local int t_nHookDepth = 0;

LRESULT CALLBACK AfxCbtFilterHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && t_pWndInit) {
        CWnd* pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        HWND hWnd = (HWND)wParam;
        pWnd->m_hWnd = hWnd;
        MapAdd(hWnd, pWnd);
        pWnd->PreSubclassWindow();
        WNDPROC old = (WNDPROC)::GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
        if (old != AfxWndProc) {
            pWnd->m_pfnSuper = old;
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)AfxWndProc);
        }
    }
    return ::CallNextHookEx(t_hCbtHook, code, wParam, lParam);
}

void CWnd::HookNextCreate()
{
    if (t_nHookDepth++ == 0)
        t_hCbtHook = ::SetWindowsHookExW(WH_CBT, AfxCbtFilterHook, nullptr, ::GetCurrentThreadId());
    t_pWndInit = this;
}

void CWnd::UnhookCreate()
{
    t_pWndInit = nullptr;
    if (--t_nHookDepth == 0 && t_hCbtHook) {
        ::UnhookWindowsHookEx(t_hCbtHook);
        t_hCbtHook = nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Window procedure
// ---------------------------------------------------------------------------------------

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CCurrentMessageScope scope(hWnd, message, wParam, lParam);
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        LRESULT r = pWnd->WindowProc(message, wParam, lParam);
        pWnd->OnNcDestroyFinal();
        return r;
    }
    return pWnd->WindowProc(message, wParam, lParam);
}

const wchar_t* AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    static std::unordered_map<std::wstring, std::unique_ptr<std::wstring>> names;
    wchar_t name[96];
    swprintf(name, 96, L"ZulWnd:%x:%p:%p:%p", nClassStyle, (void*)hCursor, (void*)hbrBackground, (void*)hIcon);
    auto& slot = names[name];
    if (!slot) {
        WNDCLASSW wc = {};
        wc.style = nClassStyle;
        wc.lpfnWndProc = ::DefWindowProcW;  // replaced per window by the creation hook
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.hIcon = hIcon;
        wc.lpszClassName = name;
        ::RegisterClassW(&wc);
        slot = std::make_unique<std::wstring>(name);
    }
    return slot->c_str();
}

// ---------------------------------------------------------------------------------------
// CWnd
// ---------------------------------------------------------------------------------------

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_bTemporary || !m_hWnd)
        return;
    if (FromHandlePermanent(m_hWnd) == this) {
        if (::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId()) {
            // The object is going: its window goes with it.
            ::DestroyWindow(m_hWnd);
        }
        if (m_hWnd) {
            // Destroyed elsewhere or on another thread: at least stop routing to this object.
            if (m_pfnSuper && ::IsWindow(m_hWnd) &&
                (WNDPROC)::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) == AfxWndProc)
                ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuper);
            MapRemove(m_hWnd, this);
            m_hWnd = nullptr;
        }
    }
}

BOOL CWnd::Attach(HWND h)
{
    if (!h || m_hWnd || FromHandlePermanent(h))
        return FALSE;
    m_hWnd = h;
    MapAdd(h, this);
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND h = m_hWnd;
    if (h)
        MapRemove(h, this);
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::Create(const wchar_t* lpszClassName, const wchar_t* lpszWindowName, DWORD dwStyle,
                  const RECT& rect, CWnd* pParentWnd, UINT nID, void*)
{
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, const wchar_t* lpszClassName, const wchar_t* lpszWindowName,
                    DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID, void* lpParam)
{
    if (m_hWnd)
        return FALSE;
    if (!lpszClassName)
        lpszClassName = AfxRegisterWndClass(CS_DBLCLKS, ::LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW));
    CREATESTRUCTW cs = {};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = rect.left;
    cs.y = rect.top;
    cs.cx = rect.right - rect.left;
    cs.cy = rect.bottom - rect.top;
    cs.hwndParent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    cs.hMenu = (dwStyle & WS_CHILD) ? (HMENU)(UINT_PTR)nID : nullptr;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs))
        return FALSE;
    HookNextCreate();
    HWND h = ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
                               cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    UnhookCreate();
    if (!h) {
        // A window refused in WM_CREATE is already gone; forget it.
        if (m_hWnd) {
            MapRemove(m_hWnd, this);
            m_hWnd = nullptr;
        }
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassWindow(HWND h)
{
    if (!Attach(h))
        return FALSE;
    PreSubclassWindow();
    WNDPROC old = (WNDPROC)::SetWindowLongPtrW(h, GWLP_WNDPROC, (LONG_PTR)AfxWndProc);
    if (old != AfxWndProc)
        m_pfnSuper = old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    HWND h = pParent ? ::GetDlgItem(pParent->m_hWnd, nID) : nullptr;
    return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    if (!m_hWnd)
        return nullptr;
    if (m_pfnSuper)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuper);
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

void CWnd::OnNcDestroyFinal()
{
    HWND h = m_hWnd;
    if (m_pfnSuper && (WNDPROC)::GetWindowLongPtrW(h, GWLP_WNDPROC) == AfxWndProc)
        ::SetWindowLongPtrW(h, GWLP_WNDPROC, (LONG_PTR)m_pfnSuper);
    m_pfnSuper = nullptr;
    MapRemove(h, this);
    m_hWnd = nullptr;
    PostNcDestroy();
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    MSG* m = AfxGetCurrentMessage();
    return DefWindowProc(m->message, m->wParam, m->lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    if (!OnWndMsg(message, wParam, lParam, &r))
        r = DefWindowProc(message, wParam, lParam);
    return r;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CWnd::FindEntry(UINT nMessage, UINT nCode, UINT nID) const
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->pRegisteredMessage) {
                if (*e->pRegisteredMessage == nMessage && *e->pRegisteredMessage != 0)
                    return e;
                continue;
            }
            if (e->nMessage != nMessage || e->nCode != nCode)
                continue;
            if (nMessage == WM_COMMAND || nMessage == WM_NOTIFY) {
                if (nID < e->nID || nID > e->nLastID)
                    continue;
            }
            return e;
        }
    }
    return nullptr;
}

LRESULT CWnd::DispatchEntry(const AFX_MSGMAP_ENTRY* e, UINT message, WPARAM wParam, LPARAM lParam, BOOL* pbHandled)
{
    if (pbHandled)
        *pbHandled = TRUE;
    CDC dc;  // wraps a context handed in by the message; never deletes it
    LRESULT r = 0;
    switch (e->nSig) {
    case AfxSig_v_v:
        (this->*reinterpret_cast<void (CCmdTarget::*)()>(e->pfn))();
        break;
    case AfxSig_b_v:
        r = (this->*reinterpret_cast<BOOL (CCmdTarget::*)()>(e->pfn))();
        if (pbHandled)
            *pbHandled = (BOOL)r;
        break;
    case AfxSig_i_pcs:
        r = (this->*reinterpret_cast<int (CWnd::*)(LPCREATESTRUCT)>(e->pfn))((LPCREATESTRUCT)lParam);
        break;
    case AfxSig_b_pDC:
        dc.m_hDC = dc.m_hAttribDC = (HDC)wParam;
        r = (this->*reinterpret_cast<BOOL (CWnd::*)(CDC*)>(e->pfn))(&dc);
        break;
    case AfxSig_h_pDCpWu:
        dc.m_hDC = dc.m_hAttribDC = (HDC)wParam;
        r = (LRESULT)(this->*reinterpret_cast<HBRUSH (CWnd::*)(CDC*, CWnd*, UINT)>(e->pfn))(
            &dc, CWnd::FromHandle((HWND)lParam), message - WM_CTLCOLORMSGBOX);
        break;
    case AfxSig_h_pDCu:
        dc.m_hDC = dc.m_hAttribDC = (HDC)wParam;
        r = (LRESULT)(this->*reinterpret_cast<HBRUSH (CWnd::*)(CDC*, UINT)>(e->pfn))(&dc, message - WM_CTLCOLORMSGBOX);
        break;
    case AfxSig_v_up:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, CPoint)>(e->pfn))((UINT)wParam, CPoint(lParam));
        break;
    case AfxSig_v_uii:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, int, int)>(e->pfn))((UINT)wParam, (short)LOWORD(lParam),
                                                                           (short)HIWORD(lParam));
        break;
    case AfxSig_v_ut:
        (this->*reinterpret_cast<void (CWnd::*)(UINT_PTR)>(e->pfn))((UINT_PTR)wParam);
        break;
    case AfxSig_v_pW:
        (this->*reinterpret_cast<void (CWnd::*)(CWnd*)>(e->pfn))(CWnd::FromHandle((HWND)wParam));
        break;
    case AfxSig_v_b:
        (this->*reinterpret_cast<void (CWnd::*)(BOOL)>(e->pfn))((BOOL)wParam);
        break;
    case AfxSig_v_upWb:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, CWnd*, BOOL)>(e->pfn))(
            LOWORD(wParam), CWnd::FromHandle((HWND)lParam), HIWORD(wParam));
        break;
    case AfxSig_b_pWuu:
        r = (this->*reinterpret_cast<BOOL (CWnd::*)(CWnd*, UINT, UINT)>(e->pfn))(
            CWnd::FromHandle((HWND)wParam), LOWORD(lParam), HIWORD(lParam));
        break;
    case AfxSig_u_v:
        r = (this->*reinterpret_cast<UINT (CWnd::*)()>(e->pfn))();
        break;
    case AfxSig_h_v:
        r = (LRESULT)(this->*reinterpret_cast<HCURSOR (CWnd::*)()>(e->pfn))();
        break;
    case AfxSig_b_ud:
        r = (this->*reinterpret_cast<BOOL (CWnd::*)(UINT, DWORD_PTR)>(e->pfn))((UINT)wParam, (DWORD_PTR)lParam);
        break;
    case AfxSig_v_uuu:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, UINT, UINT)>(e->pfn))((UINT)wParam, LOWORD(lParam),
                                                                             HIWORD(lParam));
        break;
    case AfxSig_v_iDIS:
        (this->*reinterpret_cast<void (CWnd::*)(int, LPDRAWITEMSTRUCT)>(e->pfn))((int)wParam, (LPDRAWITEMSTRUCT)lParam);
        r = TRUE;
        break;
    case AfxSig_v_iMIS:
        (this->*reinterpret_cast<void (CWnd::*)(int, LPMEASUREITEMSTRUCT)>(e->pfn))((int)wParam,
                                                                                     (LPMEASUREITEMSTRUCT)lParam);
        r = TRUE;
        break;
    case AfxSig_v_uL:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, LPARAM)>(e->pfn))((UINT)wParam, lParam);
        break;
    case AfxSig_l_wl:
        r = (this->*reinterpret_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(e->pfn))(wParam, lParam);
        break;
    case AfxSig_v_pWp:
        (this->*reinterpret_cast<void (CWnd::*)(CWnd*, CPoint)>(e->pfn))(CWnd::FromHandle((HWND)wParam),
                                                                          CPoint(lParam));
        break;
    default:
        if (pbHandled)
            *pbHandled = FALSE;
        break;
    }
    dc.m_hDC = dc.m_hAttribDC = nullptr;
    return r;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    switch (message) {
    case WM_COMMAND:
        if (OnCommand(wParam, lParam)) {
            *pResult = 0;
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        LRESULT r = 0;
        if (OnNotify(wParam, lParam, &r)) {
            *pResult = r;
            return TRUE;
        }
        return FALSE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        if (const AFX_MSGMAP_ENTRY* e = FindEntry(WM_CTLCOLOR, 0, 0)) {
            *pResult = DispatchEntry(e, message, wParam, lParam);
        } else {
            CDC dc;
            dc.m_hDC = dc.m_hAttribDC = (HDC)wParam;
            *pResult = (LRESULT)CWnd::OnCtlColor(&dc, CWnd::FromHandle((HWND)lParam), message - WM_CTLCOLORMSGBOX);
            dc.m_hDC = dc.m_hAttribDC = nullptr;
        }
        return TRUE;
    }
    case WM_DRAWITEM:
        if (const AFX_MSGMAP_ENTRY* e = FindEntry(WM_DRAWITEM, 0, 0))
            *pResult = DispatchEntry(e, message, wParam, lParam);
        else {
            CWnd::OnDrawItem((int)wParam, (LPDRAWITEMSTRUCT)lParam);
            *pResult = TRUE;
        }
        return TRUE;
    case WM_MEASUREITEM:
        if (const AFX_MSGMAP_ENTRY* e = FindEntry(WM_MEASUREITEM, 0, 0))
            *pResult = DispatchEntry(e, message, wParam, lParam);
        else {
            CWnd::OnMeasureItem((int)wParam, (LPMEASUREITEMSTRUCT)lParam);
            *pResult = TRUE;
        }
        return TRUE;
    default:
        break;
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(message, 0, 0);
    if (!e)
        return FALSE;
    *pResult = DispatchEntry(e, message, wParam, lParam);
    return TRUE;
}

BOOL CWnd::ReflectLastMsg(HWND hWndChild, LRESULT* pResult)
{
    CWnd* pChild = FromHandlePermanent(hWndChild);
    if (!pChild)
        return FALSE;
    MSG* m = AfxGetCurrentMessage();
    return pChild->OnChildNotify(m->message, m->wParam, m->lParam, pResult);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    UINT nID = LOWORD(wParam);
    HWND hCtl = (HWND)lParam;
    UINT nCode = HIWORD(wParam);
    if (hCtl) {
        // The control sees its own notification first (ON_CONTROL_REFLECT[_EX]).
        if (CWnd* pChild = FromHandlePermanent(hCtl)) {
            LRESULT r = 0;
            if (pChild->OnChildNotify(WM_COMMAND, wParam, lParam, &r))
                return TRUE;
        }
    } else {
        nCode = 0;  // menu items and accelerators are plain commands
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_COMMAND, nCode, nID);
    if (!e)
        return FALSE;
    DispatchEntry(e, WM_COMMAND, wParam, lParam);
    return TRUE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* pResult)
{
    NMHDR* pNMHDR = (NMHDR*)lParam;
    if (!pNMHDR)
        return FALSE;
    if (CWnd* pChild = FromHandlePermanent(pNMHDR->hwndFrom)) {
        if (pChild->OnChildNotify(WM_NOTIFY, 0, lParam, pResult))
            return TRUE;
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_NOTIFY, pNMHDR->code, (UINT)pNMHDR->idFrom);
    if (!e)
        return FALSE;
    LRESULT r = 0;
    (this->*reinterpret_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn))(pNMHDR, &r);
    *pResult = r;
    return TRUE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    switch (message) {
    case WM_COMMAND: {
        const AFX_MSGMAP_ENTRY* e = FindEntry(WM_REFLECT_BASE + WM_COMMAND, HIWORD(wParam), 0);
        if (!e)
            return FALSE;
        BOOL handled = TRUE;
        DispatchEntry(e, message, wParam, lParam, &handled);
        return handled;
    }
    case WM_NOTIFY: {
        NMHDR* p = (NMHDR*)lParam;
        const AFX_MSGMAP_ENTRY* e = FindEntry(WM_REFLECT_BASE + WM_NOTIFY, p->code, 0);
        if (!e)
            return FALSE;
        LRESULT r = 0;
        BOOL handled = TRUE;
        if (e->nSig == AfxSig_b_NMHDR_pl)
            handled = (this->*reinterpret_cast<BOOL (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn))(p, &r);
        else
            (this->*reinterpret_cast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn))(p, &r);
        if (handled && pResult)
            *pResult = r;
        return handled;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        const AFX_MSGMAP_ENTRY* e = FindEntry(WM_REFLECT_BASE + WM_CTLCOLOR, 0, 0);
        if (!e)
            return FALSE;
        LRESULT h = DispatchEntry(e, message, wParam, lParam);
        if (!h)
            return FALSE;  // the control declined: the parent colours it
        if (pResult)
            *pResult = h;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

HBRUSH CWnd::OnCtlColor(CDC*, CWnd* pWnd, UINT)
{
    LRESULT r = 0;
    MSG* m = AfxGetCurrentMessage();
    if (pWnd && pWnd->m_hWnd) {
        if (CWnd* pChild = FromHandlePermanent(pWnd->m_hWnd)) {
            if (pChild->OnChildNotify(m->message, m->wParam, m->lParam, &r))
                return (HBRUSH)r;
        }
    }
    return (HBRUSH)Default();
}

void CWnd::OnDrawItem(int, LPDRAWITEMSTRUCT lpDIS)
{
    if (lpDIS && lpDIS->CtlType != ODT_MENU) {
        if (CWnd* pChild = FromHandlePermanent(lpDIS->hwndItem)) {
            LRESULT r = 0;
            if (pChild->OnChildNotify(WM_DRAWITEM, lpDIS->CtlID, (LPARAM)lpDIS, &r))
                return;
        }
    }
    Default();
}

void CWnd::OnMeasureItem(int nIDCtl, LPMEASUREITEMSTRUCT lpMIS)
{
    if (lpMIS && lpMIS->CtlType != ODT_MENU && nIDCtl) {
        if (CWnd* pChild = FromHandlePermanent(::GetDlgItem(m_hWnd, nIDCtl))) {
            LRESULT r = 0;
            if (pChild->OnChildNotify(WM_MEASUREITEM, nIDCtl, (LPARAM)lpMIS, &r))
                return;
        }
    }
    Default();
}

BOOL CWnd::WalkPreTranslateTree(HWND hWndStop, MSG* pMsg)
{
    for (HWND h = pMsg->hwnd; h; ) {
        if (CWnd* p = FromHandlePermanent(h)) {
            if (p->PreTranslateMessage(pMsg))
                return TRUE;
        }
        if (h == hWndStop)
            break;
        // Up to the top-level window: stop at the first window that is not a child.
        if (!(::GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
            break;
        h = ::GetParent(h);
    }
    return FALSE;
}

// Changes the style bits kept at nIndex; nFlags, when given, has the frame follow at once.
// FALSE when nothing changes.
static BOOL ModifyStyleBits(HWND hWnd, int nIndex, DWORD remove, DWORD add, UINT nFlags)
{
    DWORD style = (DWORD)::GetWindowLongW(hWnd, nIndex);
    DWORD newStyle = (style & ~remove) | add;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongW(hWnd, nIndex, newStyle);
    if (nFlags)
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT nFlags)
{
    return ModifyStyleBits(m_hWnd, GWL_STYLE, remove, add, nFlags);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT nFlags)
{
    return ModifyStyleBits(m_hWnd, GWL_EXSTYLE, remove, add, nFlags);
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetOwner() const { return FromHandle(::GetWindow(m_hWnd, GW_OWNER)); }

CWnd* CWnd::GetTopLevelParent() const
{
    HWND h = m_hWnd;
    while (h && (::GetWindowLongW(h, GWL_STYLE) & WS_CHILD) && ::GetParent(h))
        h = ::GetParent(h);
    return FromHandle(h);
}

CWnd* CWnd::GetNextDlgTabItem(CWnd* pCtl, BOOL bPrevious) const
{
    return FromHandle(::GetNextDlgTabItem(m_hWnd, pCtl ? pCtl->m_hWnd : nullptr, bPrevious));
}

CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }
CWnd* CWnd::GetForegroundWindow() { return FromHandle(::GetForegroundWindow()); }
CWnd* CWnd::GetActiveWindow() { return FromHandle(::GetActiveWindow()); }
CWnd* CWnd::WindowFromPoint(POINT p) { return FromHandle(::WindowFromPoint(p)); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }

void CWnd::ClientToScreen(LPRECT r) const
{
    ::ClientToScreen(m_hWnd, (LPPOINT)r);
    ::ClientToScreen(m_hWnd, ((LPPOINT)r) + 1);
}

void CWnd::ScreenToClient(LPRECT r) const
{
    ::ScreenToClient(m_hWnd, (LPPOINT)r);
    ::ScreenToClient(m_hWnd, ((LPPOINT)r) + 1);
}

void CWnd::GetWindowText(CString& s) const
{
    int n = ::GetWindowTextLengthW(m_hWnd);
    // The length in characters plus the terminator; the call never writes past the count.
    wchar_t* p = s.GetBuffer(n + 1);
    int got = ::GetWindowTextW(m_hWnd, p, n + 1);
    s.ReleaseBuffer(got < 0 ? 0 : got);
}

int CWnd::GetDlgItemText(int nID, CString& s) const
{
    HWND h = ::GetDlgItem(m_hWnd, nID);
    if (!h) {
        s.Empty();
        return 0;
    }
    FromHandle(h)->GetWindowText(s);
    return s.GetLength();
}

CDC* CWnd::GetDC()
{
    HDC h = ::GetDC(m_hWnd);
    return CDC::FromHandle(h);
}

int CWnd::ReleaseDC(CDC* pDC)
{
    if (!pDC)
        return 0;
    HDC h = pDC->m_hDC;
    int r = ::ReleaseDC(m_hWnd, h);
    auto it = Temp().dcs.find(h);
    if (it != Temp().dcs.end() && it->second.get() == pDC) {
        pDC->Detach();
        Temp().dcs.erase(it);
    }
    return r;
}

void CWnd::CenterWindow(CWnd* pAlternateOwner)
{
    CRect rc, rcOwner;
    GetWindowRect(&rc);
    HWND hOwner = pAlternateOwner ? pAlternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner)
        ::GetWindowRect(hOwner, &rcOwner);
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcOwner, 0);
    int x = rcOwner.left + (rcOwner.Width() - rc.Width()) / 2;
    int y = rcOwner.top + (rcOwner.Height() - rc.Height()) / 2;
    if (GetStyle() & WS_CHILD) {
        CPoint p(x, y);
        ::ScreenToClient(::GetParent(m_hWnd), &p);
        x = p.x;
        y = p.y;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------------------
// Application object and threads
// ---------------------------------------------------------------------------------------

static CWinApp* g_pApp = nullptr;

CWinApp::CWinApp(const wchar_t* pszAppName) : m_pszAppName(pszAppName)
{
    g_pApp = this;
    m_hInstance = ::GetModuleHandleW(nullptr);
    m_bAutoDelete = FALSE;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::Run()
{
    MSG msg;
    for (;;) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
            AfxPurgeTemporaryMaps();
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r <= 0)
            break;
        if (!CWnd::WalkPreTranslateTree(nullptr, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return (int)msg.wParam;
}

CWinApp* AfxGetApp() { return g_pApp; }
CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return g_pApp ? g_pApp->m_hInstance : ::GetModuleHandleW(nullptr); }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = hInstance;
    if (!app->InitInstance())
        return app->ExitInstance();
    int code = app->Run();
    int exitCode = app->ExitInstance();
    return exitCode ? exitCode : code;
}

int AfxMessageBox(const wchar_t* text, UINT type, UINT)
{
    CWnd* pMain = AfxGetMainWnd();
    HWND hOwner = pMain && ::IsWindow(pMain->m_hWnd) &&
                          ::GetWindowThreadProcessId(pMain->m_hWnd, nullptr) == ::GetCurrentThreadId()
                      ? pMain->m_hWnd
                      : nullptr;
    CWinApp* app = AfxGetApp();
    const wchar_t* title = app && app->m_pszAppName ? app->m_pszAppName : L"KVR ZUL";
    return ::MessageBoxW(hOwner, text, title, type);
}

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

namespace {
struct ThreadStart {
    AFX_THREADPROC pfn;
    LPVOID param;
    CWinThread* thread;
};

unsigned __stdcall ThreadTrampoline(void* p)
{
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    UINT code = start.pfn(start.param);
    if (start.thread->m_bAutoDelete)
        delete start.thread;
    return code;
}
}  // namespace

CWinThread* AfxBeginThread(AFX_THREADPROC pfn, LPVOID pParam, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                           void*)
{
    auto* thread = new CWinThread;
    auto* start = new ThreadStart{pfn, pParam, thread};
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, nStackSize, ThreadTrampoline, start, CREATE_SUSPENDED, &id);
    if (!h) {
        delete start;
        delete thread;
        return nullptr;
    }
    thread->m_hThread = (HANDLE)h;
    thread->m_nThreadID = id;
    ::SetThreadPriority(thread->m_hThread, nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ::ResumeThread(thread->m_hThread);
    return thread;
}
