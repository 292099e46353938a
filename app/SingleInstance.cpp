#include "SingleInstance.h"

const wchar_t kMainWindowTitle[] = L"KVR ZUL";
const wchar_t kMainWindowProperty[] = L"KvrZul.MainWindow";
const wchar_t kSingleInstanceMutex[] = L"Local\\KvrZul.SingleInstance";

bool CSingleInstance::Acquire(const wchar_t* pszName)
{
    Release();
    HANDLE h = ::CreateMutexW(nullptr, FALSE, pszName);
    if (!h)
        return true;  // no mutex to be had: behave as the only start rather than not start at all
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return false;
    }
    m_hMutex = h;
    return true;
}

void CSingleInstance::Release()
{
    if (m_hMutex) {
        ::CloseHandle(m_hMutex);
        m_hMutex = nullptr;
    }
}

void MarkMainWindow(HWND hWnd)
{
    if (hWnd)
        ::SetPropW(hWnd, kMainWindowProperty, (HANDLE)1);
}

void UnmarkMainWindow(HWND hWnd)
{
    if (hWnd)
        ::RemovePropW(hWnd, kMainWindowProperty);
}

namespace {
BOOL CALLBACK FindMarked(HWND hWnd, LPARAM lParam)
{
    wchar_t cls[16] = {};
    ::GetClassNameW(hWnd, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !::GetPropW(hWnd, kMainWindowProperty))
        return TRUE;
    wchar_t title[16] = {};
    ::GetWindowTextW(hWnd, title, 16);
    if (wcscmp(title, kMainWindowTitle) != 0)
        return TRUE;
    *(HWND*)lParam = hWnd;
    return FALSE;
}
}  // namespace

HWND FindMainWindow()
{
    HWND found = nullptr;
    ::EnumWindows(FindMarked, (LPARAM)&found);
    return found;
}

bool ActivateRunningInstance(DWORD nWaitMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        if (HWND h = FindMainWindow()) {
            ::ShowWindow(h, SW_SHOWNORMAL);
            ::SetForegroundWindow(h);
            return true;
        }
        if (::GetTickCount() - start >= nWaitMs)
            return false;
        ::Sleep(50);
    }
}
