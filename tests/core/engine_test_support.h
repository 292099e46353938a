#pragma once
// Helpers for the core tests: a temporary folder tree under the Wine prefix's temp folder,
// a fail list that keeps its lines, and a stand-in for the system's file copy that reports
// progress in pieces (the system copy under Wine never calls its progress routine).

#include <functional>
#include <string>
#include <vector>
#include <windows.h>

#include "afx.h"
#include "FailSink.h"

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

// File system helpers; paths are absolute.
void MakeFolders(const CString& strPath);
void WriteFileBytes(const CString& strPath, const std::string& bytes);
std::string ReadFileBytes(const CString& strPath);
bool Exists(const CString& strPath);
DWORD AttributesOf(const CString& strPath);
FILETIME LastWriteOf(const CString& strPath);
void SetLastWrite(const CString& strPath, ULONGLONG nTime100ns);
void RemoveTree(const CString& strPath);
// Names in a folder (no "." and ".."), sorted.
std::vector<CString> ListFolder(const CString& strPath);
// All file paths below a folder relative to it, sorted.
std::vector<CString> ListTree(const CString& strPath);
std::string Pattern(size_t n, unsigned seed);

// The stand-in copy: writes the target in pieces of PieceSize bytes and calls the progress
// routine after each with the running count of stream 1, as the system's copy does; on
// PROGRESS_CANCEL or PROGRESS_STOP it removes the partial target and fails with
// ERROR_REQUEST_ABORTED. OnPiece, when set, runs before each progress call.
struct TestCopy {
    static constexpr DWORD PieceSize = 4096;
    static std::function<void(const wchar_t* pszSource, ULONGLONG nDone)> OnPiece;
    static int nCalls;
    static BOOL WINAPI Copy(LPCWSTR pszSource, LPCWSTR pszTarget, LPPROGRESS_ROUTINE pfnProgress,
                            LPVOID pData, LPBOOL pbCancel, DWORD dwFlags);
};

// Installs the stand-in copy for the life of the object.
class CUseTestCopy {
public:
    CUseTestCopy();
    ~CUseTestCopy();
};

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
