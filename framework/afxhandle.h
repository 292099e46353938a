#pragma once
// Owners of the system's handles: each closes its handle when it goes, also when its scope is
// left by an exception (memory running out on the way) or an early return, so no error path
// has to remember a CloseHandle.
//
//   CKernelHandle  a handle CloseHandle closes: files, devices, events, threads, mutexes.
//                  Both empty values of the system (nullptr from CreateEvent and friends,
//                  INVALID_HANDLE_VALUE from CreateFile) count as no handle.
//   CFindHandle    a folder listing FindFirstFileW opened; FindClose closes it.

#include <utility>
#include <windows.h>

template <typename Traits>
class CHandleOwner {
public:
    CHandleOwner() = default;
    explicit CHandleOwner(HANDLE h) : m_h(h) {}
    ~CHandleOwner() { Close(); }
    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;
    CHandleOwner(CHandleOwner&& other) noexcept : m_h(other.Release()) {}
    CHandleOwner& operator=(CHandleOwner&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return IsValid(); }

    // Closes the handle held (if any) and takes h.
    void Reset(HANDLE h = INVALID_HANDLE_VALUE)
    {
        if (h != m_h)
            Close();
        m_h = h;
    }
    // Gives the handle up without closing it.
    HANDLE Release() { return std::exchange(m_h, INVALID_HANDLE_VALUE); }
    // Closes now; the system's result (TRUE when nothing was held). A file's close can report
    // a write the system could not finish, so callers that care look at it.
    BOOL Close()
    {
        BOOL ok = TRUE;
        if (IsValid())
            ok = Traits::Close(m_h);
        m_h = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

struct CKernelHandleTraits {
    static BOOL Close(HANDLE h) { return ::CloseHandle(h); }
};
struct CFindHandleTraits {
    static BOOL Close(HANDLE h) { return ::FindClose(h); }
};

typedef CHandleOwner<CKernelHandleTraits> CKernelHandle;
typedef CHandleOwner<CFindHandleTraits> CFindHandle;
