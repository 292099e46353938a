#pragma once
// Scope guards of the copy engine's files.

#include <exception>
#include <windows.h>

namespace copyengine {

// Holds a critical section for its scope, also when the scope is left by an exception.
class CSectionHold {
public:
    explicit CSectionHold(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CSectionHold() { LeaveCriticalSection(&m_cs); }
    CSectionHold(const CSectionHold&) = delete;
    CSectionHold& operator=(const CSectionHold&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// Runs its action when its scope is left by an exception (memory running out), and only then:
// the ordinary ways out of a copy clean up after themselves. The action must not allocate.
template <class Action>
class COnUnwind {
public:
    explicit COnUnwind(Action action) : m_action(action), m_nExceptions(std::uncaught_exceptions()) {}
    ~COnUnwind()
    {
        if (std::uncaught_exceptions() > m_nExceptions)
            m_action();
    }
    COnUnwind(const COnUnwind&) = delete;
    COnUnwind& operator=(const COnUnwind&) = delete;

private:
    Action m_action;
    int m_nExceptions;
};

} // namespace copyengine
