#include "LegacyTempRecords.h"

#include <cwctype>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <windows.h>

#include "EngineFiles.h"
#include "afxhandle.h"
#include "LongPath.h"

using copyengine::IsGoneError;
using copyengine::RemoveIfThere;

namespace {

const wchar_t kRecordPrefix[] = L"TempCopies_";
// Bytes read from a record at a time.
const DWORD kReadChunk = 1 << 20;
// A line longer than any path names nothing.
const size_t kMaxLine = 32768 * 2 + 2;

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
    CKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const ULONGLONG created = ProcessCreationTime(process.Get());
    return (created == 0 || created == nCreated) && (!GetExitCodeProcess(process.Get(), &code) || code == STILL_ACTIVE);
}

// Hands every complete line of a record to onLine, trimmed, struck (blank) lines left out.
// False when the record cannot be read whole; a missing record has no lines.
bool ReadRecordLines(const CString& strRecord, const std::function<void(const CString&)>& onLine)
{
    CKernelHandle record(CreateFileW(strRecord, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!record)
        return IsGoneError(GetLastError());
    const HANDLE h = record.Get();
    std::unique_ptr<BYTE[]> buffer;
    try {
        buffer.reset(new BYTE[kReadChunk + 2]);
    } catch (const std::bad_alloc&) {
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
    record.Close();
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

// "~zu<id>_<counter>.tmp" (hex): the only names a record's line may remove.
bool IsOldTempName(const wchar_t* pszName)
{
    if (_wcsnicmp(pszName, L"~zu", 3) != 0)
        return false;
    const wchar_t* p = pszName + 3;
    ULONGLONG pid = 0, counter = 0;
    return ReadHex(p, 8, pid) && *p++ == L'_' && ReadHex(p, 8, counter) && _wcsicmp(p, L".tmp") == 0;
}

// Settles what one line of a record names: a temporary copy is removed; a finished copy
// waiting for its final name gets it, when nothing holds that name (else it goes too).
// False while the file is still there. A line that names no temporary copy names nothing.
bool SettleLine(const CString& strLine)
{
    CString temp, waitsFor;
    SplitLine(strLine, temp, waitsFor);
    const int slash = temp.ReverseFind(L'\\');
    if (slash <= 0 || !IsOldTempName(temp.Mid(slash + 1)))
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

bool IsLegacyRecordName(const wchar_t* pszName)
{
    const size_t n = wcslen(kRecordPrefix);
    if (_wcsnicmp(pszName, kRecordPrefix, n) != 0)
        return false;
    const wchar_t* p = pszName + n;
    ULONGLONG pid = 0, created = 0;
    return ReadHex(p, 8, pid) && *p++ == L'_' && ReadHex(p, 16, created) && _wcsicmp(p, L".log") == 0;
}

void ClearLegacyTempRecords(const CString& strStoreFolder)
{
    CString store = ExtendedPath(strStoreFolder);
    if (!store.IsEmpty() && store[store.GetLength() - 1] != L'\\')
        store += L"\\";
    WIN32_FIND_DATAW fd;
    CFindHandle find(FindFirstFileW(store + kRecordPrefix + L"*.log", &fd));
    if (!find)
        return;
    std::vector<CString> ended;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsLegacyRecordName(fd.cFileName))
            continue;
        const wchar_t* p = fd.cFileName + wcslen(kRecordPrefix);
        ULONGLONG pid = 0, created = 0;
        ReadHex(p, 8, pid);
        ++p;
        ReadHex(p, 16, created);
        if (!ProcessMayBeRunning(static_cast<DWORD>(pid), created))
            ended.push_back(store + fd.cFileName);
    } while (FindNextFileW(find.Get(), &fd));
    find.Close();
    for (const CString& record : ended) {
        bool all = true;
        const bool whole = ReadRecordLines(record, [&all](const CString& line) {
            if (!SettleLine(line))
                all = false;
        });
        if (whole && all)
            RemoveIfThere(record);
    }
}
