#pragma once
// The copy engine: collects the files of a selection, copies them into the backup store
// "VEZORI" of the target drive (mirroring drive letter and path) and restores them.
//
// Store layout: the store folder is <target root>\VEZORI; the file C:\dir\name is stored as
// <store>\C\dir\name, or <store>\C\dir\name.zip when stored compressed.
//
// The worker thread drives the engine; the progress dialog's timer reads the counters and
// flags from the user-interface thread, so they are atomics (64-bit ones would tear on a
// 32-bit machine otherwise). m_strCurrentFile is guarded by m_hMutex.

#include <atomic>
#include <set>
#include <windows.h>

#include "afx.h"
#include "FailSink.h"

// The system's file copy, or a stand-in with the same contract (tests only).
typedef BOOL(WINAPI* ZulCopyFileFunc)(LPCWSTR pszSource, LPCWSTR pszTarget,
                                      LPPROGRESS_ROUTINE pfnProgress, LPVOID pData,
                                      LPBOOL pbCancel, DWORD dwFlags);

// True when the path, with one trailing "\" removed, names an existing folder.
bool IsFolder(const CString& strPath);

// The progress routine handed to the file copy; its data is the engine.
DWORD CALLBACK BackUpCopyProgress(LARGE_INTEGER TotalFileSize, LARGE_INTEGER TotalBytesTransferred,
                                  LARGE_INTEGER StreamSize, LARGE_INTEGER StreamBytesTransferred,
                                  DWORD dwStreamNumber, DWORD dwCallbackReason,
                                  HANDLE hSourceFile, HANDLE hDestinationFile, LPVOID lpData);

class CBackUpEngine {
public:
    CBackUpEngine();
    ~CBackUpEngine();
    CBackUpEngine(const CBackUpEngine&) = delete;
    CBackUpEngine& operator=(const CBackUpEngine&) = delete;

    // Clears the file list, counters and flags before an operation (not m_arrDriveRoots).
    void Reset();
    CString GetCurrentFileName();

    // Collection. Backup: one selected source path (file, folder or drive root).
    void CollectBackUpFiles(const CString& strPath, const CString& strStoreFolder);
    // Restore: one selected store path (folder or stored file).
    void CollectFolderFiles(const CString& strPath);
    // Appends "X:\" for every one-letter drive folder of the store.
    void ListStoreDrives(const CString& strStoreFolder);

    // Copying of the collected list.
    void BackUpFileList(const CString& strStoreFolder);
    void RestoreFileList();
    BOOL CopyOneFile(const CString& strSource, CString& strTarget);
    BOOL BackUpFile(const CString& strSource, CString& strTarget);
    BOOL RestoreFile(const CString& strSource, const CString& strTarget);

    void MakeTargetFolders(const CString& strTarget, const CString& strSource);
    // Removes the other form of a stored file (plain or ".zip") once the new copy is in place;
    // on a restore, nothing is removed beforehand (the new file replaces the old one atomically).
    BOOL PrepareTarget(const CString& strTarget, const CString& strSource);
    void CopyFileTimes(const CString& strSource, const CString& strTarget);

    // E:\VEZORI\C\dir\f gives C:\dir\f. Empty when the path is not of the form
    // ...\VEZORI\<letter>\<something>.
    static CString StorePathToSourcePath(const CString& strStorePath);
    static CString GetExtension(const CString& strName);
    static bool IsInExtensionList(const CString& strList, const CString& strExtension);
    // True when the name passes m_strFileTypes (always, when it is empty).
    bool PassesFilter(const CString& strName) const;
    static int IsNotSystemFolder(const CString& strName);
    // A stored file is a compressed copy when its name ends with ".zip" (exact case)
    // and its first four bytes are 0xFFFFFFFF.
    static bool IsCompressedCopy(const CString& strStoredPath);
    // True when the file begins with the compressed copy's marker, whatever its name.
    static bool StartsWithCopyMarker(const CString& strPath);

    // Compressed copies of one file. They write into strTempTarget (an existing empty file in
    // the target's folder; the caller gives it the source's times and attributes and moves it
    // into place on success, and deletes it otherwise),
    // count progress in m_nFileDoneBytes/m_nDoneBytes, wait on the pause event and stop on
    // m_bCancel between blocks, add their own fail lines, and return TRUE only for a complete,
    // uncancelled copy. The caller counts the file in m_nDoneFiles. m_hSourceFile and
    // m_hTargetFile are theirs to use while they run. strTarget is the final name, the one a
    // fail line about the target shows.
    BOOL BackUpCompressedFile(const CString& strSource, const CString& strTempTarget,
                              const CString& strTarget);
    BOOL RestoreCompressedFile(const CString& strSource, const CString& strTempTarget,
                               const CString& strTarget);

    // Fail line: path, ";" and the system's text for the error.
    void AddFailLine(const CString& strPath, DWORD dwError);
    // Waits while paused; returns at once when there is no pause event.
    void WaitWhilePaused();

    CFailSink* m_pFailList = nullptr;
    std::atomic<int> m_bCancel{0};
    CStringArray m_arrDriveRoots;
    CStringArray m_arrFiles;
    std::atomic<int> m_nTotalFiles{0};
    std::atomic<int> m_nDoneFiles{0};
    std::atomic<ULONGLONG> m_nTotalBytes{0};
    std::atomic<ULONGLONG> m_nDoneBytes{0};
    std::atomic<ULONGLONG> m_nFileDoneBytes{0};
    std::atomic<ULONGLONG> m_nFileBytes{0};
    CString m_strCurrentFile;
    CString m_strTargetRoot;
    std::atomic<int> m_bScanning{0};
    CString m_strFileTypes;
    int m_bCompress = 0;
    int m_bRestore = 0;
    int m_bChangedOnly = 0;
    std::atomic<int> m_bFileStarted{0};
    HANDLE m_hMutex = nullptr;
    HANDLE m_hSourceFile = INVALID_HANDLE_VALUE;
    HANDLE m_hTargetFile = INVALID_HANDLE_VALUE;
    std::atomic<int> m_bDone{0};
    CString m_strSystemDrive;
    HANDLE m_hPauseEvent = nullptr;
    ULONGLONG m_nLastCopyProgress = 0;
    // Stream that m_nLastCopyProgress belongs to: each stream of a copy counts from zero.
    DWORD m_dwLastCopyStream = 0;

    // Counts a progress report of the file copy: only what is new since the last report of
    // the same stream, so no counter goes backwards or wraps.
    void AddCopyProgress(DWORD dwStreamNumber, ULONGLONG nStreamBytesTransferred);

    // The file copy the plain path uses: always the system's CopyFileExW in the program;
    // tests put a stand-in here that calls the progress routine in pieces.
    static ZulCopyFileFunc s_pfnCopyFile;

private:
    // Opens the source for reading and creates the empty temporary target of a compressed copy
    // into m_hSourceFile/m_hTargetFile; a failure is a fail line (the target's under its final name).
    bool OpenCopyHandles(const CString& strSource, const CString& strTempTarget, const CString& strTarget);
    // Opens a listed file to take its size into m_nFileBytes (and its first four bytes when
    // pMarker is given); a file that cannot be opened is a fail line.
    bool TakeSourceSize(const CString& strSource, DWORD* pMarker);
    // The entry (size, times, attributes) TakeSourceSize read for a backup, which the copy's
    // end gives to the stored copy; m_bSourceEntry is false when there is none.
    WIN32_FILE_ATTRIBUTE_DATA m_sourceEntry{};
    bool m_bSourceEntry = false;
    void SetCurrentFile(const CString& strSource);
    BOOL CopyPlain(const CString& strSource, const CString& strTempTarget, DWORD& dwError);
    // Copies strSource into a temporary file beside strFinal and moves it over strFinal.
    BOOL CopyThroughTemp(const CString& strSource, const CString& strFinal, bool bCompressed,
                         bool bRestoreSide);
    void FileStarted(const CString& strSource);
    // Removes the temporary copies an ended run left in a folder, once a run per folder.
    void RemoveStaleTemps(const CString& strFolder);
    // The name of the other form of a stored file in this run's mode (plain or ".zip").
    CString OtherFormOf(const CString& strTarget) const;
    std::set<CString> m_setSweptFolders;
    // Folder walks by absolute paths; folder links are never followed.
    // strStore is the store folder in the form IsInStore compares with; it is never walked.
    void WalkBackUpFolder(const CString& strWalked, const CString& strStoreFolder, const CString& strStore);
    void WalkStoreFolder(const CString& strPath);
    bool StoredTimeOf(const CString& strStoredPath, FILETIME& ft);
    void AddFile(const CString& strPath, ULONGLONG nSize);
    // A file selected by itself is opened (existing only) to count it; one that cannot be
    // opened is a fail line.
    void AddSelectedFile(const CString& strPath, DWORD dwShare);
};
