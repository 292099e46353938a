#include "SubclassWnd.h"

CSubclassWndMap& CSubclassWndMap::Instance()
{
    static CSubclassWndMap map;  // destroyed at exit
    return map;
}

CSubclassWnd* CSubclassWndMap::Lookup(HWND hWnd) const
{
    auto it = m_map.find(hWnd);
    return it == m_map.end() ? nullptr : it->second;
}

void CSubclassWndMap::SetFirst(HWND hWnd, CSubclassWnd* pHook) { m_map[hWnd] = pHook; }

WNDPROC CSubclassWndMap::OrphanProc(HWND hWnd) const
{
    auto it = m_orphans.find(hWnd);
    return it == m_orphans.end() ? nullptr : it->second;
}

void CSubclassWndMap::Detach(CSubclassWnd* pHook)
{
    HWND h = pHook->m_hWnd;
    CSubclassWnd* first = Lookup(h);
    if (!first)
        return;
    if (first == pHook) {
        if (pHook->m_pNext) {
            m_map[h] = pHook->m_pNext;
        } else {
            m_map.erase(h);
            // Put the old procedure back, unless someone hooked the window after us: then
            // cutting them off would be worse, and the dispatch procedure forwards instead.
            if (::IsWindow(h) && (WNDPROC)::GetWindowLongPtrW(h, GWLP_WNDPROC) == CSubclassWnd::HookWndProc)
                ::SetWindowLongPtrW(h, GWLP_WNDPROC, (LONG_PTR)pHook->m_pOldWndProc);
            else if (::IsWindow(h))
                m_orphans[h] = pHook->m_pOldWndProc;
        }
    } else {
        for (CSubclassWnd* p = first; p; p = p->m_pNext) {
            if (p->m_pNext == pHook) {
                p->m_pNext = pHook->m_pNext;
                break;
            }
        }
    }
    pHook->m_pNext = nullptr;
}

CSubclassWnd::~CSubclassWnd()
{
    if (m_hWnd)
        AttachToWindow(nullptr);
}

BOOL CSubclassWnd::AttachToWindow(HWND hWnd)
{
    CSubclassWndMap& map = CSubclassWndMap::Instance();
    if (m_hWnd) {
        map.Detach(this);
        m_hWnd = nullptr;
    }
    if (!hWnd)
        return TRUE;
    m_hWnd = hWnd;
    CSubclassWnd* first = map.Lookup(hWnd);
    m_pNext = first;
    if (first) {
        m_pOldWndProc = first->m_pOldWndProc;
    } else {
        m_pOldWndProc = (WNDPROC)::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)HookWndProc);
    }
    map.SetFirst(hWnd, this);
    return TRUE;
}

LRESULT CSubclassWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (m_pNext)
        return m_pNext->HandleMessage(msg, wParam, lParam);
    return ::CallWindowProcW(m_pOldWndProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CSubclassWnd::HookWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CCurrentMessageScope scope(hWnd, msg, wParam, lParam);
    CSubclassWndMap& map = CSubclassWndMap::Instance();
    CSubclassWnd* first = map.Lookup(hWnd);
    if (!first) {
        WNDPROC orphan = map.OrphanProc(hWnd);
        LRESULT r = orphan ? ::CallWindowProcW(orphan, hWnd, msg, wParam, lParam)
                           : ::DefWindowProcW(hWnd, msg, wParam, lParam);
        if (msg == WM_NCDESTROY)
            map.ForgetOrphan(hWnd);
        return r;
    }
    if (msg == WM_NCDESTROY) {
        // The window is going: drop every hook, then let the old procedure finish.
        WNDPROC old = first->m_pOldWndProc;
        while (CSubclassWnd* p = map.Lookup(hWnd))
            p->AttachToWindow(nullptr);
        return ::CallWindowProcW(old, hWnd, msg, wParam, lParam);
    }
    return first->HandleMessage(msg, wParam, lParam);
}
