#pragma once
// CSubclassWnd: a chain of window-procedure hooks. Several objects can watch one window's
// messages without the window's class knowing: the newest hook sees a message first and
// passes it on to the older ones, the last one to the procedure the window had before.

#include "afxwin.h"

#include <unordered_map>

class CSubclassWnd : public CObject {
public:
    CSubclassWnd() = default;
    ~CSubclassWnd() override;

    // Hooks the window (the new hook becomes the first of its chain); NULL unhooks.
    BOOL AttachToWindow(HWND hWnd);
    BOOL IsAttached() const { return m_hWnd != nullptr; }
    HWND GetHwnd() const { return m_hWnd; }
    // Default: the next hook, or for the last one the window's previous procedure.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    HWND m_hWnd = nullptr;
    WNDPROC m_pOldWndProc = nullptr;
    CSubclassWnd* m_pNext = nullptr;

    static LRESULT CALLBACK HookWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    friend class CSubclassWndMap;
};

// Each hooked window's first hook. One instance for the program, built on first use.
class CSubclassWndMap {
public:
    static CSubclassWndMap& Instance();
    CSubclassWnd* Lookup(HWND hWnd) const;
    void SetFirst(HWND hWnd, CSubclassWnd* pHook);
    void Detach(CSubclassWnd* pHook);
    // The procedure to call for a window whose hooks are gone but whose procedure could not
    // be put back (someone hooked it after us).
    WNDPROC OrphanProc(HWND hWnd) const;
    void ForgetOrphan(HWND hWnd) { m_orphans.erase(hWnd); }
    size_t Count() const { return m_map.size(); }

private:
    CSubclassWndMap() { m_map.reserve(10); }
    std::unordered_map<HWND, CSubclassWnd*> m_map;
    std::unordered_map<HWND, WNDPROC> m_orphans;
};
