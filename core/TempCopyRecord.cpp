#include "TempCopyRecord.h"

#include <atomic>
#include <cstddef>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>

#include "DataFiles.h"
#include "LongPath.h"

CTempCopyRecord::ProcessIdFunc CTempCopyRecord::s_pfnProcessId = ::GetCurrentProcessId;

namespace {

const wchar_t kRecordPrefix[] = L"TempCopies_";
// Bytes read from a record at a time.
const DWORD kReadChunk = 1 << 20;
// A line longer than any path names nothing.
const size_t kMaxLine = 32768 * 2 + 2;

bool IsGoneError(DWORD err)
{
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

// True when the file (long-path form) is there, or may be: only "not found" counts as gone.
bool MayBeThere(const CString& strPath)
{
    return GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES || !IsGoneError(GetLastError());
}

// Removes a file (long-path form), read-only or not; true when it is gone.
bool RemoveIfThere(const CString& strPath)
{
    const DWORD attrs = GetFileAttributesW(strPath);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return IsGoneError(GetLastError());
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(strPath))
        return true;
    const DWORD err = GetLastError();
    SetFileAttributesW(strPath, attrs);
    SetLastError(err);
    return false;
}

// Reads a number of one to nMaxDigits hex digits at p and moves p past it; false when there
// are none, or more.
bool ReadHex(const wchar_t*& p, int nMaxDigits, ULONGLONG& value)
{
    int digits = 0;
    for (value = 0; iswxdigit(*p) && digits < nMaxDigits; ++p, ++digits)
        value = value * 16 + (iswdigit(*p) ? *p - L'0' : (towlower(*p) - L'a' + 10));
    return digits > 0 && !iswxdigit(*p);
}

// The creation time of a process as one number; 0 when it cannot be read.
ULONGLONG ProcessCreationTime(HANDLE hProcess)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(hProcess, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// A process that may still be writing its temporary copies: the process of that id, started
// at that time. Only a process id the system does not know, or one that now belongs to a
// process started at another time, is taken for ended; anything else (no right to look, say)
// counts as running.
bool ProcessMayBeRunning(DWORD pid, ULONGLONG nCreated)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h)
        return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const ULONGLONG created = ProcessCreationTime(h);
    bool running = (created == 0 || created == nCreated) &&
                   (!GetExitCodeProcess(h, &code) || code == STILL_ACTIVE);
    CloseHandle(h);
    return running;
}

// Hands every complete line of a record to onLine, trimmed, struck (blank) lines left out.
// False when the record cannot be read whole; a missing record has no lines.
bool ReadRecordLines(const CString& strRecord, const std::function<void(const CString&)>& onLine)
{
    HANDLE h = CreateFileW(strRecord, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return IsGoneError(GetLastError());
    std::unique_ptr<BYTE[]> buffer;
    try {
        buffer.reset(new BYTE[kReadChunk + 2]);
    } catch (const std::bad_alloc&) {
        CloseHandle(h);
        return false;
    }
    std::wstring line;
    bool overlong = false;
    DWORD carried = 0;   // a byte of a character that the last read cut in two
    bool whole = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buffer.get() + carried, kReadChunk, &got, nullptr)) {
            whole = false;
            break;
        }
        if (got == 0)
            break;
        const DWORD bytes = carried + got;
        const DWORD chars = bytes / sizeof(wchar_t);
        const wchar_t* text = reinterpret_cast<const wchar_t*>(buffer.get());
        for (DWORD i = 0; i < chars; ++i) {
            const wchar_t c = text[i];
            if (c != L'\r' && c != L'\n') {
                if (line.size() < kMaxLine)
                    line += c;
                else
                    overlong = true;
                continue;
            }
            if (!overlong) {
                const size_t first = line.find_first_not_of(L' ');
                if (first != std::wstring::npos) {
                    const size_t last = line.find_last_not_of(L' ');
                    onLine(CString(line.c_str() + first, static_cast<int>(last - first + 1)));
                }
            }
            line.clear();
            overlong = false;
        }
        carried = bytes % sizeof(wchar_t);
        if (carried)
            buffer[0] = buffer[bytes - 1];
    }
    CloseHandle(h);
    // A line cut short by an ended run has no line end: its file was never made.
    return whole;
}

// One line of a record: the temporary name, and the final name it waits for if it does.
void SplitLine(const CString& strLine, CString& strTemp, CString& strWaitsFor)
{
    const int bar = strLine.Find(L'|');
    strTemp = bar < 0 ? strLine : strLine.Left(bar);
    strWaitsFor = bar < 0 ? CString() : strLine.Mid(bar + 1);
}

// Settles what one line of a record names: a temporary copy is removed; a finished copy
// waiting for its final name gets it, when nothing holds that name (else it goes too).
// False while the file is still there. A line that names no temporary copy names nothing.
bool SettleLine(const CString& strLine)
{
    CString temp, waitsFor;
    SplitLine(strLine, temp, waitsFor);
    const int slash = temp.ReverseFind(L'\\');
    if (slash <= 0 || !CTempCopyRecord::IsTempName(temp.Mid(slash + 1)))
        return true;
    if (!waitsFor.IsEmpty()) {
        // Only a name in the same folder.
        const int finalSlash = waitsFor.ReverseFind(L'\\');
        if (finalSlash != slash || waitsFor.Left(slash).CompareNoCase(temp.Left(slash)) != 0 ||
            finalSlash + 1 >= waitsFor.GetLength())
            return RemoveIfThere(temp);
        if (GetFileAttributesW(temp) == INVALID_FILE_ATTRIBUTES)
            return IsGoneError(GetLastError());
        if (GetFileAttributesW(waitsFor) == INVALID_FILE_ATTRIBUTES) {
            if (!IsGoneError(GetLastError()))
                return false;
            return MoveFileExW(temp, waitsFor, MOVEFILE_WRITE_THROUGH) != FALSE;
        }
    }
    return RemoveIfThere(temp);
}

} // namespace

CTempCopyRecord& CTempCopyRecord::OfProcess()
{
    static CTempCopyRecord record;
    return record;
}

CTempCopyRecord::CTempCopyRecord() = default;

bool CTempCopyRecord::IsRecordName(const wchar_t* pszName, DWORD* pPid, ULONGLONG* pCreated)
{
    const size_t n = wcslen(kRecordPrefix);
    if (_wcsnicmp(pszName, kRecordPrefix, n) != 0)
        return false;
    const wchar_t* p = pszName + n;
    ULONGLONG pid = 0, created = 0;
    if (!ReadHex(p, 8, pid) || *p++ != L'_' || !ReadHex(p, 16, created) || _wcsicmp(p, L".log") != 0)
        return false;
    if (pPid)
        *pPid = static_cast<DWORD>(pid);
    if (pCreated)
        *pCreated = created;
    return true;
}

bool CTempCopyRecord::IsTempName(const wchar_t* pszName)
{
    if (_wcsnicmp(pszName, L"~zu", 3) != 0)
        return false;
    const wchar_t* p = pszName + 3;
    ULONGLONG pid = 0, counter = 0;
    return ReadHex(p, 8, pid) && *p++ == L'_' && ReadHex(p, 8, counter) && _wcsicmp(p, L".tmp") == 0;
}

bool CTempCopyRecord::WriteAt(LONGLONG nOffset, const CString& strText)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nOffset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<ULONGLONG>(nOffset) >> 32);
    const DWORD bytes = static_cast<DWORD>(strText.GetLength()) * sizeof(wchar_t);
    DWORD written = 0;
    if (!WriteFile(m_hFile, strText.GetString(), bytes, &written, &at))
        return false;
    if (written != bytes) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

bool CTempCopyRecord::Open(const CString& strStoreFolder)
{
    CString name;
    name.Format(L"%ls%lx_%llx.log", kRecordPrefix, s_pfnProcessId(),
                static_cast<unsigned long long>(ProcessCreationTime(GetCurrentProcess())));
    const CString path = JoinPath(ExtendedPath(strStoreFolder), name);
    CExclusiveHold hold(m_lock);
    if (m_hFile != INVALID_HANDLE_VALUE)
        return false;
    m_strPath = path;
    m_entries.clear();
    // Kept by an earlier run of this process, whose copying is over: what it names and is
    // still there goes now where it can, and the rest stays named.
    m_bKeep = !ReadRecordLines(m_strPath, [this](const CString& line) {
        if (!SettleLine(line)) {
            Entry e;
            CString waitsFor;
            SplitLine(line, e.strTemp, waitsFor);
            m_entries.push_back(e);
        }
    });
    m_hFile = CreateFileW(m_strPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (m_hFile != INVALID_HANDLE_VALUE && !GetFileSizeEx(m_hFile, &size)) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
    m_nEnd = size.QuadPart;
    // A record cut short ends in a piece of a line: the next one begins on a line of its own.
    if (m_hFile != INVALID_HANDLE_VALUE && m_nEnd % sizeof(wchar_t) != 0)
        ++m_nEnd;
    if (m_hFile != INVALID_HANDLE_VALUE && m_nEnd > 0 && WriteAt(m_nEnd, L"\r\n"))
        m_nEnd += 2 * sizeof(wchar_t);
    const bool opened = m_hFile != INVALID_HANDLE_VALUE;
    if (!opened)
        m_entries.clear();
    return opened;
}

void CTempCopyRecord::Close()
{
    CExclusiveHold hold(m_lock);
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
        // A copy whose temporary file could not be removed keeps the record for a later run.
        bool left = m_bKeep;
        for (size_t i = 0; !left && i < m_entries.size(); ++i)
            left = MayBeThere(m_entries[i].strTemp);
        if (!left)
            RemoveIfThere(m_strPath);
    }
    std::vector<Entry>().swap(m_entries);
    m_strPath.Empty();
    m_bKeep = false;
}

bool CTempCopyRecord::NewTempName(const CString& strFolder, CString& strTemp, const CString& strWaitsFor)
{
    static std::atomic<unsigned> counter{0};
    CString s;
    s.Format(L"%ls\\~zu%lx_%x.tmp", strFolder.GetString(), s_pfnProcessId(), counter++);
    // In the long-path form, as the temporary name may be longer than the final one and take
    // any name the folder's own name may.
    strTemp = ExtendedPath(s);
    CString line = strTemp;
    if (!strWaitsFor.IsEmpty())
        line += L"|" + ExtendedPath(strWaitsFor);
    line += L"\r\n";
    bool noted = true;
    CExclusiveHold hold(m_lock);
    if (m_hFile != INVALID_HANDLE_VALUE) {
        // Room for the entry before its line is on the disk: once it is, keeping it in the
        // list cannot fail. A line written only in part is written over by the next one.
        if (m_entries.size() == m_entries.capacity())
            m_entries.reserve(m_entries.size() * 2 + 16);
        Entry e;
        e.strTemp = strTemp;
        e.nOffset = m_nEnd;
        e.nChars = line.GetLength() - 2;
        noted = WriteAt(m_nEnd, line);
        if (noted) {
            m_nEnd += static_cast<LONGLONG>(line.GetLength()) * sizeof(wchar_t);
            m_entries.push_back(std::move(e));
        }
    }
    return noted;
}

void CTempCopyRecord::Strike(const CString& strTemp)
{
    const DWORD err = GetLastError();
    CExclusiveHold hold(m_lock);
    // The name was noted a moment ago: it is near the end.
    for (size_t i = m_entries.size(); i-- > 0;) {
        Entry& e = m_entries[i];
        if (e.strTemp != strTemp)
            continue;
        if (e.nOffset >= 0 && m_hFile != INVALID_HANDLE_VALUE && WriteAt(e.nOffset, CString(L' ', e.nChars)))
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
        break;
    }
    SetLastError(err);
}

void CTempCopyRecord::ClearEndedRuns(const CString& strStoreFolder)
{
    const CString store = ExtendedPath(strStoreFolder);
    const DWORD ownPid = s_pfnProcessId();
    const ULONGLONG ownCreated = ProcessCreationTime(GetCurrentProcess());
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(JoinPath(store, L"TempCopies_*.log"), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    std::vector<CString> ended;
    do {
        DWORD pid = 0;
        ULONGLONG created = 0;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsRecordName(fd.cFileName, &pid, &created))
            continue;
        // This process's own record, and those of processes that may still be running, stay.
        if ((pid == ownPid && created == ownCreated) || ProcessMayBeRunning(pid, created))
            continue;
        ended.push_back(JoinPath(store, fd.cFileName));
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    for (const CString& record : ended) {
        // Exactly the names the ended run made, where they are still there.
        bool all = true;
        const bool whole = ReadRecordLines(record, [&all](const CString& line) {
            if (!SettleLine(line))
                all = false;
        });
        if (whole && all)
            RemoveIfThere(record);
    }
}
