#pragma once
// The record of the temporary copies a process makes in a backup store and at the places a
// restore writes to, so that a run killed in the middle of a copy leaves nothing behind for
// good.
//
// Every copy is written to a temporary file "~zu<process id>_<counter>.tmp" (hex) beside its
// final name and renamed over it once complete. The process keeps one record for each store
// it writes with: "TempCopies_<process id>_<process creation time>.log" (both in hex) in the
// store folder, UTF-16 text, one full temporary name (long-path form) a line. Rules:
//  - A name is on the disk in the record before its file is created ("fail if it exists"), so
//    a crash never leaves a temporary copy the record does not name.
//  - A name whose file could not be created (a file of that name was there, the user's for
//    all the engine knows) is struck: its line is overwritten with spaces. Only files the
//    process made are ever removed through its record.
//  - A line may carry, after a "|", the final name its file is waiting for: a finished copy
//    that is moved out of the way for a moment (to give the final name its own letter case).
//    Such a file is moved to that name, when nothing holds the name, instead of being removed.
//  - A record goes only once none of the files it names is left; until then every name stays
//    in it, also across the runs of one process.
//  - A run clears, before it collects, what the records of ended processes name and is still
//    there, then those records. A process is the one that wrote a record only when both its
//    id and its creation time match (ids are used again).
// (A record cut short by a power cut may miss its last names: such a copy stays where it is.)

#include <vector>
#include <windows.h>

#include "afxstr.h"

// Holds a slim lock exclusively for its scope, also when the scope is left by an exception
// (memory running out on the way): the next run must not wait for it for ever.
class CExclusiveHold {
public:
    explicit CExclusiveHold(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~CExclusiveHold() { ReleaseSRWLockExclusive(&m_lock); }
    CExclusiveHold(const CExclusiveHold&) = delete;
    CExclusiveHold& operator=(const CExclusiveHold&) = delete;

private:
    SRWLOCK& m_lock;
};

class CTempCopyRecord {
public:
    // The record of this process: one a process, as the temporary names are.
    static CTempCopyRecord& OfProcess();

    // Opens the record in the store folder, unless one is open. A record an earlier run of
    // this process kept (some of its files could not be removed then) is taken up: what it
    // names and is still there is removed now, and names that stay are kept. True when this
    // call opened it.
    bool Open(const CString& strStoreFolder);
    // Closes the record; it is removed when none of the files it names is left.
    void Close();

    // A new temporary name in the folder (long-path form), unique within the process, noted
    // in the open record before it is handed out. strWaitsFor: the final name a finished copy
    // moved to it waits for (empty for a copy being made). False, with the error, when the
    // record is open and the name could not be noted: its file must not be made then. (Without
    // an open record the name is only made: a killed run's copies stay where they are.)
    bool NewTempName(const CString& strFolder, CString& strTemp, const CString& strWaitsFor = CString());
    // The caller could not create the file of a name NewTempName gave: its line is struck.
    void Strike(const CString& strTemp);

    // Clears, in the store folder, what the records of ended processes name, then the records
    // themselves; a record that cannot be read whole, or names a file that cannot be removed,
    // is kept.
    static void ClearEndedRuns(const CString& strStoreFolder);

    // True for the name of a record ("TempCopies_<id>_<created>.log"), with what it holds.
    static bool IsRecordName(const wchar_t* pszName, DWORD* pPid = nullptr, ULONGLONG* pCreated = nullptr);
    // True for a name NewTempName makes ("~zu<id>_<counter>.tmp").
    static bool IsTempName(const wchar_t* pszName);

    // The id this process goes by: always GetCurrentProcessId in the program; tests may put a
    // stand-in here (to be a process that has the id of an ended one).
    typedef DWORD(WINAPI* ProcessIdFunc)();
    static ProcessIdFunc s_pfnProcessId;

private:
    CTempCopyRecord();
    CTempCopyRecord(const CTempCopyRecord&) = delete;
    CTempCopyRecord& operator=(const CTempCopyRecord&) = delete;

    struct Entry {
        CString strTemp;
        LONGLONG nOffset = -1;   // where its line begins in the record; -1: taken up, not struck
        int nChars = 0;          // the line's length without its line end
    };
    // Writes at nOffset; false when the whole text could not be written.
    bool WriteAt(LONGLONG nOffset, const CString& strText);

    SRWLOCK m_lock = SRWLOCK_INIT;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CString m_strPath;
    LONGLONG m_nEnd = 0;            // where the next line goes
    bool m_bKeep = false;           // a record taken up could not be read whole: it stays
    std::vector<Entry> m_entries;   // every name the open record holds that may be there
};
