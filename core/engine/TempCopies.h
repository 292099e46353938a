#pragma once
// The copy engine's temporary copies: where every file the engine makes can be, and when it
// goes. A copy is always written to a temporary file first and renamed over its final name
// once it is complete, so a final name holds the old or the new file whole, never a part.
//
// Store side (a backup writes into <target>\VEZORI):
//  - Every temporary lives in the engine's own folder of the store, <store>\~ZUL.work (hidden;
//    its name is longer than one character, so it is never a mirrored drive-letter folder),
//    in a folder of the run named by a random 128-bit value (32 hex digits). No walk of the
//    store enters the engine's folder: not the backup's compare, not the restore's collection,
//    not the store's tree.
//  - A run owns its run folder by "run.lock" in it, which it keeps open without sharing for
//    the whole run; the system closes it however the process ends. Temporaries are named by a
//    counter ("<n>", hex), created "fail if it exists", and renamed (same volume, write-through,
//    replacing) to their final store name.
//  - A finished copy whose stored name kept an older letter case is put under its own case in
//    two moves: the note "<n>.name" (its final name relative to the store, UTF-16) is written
//    and flushed first, then the copy moves aside to "<n>", then to its final name, then the
//    note goes.
//  - Nothing here depends on the drive letter or the computer: names are relative to the store.
//
// User side (a restore writes beside the user's files):
//  - A temporary is "~zu<32 hex digits>.tmp" in the final file's folder, the digits a random
//    128-bit value drawn for each name, created "fail if it exists" (another name is drawn when
//    one exists). A user's file is never moved aside: the finished copy replaces it in one
//    rename (where the file system keeps the old letter case on such a rename, it is kept).
//  - Before it is created the name is noted, written through to the disk, in a record of the
//    run: <record folder>\Temporaries\<32 hex digits>.rec, held open without sharing for the
//    run. The record folder is the first of two places of this user on this computer that can
//    hold it (so the next run here finds it whether or not the disk is attached): the program's
//    per-user data folder, else a folder of the user's temporary folder. Where neither can, no
//    temporary is made beside a user's file: each file fails, naming the first place and why.
//  - A name leaves the record the moment its file is renamed into place or removed: its entry
//    is struck in place (a 4-byte write at an offset known since it was noted, from the stack).
//    Nothing allocates between noting a name and making its file, or between renaming or
//    removing the file and striking the name.
//
// Ended runs: a run (backup or restore, any process) clears, before it collects, what ended
// runs left: a run folder of the store (only a folder named as runs are, 32 hex digits) only
// once it can take its lock file (never one whose lock is held); there a note's copy is put
// under its final name when nothing holds that name (something that does was stored later: the
// copy waiting is older and goes), every other file the engine makes (its lock, "<n>" and
// "<n>.name") is removed, then the folder. Anything else in the engine's folder, or in a run
// folder, is not the engine's: it stays, and so does the folder that holds it. A record in
// either record folder only once it can open it without sharing; each name it holds that is
// still there (only names of the form above) is removed, then the record. What cannot be removed stays, with its lock or record, for a later run.
// Old records of the store ("TempCopies_<id>_<created>.log") are cleared once by the rules they
// were written under (LegacyTempRecords.h).

#include <atomic>
#include <windows.h>

#include "afxhandle.h"
#include "afxstr.h"

// The engine's folder inside a store.
extern const wchar_t kEngineFolderName[];

class CTempCopies {
public:
    CTempCopies();
    ~CTempCopies();
    CTempCopies(const CTempCopies&) = delete;
    CTempCopies& operator=(const CTempCopies&) = delete;

    // The store of this run, and the two folders the user side's record may go in (the first
    // that can hold it; the second may be empty or the same). Set before a run; the first
    // temporary made starts the run's folder or record. The end of the run forgets them.
    void SetStoreFolder(const CString& strStoreFolder);
    void SetRecordFolders(const CString& strFirst, const CString& strSecond);

    // Clears what ended runs left in the store and in the record folder (see above).
    void ClearEndedRuns();

    // The engine's folder of this run's store (long-path form); empty before the store is set.
    CString EngineFolder() const;
    // True when something that is not a folder has the engine folder's name: no temporary can
    // be made in the store (the user's file there is left as it is).
    bool EngineFolderInTheWay() const;

    // A new, empty temporary in this run's folder of the store, opened with the access and
    // flags given. INVALID_HANDLE_VALUE with the error when it cannot be made.
    HANDLE CreateInStore(DWORD dwAccess, DWORD dwFlags, CString& strTemp);

    // A new, empty temporary in the folder (long-path form or not) beside a user's file, noted
    // in the run's record first; nSlot is what Gone takes. INVALID_HANDLE_VALUE with the error
    // when it cannot be made, or with kRecordNotKept when its name cannot be noted.
    HANDLE CreateBeside(const CString& strFolder, DWORD dwAccess, DWORD dwFlags, CString& strTemp,
                        LONGLONG& nSlot);
    // The temporary of that slot has been renamed into place or removed. Never allocates;
    // a slot of -1 is nothing.
    void Gone(LONGLONG nSlot);

    // Gives the stored copy at strFinal (which holds the name in its older case, strHeld) the
    // case of strFinal, through an aside in the run folder noted first. False when it stayed
    // as it was.
    bool TakeCase(const CString& strHeld, const CString& strFinal);

    // The error of a temporary beside a user's file that was not made because no record folder
    // could hold the run's record (a code of this program's own, never the system's). The
    // folder it was to be in (the first place tried, or the record's own when writing to it
    // failed) and the system's error are kept until the run ends.
    static const DWORD kRecordNotKept = 0x20000000u | 0x5A55u;
    DWORD RecordNotKept(CString& strFolder) const;

    // The end of the run: its folder in the store goes once nothing of it is left, and its
    // record goes once no name in it is left; either stays for a later run otherwise. Nothing
    // of the run is kept: the next one starts from its own folders.
    void EndRun();

    // Random bytes come from SystemIo().RandomBytes (SystemIo.h), where tests make names clash.
    // Called at the steps of a temporary beside a user's file: once its name is on the disk,
    // before the file is made (kNoted), and once the file has been renamed or removed, before
    // its name is struck (kGoing). None in the program; tests end a run there.
    enum Step { kNoted = 1, kGoing = 2 };
    typedef void(CALLBACK* StepFunc)(int nStep);
    static StepFunc s_pfnStep;

private:
    bool StartStoreRun();
    bool StartRecord();
    // A new record in the Temporaries folder of one record folder; false with the error.
    bool StartRecordIn(const CString& strPlace, DWORD& dwError);
    // What ended runs' records in the Temporaries folder of one record folder name.
    void ClearRecordsIn(const CString& strPlace);
    void EndStoreRun();
    void EndRecord();
    // Writes all bytes at the offset of the record.
    bool WriteRecordAt(LONGLONG nOffset, const void* p, DWORD nBytes);

    CString m_strStore;          // long-path form
    CString m_strRecordFolder;   // long-path form, the first place
    CString m_strSecondRecordFolder;   // long-path form; empty when it is the first
    SRWLOCK m_lock = SRWLOCK_INIT;

    // Store side.
    std::atomic<bool> m_bStoreRun{false};
    bool m_bStoreRunTried = false;
    DWORD m_dwStoreRunError = 0;
    CString m_strRunFolder;      // long-path form, with a trailing backslash
    CKernelHandle m_hLock;
    std::atomic<unsigned> m_nCounter{0};

    // User side.
    bool m_bRecordTried = false;
    DWORD m_dwRecordError = 0;   // why the record could not be kept (the first place's reason)
    CString m_strRecordIn;       // the folder of the record, or the first one tried
    CString m_strRecord;
    CKernelHandle m_hRecord;
    LONGLONG m_nRecordEnd = 0;
    int m_nLive = 0;             // names in the record not yet struck
    BYTE* m_pEntry = nullptr;    // room for one entry, made when the record is
};
