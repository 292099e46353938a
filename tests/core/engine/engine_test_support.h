#pragma once
// Helpers for the core tests: a temporary folder tree under the Wine prefix's temp folder,
// a fail list that keeps its lines, and a stand-in for the engine's writes that lets a test
// act between the pieces of a copy.

#include <functional>
#include <string>
#include <vector>
#include <windows.h>

#include "afx.h"
#include "FailSink.h"
#include "test_unix.h"
#include "SystemIo.h"
#include "test_files.h"

class CBackUpEngine;

class CCapturedFailList : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override { lines.push_back(strLine); }
    std::vector<CString> lines;
};

// A fresh folder below GetTempPathW, removed with everything in it when the object goes.
class CTempTree {
public:
    CTempTree();
    ~CTempTree();
    const CString& Root() const { return m_strRoot; }
    CString Path(const wchar_t* rel) const { return m_strRoot + L"\\" + rel; }

private:
    CString m_strRoot;
};

// File system helpers; paths are absolute and are taken as they stand (through the long-path
// form), so names such as "foo." or "aux" and paths of any length name exactly that file.
void MakeFolders(const CString& strPath);
void WriteFileBytes(const CString& strPath, const std::string& bytes);
std::string ReadFileBytes(const CString& strPath);
bool Exists(const CString& strPath);
DWORD AttributesOf(const CString& strPath);
FILETIME LastWriteOf(const CString& strPath);
void SetLastWrite(const CString& strPath, ULONGLONG nTime100ns);
using testsupport::RemoveTree;
// Names in a folder (no "." and ".."), sorted.
std::vector<CString> ListFolder(const CString& strPath);
// The same in the order the system lists them (the order the engine's walks take).
std::vector<CString> ListFolderAsListed(const CString& strPath);
// All file paths below a folder relative to it, sorted.
std::vector<CString> ListTree(const CString& strPath);
// Where a backup into root keeps its copy of source (C:\dir\f as root\VEZORI\C\dir\f).
CString StoredName(const CString& root, const CString& source);
// The engine's temporary files left anywhere below a folder: names with "~zu" in them (a
// restore's, and those of older versions), and every file in a store's engine folder but a
// run's lock.
std::vector<CString> Temporaries(const CString& folder);
// True for a path of a temporary the engine makes (beside a user's file, or in a store's
// engine folder).
bool IsEngineTemporary(const CString& strPath);
// What the store of a target root keeps of runs: old records of temporary copies at its top,
// and the run folders in its engine folder.
std::vector<CString> Records(const CString& root);
// The folder the tests give the engine for the record of a restore's temporaries (one for
// each test program, shared by a test and the runs it starts as children).
CString TestRecordFolder();
// The records of runs left in that folder.
std::vector<CString> UserRecords();

// The host's paths and shell (Wine only): testsupport::UnixPathOf and RunUnixShell.
using testsupport::RunUnixShell;
using testsupport::UnixPathOf;
// Wine only: gives the folder a drive letter as a disk of its own (letter "p", say), or takes
// the letter away (empty folder); false when the system has no such service.
bool MapDriveLetter(wchar_t chLetter, const CString& strFolder);
std::string Pattern(size_t n, unsigned seed);

// Gives a setting of the engine (CBackUpEngine::s_nCopyLanes, s_bSystemCopyAlways) a value for
// the life of the object and puts the old one back, also when the test fails on the way.
template <typename T>
class CScopedSetting {
public:
    CScopedSetting(T& setting, T value) : m_setting(setting), m_old(setting) { m_setting = value; }
    ~CScopedSetting() { m_setting = m_old; }
    CScopedSetting(const CScopedSetting&) = delete;
    CScopedSetting& operator=(const CScopedSetting&) = delete;

private:
    T& m_setting;
    T m_old;
};

// Puts a stand-in in place of the engine's flush for the life of the object.
class CUseFlush : public CSystemIoOver {
public:
    typedef BOOL(WINAPI* FlushFunc)(HANDLE hFile);
    explicit CUseFlush(FlushFunc pfn) : m_pfn(pfn) {}
    BOOL FlushFile(HANDLE hFile) override { return m_pfn(hFile); }

private:
    FlushFunc m_pfn;
    CScopedSystemIo m_install{*this};
};

// A stand-in for the engine's block writes (SystemIo().WriteBlock): it writes in pieces of PieceSize
// bytes and runs OnPiece after each, with the engine's current file and the running count of
// bytes written to that file, so a test can act in the middle of a copy. nCalls counts the
// files written (writes that begin at offset 0).
struct TestCopy {
    static constexpr DWORD PieceSize = 4096;
    static std::function<void(const wchar_t* pszSource, ULONGLONG nDone)> OnPiece;
    static int nCalls;
    static BOOL WINAPI Write(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten,
                             LPOVERLAPPED pOverlapped);
};

// Installs the stand-in writes for the life of the object, with one copy lane: the pieces name
// the engine's current file, which is the file being written only while the engine copies one
// file at a time.
class CUseTestCopy : public CSystemIoOver {
public:
    CUseTestCopy();
    ~CUseTestCopy() override;
    BOOL WriteBlock(HANDLE hFile, LPCVOID pBuffer, DWORD nBytes, LPDWORD pnWritten, LPOVERLAPPED pOverlapped) override
    {
        return TestCopy::Write(hFile, pBuffer, nBytes, pnWritten, pOverlapped);
    }

private:
    CScopedSetting<int> m_lanes;
    CScopedSystemIo m_install{*this};
};

// Starts this test program again, running only the tests pszFilter matches, with pszVariable set
// to strValue in its environment (the child's half of a test reads it) and its output going
// nowhere. dwFlags are CreateProcessW's; false when it could not start.
bool StartTestChild(const wchar_t* pszFilter, const wchar_t* pszVariable, const CString& strValue, DWORD dwFlags,
                    PROCESS_INFORMATION& pi);

// Drives the engine as the worker does: reset, options, collect, copy.
struct RunOptions {
    bool bRestore = false;
    bool bCompress = false;
    bool bChangedOnly = false;
    CString strFileTypes;
};
void RunBackUp(CBackUpEngine& engine, const CString& strTargetRoot,
               const std::vector<CString>& selection, const RunOptions& opt, CFailSink* pFail);
void RunRestore(CBackUpEngine& engine, const CString& strTargetRoot,
                const std::vector<CString>& selection, const RunOptions& opt, CFailSink* pFail);
