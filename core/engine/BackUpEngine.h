#pragma once
// The copy engine: collects the files of a selection, copies them into the backup store
// "VEZORI" of the target drive (mirroring drive letter and path) and restores them.
//
// Store layout: the store folder is <target root>\VEZORI; the file C:\dir\name is stored as
// <store>\C\dir\name, or <store>\C\dir\name.zip when stored compressed.
//
// The worker thread drives the engine; the progress dialog's timer reads the counters and
// flags from the user-interface thread, so they are atomics (64-bit ones would tear on a
// 32-bit machine otherwise). m_strCurrentFile is guarded by a critical section (taking a
// kernel mutex for every small file costs more than copying it).

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>
#include <windows.h>

#include "afx.h"
#include "afxhandle.h"
#include "FailSink.h"
#include "TempCopies.h"

// True when the path, with one trailing "\" removed, names an existing folder.
bool IsFolder(const CString& strPath);

// The progress routine handed to the file copy; its data is the engine.
DWORD CALLBACK BackUpCopyProgress(LARGE_INTEGER TotalFileSize, LARGE_INTEGER TotalBytesTransferred,
                                  LARGE_INTEGER StreamSize, LARGE_INTEGER StreamBytesTransferred,
                                  DWORD dwStreamNumber, DWORD dwCallbackReason,
                                  HANDLE hSourceFile, HANDLE hDestinationFile, LPVOID lpData);

// The built-in English text of the fail line of a run that ran out of memory (language key
// "SelectionTooLarge").
extern const wchar_t kSelectionTooLargeText[];
// The built-in English text of the fail line of a file whose name another file of its folder
// has in another letter case (language key "SameNameInOtherCase").
extern const wchar_t kSameNameInOtherCaseText[];
// The built-in English text of the fail line of a file a restore did not write because the
// record of its temporary copies could not be kept (language key "TempRecordNotKept"): the
// first "%s" is that record's folder, the second the system's reason.
extern const wchar_t kTempRecordNotKeptText[];
// The built-in English text of the one fail line of a backup that found a file where the
// engine's folder of the store goes (language key "EngineFolderInTheWay"); the line names
// that file.
extern const wchar_t kEngineFolderInTheWayText[];

class CBackUpEngine {
public:
    CBackUpEngine();
    ~CBackUpEngine();
    CBackUpEngine(const CBackUpEngine&) = delete;
    CBackUpEngine& operator=(const CBackUpEngine&) = delete;

    // Clears the file list, counters and flags before an operation (not m_arrDriveRoots).
    void Reset();
    CString GetCurrentFileName();
    // The current file's progress as one reading: its copied bytes and its size always belong
    // to the same file. With pNewName, when a file has started since the last reading that
    // asked, the started flag is cleared, *pNewName is that file's name and the result is true.
    bool ReadFileProgress(ULONGLONG& nDone, ULONGLONG& nSize, CString* pNewName = nullptr);

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

    // E:\VEZORI\C\dir\f gives C:\dir\f. Empty when the path is not of the form
    // ...\VEZORI\<letter>\<something>.
    static CString StorePathToSourcePath(const CString& strStorePath);
    static CString GetExtension(const CString& strName);
    // The list holds extensions separated by ",", ";" or the full-width comma; each item is
    // taken as a user means it: " .pdf", "*.pdf" and "PDF" all stand for "pdf". Case is
    // ignored. A list that begins with "," is one item as a whole.
    static bool IsInExtensionList(const CString& strList, const CString& strExtension);
    // True when the name passes m_strFileTypes (always, when it is empty).
    bool PassesFilter(const CString& strName) const;
    static int IsNotSystemFolder(const CString& strName);
    // A stored file is a compressed copy when its name ends with ".zip" (in any letter case, as
    // the file system compares names) and its first four bytes are 0xFFFFFFFF.
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
    // Fail line: path, ";" and the text given.
    void AddFailLineText(const CString& strPath, const CString& strText);
    // The end of a run that ran out of memory while it collected or copied (a std::bad_alloc
    // reached the worker; the copy under way has removed its temporary file and every other
    // copy thread has ended): the file list is freed, the record of temporary copies ended, and
    // the fail line "<target root>;" m_strMemoryFailText added, when memory allows even that.
    // m_bCancel and m_bDone are set.
    void EndOutOfMemory();
    // The text of that fail line: kSelectionTooLargeText until the progress dialog gives the
    // one of its string table (the worker cannot ask the tables). Reset keeps it.
    CString m_strMemoryFailText;
    // The text of the fail line of the second of two files of one folder whose names differ
    // only in letter case (the store, and a restore's place, compare names as Windows does: the
    // first is copied, the second not): kSameNameInOtherCaseText until the progress dialog
    // gives the one of its string table. Reset keeps it.
    CString m_strSameNameText;
    // The folder of the record of a restore's temporary copies beside the user's files: the
    // per-user data folder; the worker sets it. Empty: GetDataFolder, or where there is none,
    // a folder of the user's temporary folder, which also takes the record when this folder
    // cannot. Reset keeps it.
    CString m_strTempRecordFolder;
    // The text of the fail line of a file that was not restored because neither folder could
    // keep that record: kTempRecordNotKeptText until the progress dialog gives the one of its
    // string table. Reset keeps it.
    CString m_strRecordNotKeptText;
    // The text of the fail line of a backup that found a file in the way of the engine's
    // folder: kEngineFolderInTheWayText until the progress dialog gives the one of its string
    // table. Reset keeps it.
    CString m_strInTheWayText;
    // Fail line of a finished copy that is thrown away because the run stops: the text of
    // ERROR_CANCELLED, or m_strMemoryFailText when another copy lane ran out of memory.
    void AddCancelLine(const CString& strPath);
    // Waits while paused; returns at once when there is no pause event.
    void WaitWhilePaused();
    // The same before each file of a backup, asking the event no more often than every
    // kPauseCheckMs on each thread.
    void HoldWhilePaused();
    enum { kPauseCheckMs = 10 };

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
    CKernelHandle m_hSourceFile;
    CKernelHandle m_hTargetFile;
    std::atomic<int> m_bDone{0};
    CString m_strSystemDrive;
    // Set while the run may go on, reset while it is paused. Whoever sets it closes it (the
    // progress dialog); neither Reset nor the engine's end closes it.
    HANDLE m_hPauseEvent = nullptr;
    ULONGLONG m_nLastCopyProgress = 0;
    // Stream that m_nLastCopyProgress belongs to: each stream of a copy counts from zero.
    DWORD m_dwLastCopyStream = 0;

    // Counts a progress report of the file copy: only what is new since the last report of
    // the same stream, so no counter goes backwards or wraps.
    void AddCopyProgress(DWORD dwStreamNumber, ULONGLONG nStreamBytesTransferred);

    // The engine's file-system calls whose faults tests bring about (the copy of sources with
    // further data streams, the flush, the walks' listing, the block writes, the writer thread,
    // the random names) go through SystemIo() (SystemIo.h); tests install doubles there.
    //
    // Puts a finished copy's data on the disk before it gets its times and its final name;
    // false with a last error that is never 0 when it fails.
    static bool FlushToDisk(HANDLE hFile);
    // Tests: every plain copy goes through the system's copy, as a source with further data
    // streams does (the test machines have no file system with such streams).
    static bool s_bSystemCopyAlways;
    // Files a plain backup copies at once (each on its own thread, the worker being one of
    // them): 0 (the default) for up to three, as many as the machine has processors; 1 for
    // one file after the other. Files larger than one piece are always copied alone.
    static int s_nCopyLanes;
    // Bytes read and written at a time by the plain copy (1 MiB).
    enum { COPY_CHUNK = 1 << 20 };
    // A plain copy larger than this is flushed on a thread of its own each time this much more
    // has been written, while the copy goes on, so that its final flush finds little left.
    enum { FLUSH_BEHIND = 32 << 20 };

    // The end of a run's temporary copies (see CTempCopies), however the run ends: the list
    // loops, the worker's end and Reset end them, and nothing of the run's temporaries steers
    // the next; what could not be removed stays for a later run to clear.
    void EndTempRecord();

private:
    // What one file copy in progress keeps for itself. The worker thread copies with m_lane;
    // each further thread of a plain backup copying several files at once has its own.
    struct CCopyLane {
        int nId = 0;
        // The source of a plain backup, opened by OpenPlainSource, with its entry (size, times,
        // attributes), which the copy's end gives to the stored copy.
        CKernelHandle hSource;
        WIN32_FILE_ATTRIBUTE_DATA sourceEntry{};
        bool bSourceEntry = false;
        // The size of the file this lane measured last; it becomes m_nFileBytes when that file
        // becomes the current one (0 once taken).
        ULONGLONG nSize = 0;
        std::unique_ptr<BYTE[]> pCopyBuffer;
        std::unique_ptr<BYTE[]> pAheadBuffer;   // the second buffer of a larger file's copy
        CString strEnteredFolder;           // upper case; the folder EnterTargetFolder listed last
        // The names present in it then, by their upper case; bEnteredListed when the listing
        // was finished.
        std::map<CString, CString> mapEnteredNames;
        bool bEnteredListed = false;
        CString strMadeFolder;              // the folder MakeTargetFolders made sure of last
        CString strNewFolder;               // upper case; the last folder this lane created empty
        // When set, fail lines are kept here; the worker passes them on in list order.
        std::vector<CString>* pFails = nullptr;
        // When HoldWhilePaused last asked the pause event (GetTickCount64), if it has.
        bool bPauseChecked = false;
        ULONGLONG nPauseCheckedAt = 0;
        void Clear();
        void CloseSource();
    };
    // The lane of the calling thread: its own on a further copy thread, else m_lane.
    CCopyLane& Lane();
    CCopyLane m_lane;
    // The lane whose file is the current one (m_strCurrentFile); only it moves m_nFileDoneBytes.
    // The current file's name, size, copied bytes and lane change together under
    // m_csCurrentFile, so that a lane never counts its bytes against another lane's file.
    std::atomic<int> m_nCurrentLane{0};
    void AddFileDone(const CCopyLane& lane, ULONGLONG n);
    void SetFileDone(const CCopyLane& lane, ULONGLONG n);
    // One copy with further streams at a time: its progress is counted through engine fields.
    CRITICAL_SECTION m_csStreamCopy;
    ULONGLONG m_nStreamCopyCounted = 0;   // bytes the progress routine counted for that copy
    // Several files at once: small files share the disk, a larger one has it to itself.
    CRITICAL_SECTION m_csDiskTurn;
    CONDITION_VARIABLE m_cvDiskTurn;
    int m_nSmallCopies = 0, m_nLargeWaiting = 0;
    bool m_bLargeCopy = false;
    bool m_bLanes = false;   // a backup copies several files at once now
    void BeginFileCopy(bool bLarge);
    void EndFileCopy(bool bLarge);
    // Copies listed file i of a plain or compressed backup; false when the run is cancelled.
    bool BackUpListedFile(INT_PTR i, const CString& strStoreFolder);
    // A plain backup of the list on several threads, fail lines in list order.
    void BackUpInLanes(const CString& strStoreFolder, int nLanes);
    int CopyLanesFor(INT_PTR nFiles) const;
    // Opens the source for reading and creates the empty temporary target of a compressed copy
    // into m_hSourceFile/m_hTargetFile; a failure is a fail line (the target's under its final name).
    bool OpenCopyHandles(const CString& strSource, const CString& strTempTarget, const CString& strTarget);
    // Opens a listed file to take its size into the lane (and its first four bytes when
    // pMarker is given); a file that cannot be opened is a fail line.
    bool TakeSourceSize(const CString& strSource, DWORD* pMarker);
    // The entry (size, times, attributes) TakeSourceSize or OpenPlainSource read, kept in the
    // lane (sourceEntry, bSourceEntry).
    // The first four bytes of the stored file the restore loop hands to RestoreFile.
    bool m_bMarkerKnown = false;
    DWORD m_dwSourceMarker = 0;
    void SetCurrentFile(const CString& strSource);
    CRITICAL_SECTION m_csCurrentFile;
    BOOL CopyPlain(const CString& strSource, const CString& strTempTarget, DWORD& dwError);
    // Opens the source of a plain backup into the lane and takes its size, times and
    // attributes through the handle (one open serves the size and the copy).
    bool OpenPlainSource(const CString& strSource);
    void CloseSourceFile();
    // The plain copy: reads the source in COPY_CHUNK pieces into a new temporary file beside
    // strFinal, flushes it, gives it the source's times and attributes and renames it over
    // strFinal, all through the one handle of the temporary file. Pauses and cancels between
    // pieces. A flush that fails, also one made while the copy goes on, fails the copy.
    BOOL CopyPlainFile(const CString& strSource, const CString& strFinal, const CString& strFolder,
                       bool bRestoreSide, bool bEntry);
    // The steps of a plain copy. How the bytes went: bOk, else the error and whether it was
    // the target's; nDone, the bytes counted in the progress so far.
    struct CPlainCopy {
        bool bOk = true;
        DWORD dwError = 0;
        bool bWriteSide = false;
        ULONGLONG nDone = 0;
    };
    // True when the source goes through the system's copy (further data streams, or
    // s_bSystemCopyAlways).
    bool NeedsSystemCopy(const CString& strSource, HANDLE hSource);
    // The system's copy into the temporary (both handles closed for it; the temporary opened
    // again and flushed after it).
    void CopyWithSystem(const CString& strSource, const CString& strTemp, CKernelHandle& source,
                        CKernelHandle& tempFile, CPlainCopy& copy);
    // The engine's own copy in COPY_CHUNK pieces, read ahead and flushed behind for larger
    // files; the source is closed and the temporary flushed at its end.
    void CopyInChunks(CCopyLane& lane, CKernelHandle& source, CKernelHandle& tempFile, const CString& strTemp,
                      ULONGLONG nSize, CPlainCopy& copy);
    // A complete copy given its times and attributes and moved to its final name (or removed
    // when it cannot be), counted, and the other form of the stored file removed.
    BOOL PlaceFinishedCopy(const CString& strSource, const CString& strTemp, LONGLONG nSlot, const CString& strFinal,
                           const WIN32_FILE_ATTRIBUTE_DATA* pEntry, CKernelHandle& hTemp, bool bRestoreSide);
    // Creates a new, empty temporary file in the folder (never someone else's), with the given
    // access; makes the folder chain again when it has gone since. INVALID_HANDLE_VALUE with
    // the error when it cannot.
    // bRestoreSide: beside the user's file (its slot in the record in nSlot); else in the
    // run's folder of the store.
    HANDLE CreateTempIn(const CString& strFolder, const CString& strFinal, const CString& strSource,
                        DWORD dwAccess, DWORD dwFlags, bool bRestoreSide, CString& strTemp, LONGLONG& nSlot);
    // Source drives (bit 0 for A, bit 26 for anything else) that cannot list a file's streams.
    std::atomic<DWORD> m_nNoStreamInfoDrives{0};
    // Copies strSource into a temporary file beside strFinal and moves it over strFinal.
    BOOL CopyThroughTemp(const CString& strSource, const CString& strFinal, bool bCompressed,
                         bool bRestoreSide);
    void FileStarted(const CString& strSource);
    // Entering a target folder: a backup lists it once, noting the names present, so that the
    // test for the other form of each stored file needs no call into the system (a folder this
    // run has just created is empty and is not listed).
    void EnterTargetFolder(const CString& strFolder);
    // Clears what ended runs left in the store of the target root and in the record folder
    // (CTempCopies::ClearEndedRuns), once a run, before the run collects.
    void ClearEndedRunsOnce();
    bool m_bEndedRunsCleared = false;
    // Where every temporary copy of the run is made, and how it goes.
    CTempCopies m_temps;
    // The text after "<file>;" of a file whose temporary was not made because the run's record
    // could not be kept: m_strRecordNotKeptText with the record's folder and the reason.
    CString RecordNotKeptLine() const;
    // The store folder of the run's temporaries is given to m_temps.
    bool m_bTempStoreSet = false;
    void SetTempStore(const CString& strStoreFolder);
    // The record folders of a restore's temporaries: m_strTempRecordFolder (or its stand-in),
    // then a folder of the user's temporary folder.
    void TempRecordFolders(CString& strFirst, CString& strSecond) const;
    // Set when a copy lane ran out of memory: the finished copies of the others go with the
    // memory's fail text.
    std::atomic<bool> m_bLaneOutOfMemory{false};
    // Removes a temporary copy of the run and, once it is gone, its name from the record.
    void RemoveTemp(const CString& strTemp, LONGLONG nSlot);
    // After a failed move into place: the store's final folder made again and the move tried
    // once more, where the folder had gone. False with the error otherwise.
    bool PlaceAgain(const CString& strTemp, const CString& strFinal, const CString& strSource, bool bRestoreSide);
    // Of two entries of one folder whose names differ only in letter case, the first takes the
    // name (true); the second is a fail line and false.
    bool TakeName(std::set<CString>& taken, const CString& strPath, const CString& strName);
    // True when the file may exist: its name was in its folder when the folder was entered.
    bool MayExist(const CString& strPath);
    // A copy renamed over a file whose name differs from its own only in letter case keeps
    // that file's name on some file systems. The stored copy just moved to strFinal gets the
    // name as the engine gave it (CTempCopies::TakeCase). A name whose folder listing shows no
    // other case of it is left alone. (A restore keeps the user's file's case.)
    void TakeFinalCase(const CString& strFinal);
    bool MayHoldOtherCase(const CString& strFinal);
    // The name of the other form of a stored file in this run's mode (plain or ".zip").
    CString OtherFormOf(const CString& strTarget) const;
    // Folder walks by absolute paths; folder links and junctions are never followed, other
    // folders with reparse points (placeholders of files kept elsewhere) are walked. A folder
    // that cannot be listed is a fail line with the system's text.
    // strStore is the store folder in the form IsInStore compares with; it is never walked.
    void WalkBackUpFolder(const CString& strWalked, const CString& strStoreFolder, const CString& strStore);
    void WalkStoreFolder(const CString& strPath);
    // A listing the walks could not finish (or begin): a fail line for the folder, unless the
    // folder is only empty.
    void ReportUnlistedFolder(const CString& strFolder, DWORD dwError);
    // A file's last-write time and size, as a folder listing gives them.
    struct CFileStamp {
        FILETIME ftLastWrite;
        ULONGLONG nSize;
    };
    // "Skip unchanged" of a backup: true when the stored copy of this source file has its
    // last-write time, as far as the store's file system keeps it (StoredTimeMatches), and, for
    // a plain copy, its size too; a compressed copy's size says nothing of its source's, so
    // there the time alone decides. The copy compared with is the file's own form in this run's
    // mode ("n" plain, "n.zip" compressed); the other form only where no other source file of
    // the folder can own that name. pStored: the stored folder's files by upper-case name, when
    // the walk has listed it; pSourceNames: the upper-case names of the source folder's files,
    // when the walk has them. Without them the file system is asked.
    bool IsStoredCopyCurrent(const CString& strSource, const CFileStamp& source, const CString& strStored,
                             const std::map<CString, CFileStamp>* pStored,
                             const std::set<CString>* pSourceNames);
    // "Skip unchanged" of a restore: true when the file the stored copy would be restored to
    // (the name without ".zip" for a compressed copy) has the stored copy's last-write time, as
    // far as the store's file system keeps it (StoredTimeMatches), and, for a plain copy, its
    // size too (a compressed copy is compared by its time alone).
    bool IsRestoreTargetCurrent(const CString& strStored, const CFileStamp& stored);
    void AddFile(const CString& strPath, ULONGLONG nSize);
    // A file selected by itself is opened (existing only) to count it; one that cannot be
    // opened is a fail line.
    void AddSelectedFile(const CString& strPath, DWORD dwShare);
};
