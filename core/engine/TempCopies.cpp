#include "TempCopies.h"

#include <cstring>
#include <cwctype>
#include <new>
#include <set>
#include <vector>

#include "EngineFiles.h"
#include "LegacyTempRecords.h"
#include "LongPath.h"
#include "StoreNames.h"
#include "SystemIo.h"

using copyengine::IsGoneError;
using copyengine::RemoveIfThere;

const wchar_t kEngineFolderName[] = L"~ZUL.work";

CTempCopies::StepFunc CTempCopies::s_pfnStep = nullptr;

namespace {

const wchar_t kLockName[] = L"run.lock";
const wchar_t kNoteSuffix[] = L".name";
const wchar_t kRecordsName[] = L"Temporaries";
const wchar_t kRecordSuffix[] = L".rec";
const wchar_t kTempPrefix[] = L"~zu";
const wchar_t kTempSuffix[] = L".tmp";
// An entry of a record: a tag, the length of the name in characters, the name (UTF-16).
const DWORD kLiveTag = 0x5A554C31u;   // a name whose file may be there
const DWORD kStruckTag = 0;           // a name that is gone
const DWORD kEntryHeader = 2 * sizeof(DWORD);
const DWORD kMaxNameChars = 32767;
const DWORD kEntryBytes = kEntryHeader + kMaxNameChars * sizeof(wchar_t);
// A record with no name left is cut back to nothing once it has grown to this size.
const LONGLONG kRecordTrim = 64 * 1024;

// 32 hex digits of a fresh random 128-bit value; false when the system gives none.
bool DrawHex(CString& strHex)
{
    BYTE bytes[16];
    if (!SystemIo().RandomBytes(bytes, sizeof bytes)) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    wchar_t text[33];
    for (int i = 0; i < 16; ++i) {
        const wchar_t* digits = L"0123456789abcdef";
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 15];
    }
    text[32] = 0;
    strHex = text;
    return true;
}

bool IsHexRun(const wchar_t* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (!iswxdigit(p[i]))
            return false;
    return true;
}

// A folder of a run in the engine's folder: 32 hex digits. Nothing else there is the engine's.
bool IsRunFolderName(const wchar_t* pszName)
{
    return wcslen(pszName) == 32 && IsHexRun(pszName, 32);
}

// A file the engine makes in a run folder: the lock, a temporary ("<n>", the counter in hex)
// or a note ("<n>.name"). Nothing else there is removed.
bool IsRunFileName(const CString& strName)
{
    if (strName.CompareNoCase(kLockName) == 0)
        return true;
    int n = strName.GetLength();
    const int noteChars = static_cast<int>(wcslen(kNoteSuffix));
    if (n > noteChars && strName.Right(noteChars).CompareNoCase(kNoteSuffix) == 0)
        n -= noteChars;
    return n >= 1 && n <= 8 && IsHexRun(strName.GetString(), n);
}

// "~zu<32 hex digits>.tmp": the only names a record's entry may remove.
bool IsBesideName(const wchar_t* pszName)
{
    const size_t prefix = wcslen(kTempPrefix), suffix = wcslen(kTempSuffix);
    return wcslen(pszName) == prefix + 32 + suffix && _wcsnicmp(pszName, kTempPrefix, prefix) == 0 &&
           IsHexRun(pszName + prefix, 32) && _wcsicmp(pszName + prefix + 32, kTempSuffix) == 0;
}

// Marks an open file for deletion at its close; false when the system refuses.
bool DeleteOnClose(HANDLE h)
{
    FILE_DISPOSITION_INFO d{};
    d.DeleteFile = TRUE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &d, sizeof d) != FALSE;
}

// Closes a file this run holds and removes it.
void CloseAndRemove(CKernelHandle& h, const CString& strPath)
{
    const bool marked = DeleteOnClose(h.Get());
    h.Close();
    if (!marked)
        RemoveIfThere(strPath);
}

// The whole content of an open file; false when it cannot be read.
bool ReadWhole(HANDLE h, std::vector<BYTE>& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart > 0x7FFFFFFF)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD at = 0;
    while (at < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(h, bytes.data() + at, static_cast<DWORD>(bytes.size()) - at, &got, nullptr))
            return false;
        if (got == 0)
            break;
        at += got;
    }
    bytes.resize(at);
    return true;
}

// The files (not folders) of a folder (long-path form, trailing backslash).
std::vector<CString> FilesIn(const CString& strFolder)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW fd;
    CFindHandle find(FindFirstFileW(strFolder + L"*", &fd));
    if (!find)
        return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(find.Get(), &fd));
    return names;
}

// A stored name relative to the store: a drive-letter folder, then names; nothing that could
// lead out of the store.
bool IsStoreRelative(const CString& strRel)
{
    if (strRel.GetLength() < 3 || strRel[1] != L'\\' || strRel.Find(L':') >= 0 || strRel.Find(L'/') >= 0 ||
        strRel.Find(L"\\\\") >= 0 || strRel[strRel.GetLength() - 1] == L'\\')
        return false;
    for (int start = 0; start <= strRel.GetLength();) {
        int end = strRel.Find(L'\\', start);
        if (end < 0)
            end = strRel.GetLength();
        const CString part = strRel.Mid(start, end - start);
        if (part == L"." || part == L"..")
            return false;
        start = end + 1;
    }
    return true;
}

// Makes the folders of a stored name below the store, as far as they are missing.
void MakeFoldersBelow(const CString& strStore, const CString& strRel)
{
    for (int pos = strRel.Find(L'\\'); pos > 0; pos = strRel.Find(L'\\', pos + 1))
        CreateDirectoryW(strStore + L"\\" + strRel.Left(pos), nullptr);
}

// One finished copy an ended run moved aside with its note: put under its final name when
// nothing holds that name; a file that holds it was stored after the copy went aside (the
// name was free then), so the copy waiting is the older one and goes. True when neither the
// copy nor its note is left.
bool SettleNote(const CString& strStore, const CString& strAside, const CString& strNote)
{
    if (GetFileAttributesW(strAside) == INVALID_FILE_ATTRIBUTES) {
        if (!IsGoneError(GetLastError()))
            return false;
        return RemoveIfThere(strNote);
    }
    CString rel;
    CKernelHandle note(CreateFileW(strNote, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!note)
        return false;
    std::vector<BYTE> bytes;
    const bool read = ReadWhole(note.Get(), bytes);
    note.Close();
    if (!read)
        return false;
    rel = CString(reinterpret_cast<const wchar_t*>(bytes.data()), static_cast<int>(bytes.size() / sizeof(wchar_t)));
    if (!IsStoreRelative(rel))
        return RemoveIfThere(strAside) && RemoveIfThere(strNote);
    const CString final = strStore + L"\\" + rel;
    if (GetFileAttributesW(final) != INVALID_FILE_ATTRIBUTES)
        return RemoveIfThere(strAside) && RemoveIfThere(strNote);
    const DWORD err = GetLastError();
    if (!IsGoneError(err))
        return false;
    if (err == ERROR_PATH_NOT_FOUND)
        MakeFoldersBelow(strStore, rel);
    if (!MoveFileExW(strAside, final, MOVEFILE_WRITE_THROUGH))
        return false;
    return RemoveIfThere(strNote);
}

// Settles a run folder whose lock the caller holds: notes first, then every other file. The
// lock and the folder go when nothing else is left; else the lock is let go for a later run.
void SettleRunFolder(const CString& strStore, const CString& strRun, CKernelHandle& hLock)
{
    const std::vector<CString> files = FilesIn(strRun);
    std::set<CString> kept;   // upper case
    bool all = true;
    const int noteChars = static_cast<int>(wcslen(kNoteSuffix));
    for (const CString& name : files) {
        if (name.GetLength() <= noteChars || name.Right(noteChars).CompareNoCase(kNoteSuffix) != 0 ||
            !IsRunFileName(name))
            continue;
        const CString aside = name.Left(name.GetLength() - noteChars);
        if (!SettleNote(strStore, strRun + aside, strRun + name)) {
            all = false;
            CString a(aside), n(name);
            kept.insert(a.MakeUpper());
            kept.insert(n.MakeUpper());
        }
    }
    for (const CString& name : files) {
        CString upper(name);
        upper.MakeUpper();
        if (name.CompareNoCase(kLockName) == 0 || kept.count(upper))
            continue;
        // Something of somebody else's: it stays, and so do the lock and the folder.
        if (!IsRunFileName(name)) {
            all = false;
            continue;
        }
        if (!RemoveIfThere(strRun + name))
            all = false;
    }
    if (!all) {
        hLock.Close();
        return;
    }
    CloseAndRemove(hLock, strRun + kLockName);
    RemoveDirectoryW(strRun);
}

} // namespace

CTempCopies::CTempCopies() = default;

CTempCopies::~CTempCopies()
{
    EndRun();
}

void CTempCopies::SetStoreFolder(const CString& strStoreFolder)
{
    CString s = ExtendedPath(strStoreFolder);
    while (s.GetLength() > 7 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1, 1);
    m_strStore = s;
}

void CTempCopies::SetRecordFolders(const CString& strFirst, const CString& strSecond)
{
    CString folders[2] = {ExtendedPath(strFirst), ExtendedPath(strSecond)};
    for (CString& s : folders)
        while (s.GetLength() > 7 && s[s.GetLength() - 1] == L'\\')
            s.Delete(s.GetLength() - 1, 1);
    m_strRecordFolder = folders[0];
    m_strSecondRecordFolder = folders[1].CompareNoCase(folders[0]) == 0 ? CString() : folders[1];
}

void CTempCopies::ClearEndedRuns()
{
    if (!m_strStore.IsEmpty()) {
        const CString engine = EngineFolder() + L"\\";
        WIN32_FIND_DATAW fd;
        CFindHandle find(FindFirstFileW(engine + L"*", &fd));
        if (find) {
            std::vector<CString> runs;
            do {
                if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsRunFolderName(fd.cFileName))
                    runs.push_back(engine + fd.cFileName + L"\\");
            } while (FindNextFileW(find.Get(), &fd));
            find.Close();
            for (const CString& run : runs) {
                if (m_bStoreRun && run.CompareNoCase(m_strRunFolder) == 0)
                    continue;
                // Taken only when nobody holds it; a run starting in that folder meanwhile
                // finds the lock made and draws another folder.
                CKernelHandle lock(CreateFileW(run + kLockName, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!lock)
                    continue;
                SettleRunFolder(m_strStore, run, lock);
            }
            if (!m_bStoreRun)
                RemoveDirectoryW(EngineFolder());
        }
        ClearLegacyTempRecords(m_strStore);
    }
    ClearRecordsIn(m_strRecordFolder);
    ClearRecordsIn(m_strSecondRecordFolder);
}

void CTempCopies::ClearRecordsIn(const CString& strPlace)
{
    if (strPlace.IsEmpty())
        return;
    const CString folder = strPlace + L"\\" + kRecordsName + L"\\";
    for (const CString& name : FilesIn(folder)) {
        const int suffix = static_cast<int>(wcslen(kRecordSuffix));
        if (name.GetLength() <= suffix || name.Right(suffix).CompareNoCase(kRecordSuffix) != 0)
            continue;
        const CString path = folder + name;
        if (m_hRecord.IsValid() && path.CompareNoCase(m_strRecord) == 0)
            continue;
        CKernelHandle record(CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!record)
            continue;   // a running run's record, or one that cannot be taken now
        std::vector<BYTE> bytes;
        bool all = ReadWhole(record.Get(), bytes);
        for (size_t at = 0; all && at + kEntryHeader <= bytes.size();) {
            DWORD tag, chars;
            std::memcpy(&tag, bytes.data() + at, sizeof tag);
            std::memcpy(&chars, bytes.data() + at + sizeof tag, sizeof chars);
            // An entry cut short was being written when the run ended: its file was
            // never made, and nothing follows it.
            if (chars == 0 || chars > kMaxNameChars || at + kEntryHeader + chars * sizeof(wchar_t) > bytes.size())
                break;
            if (tag == kLiveTag) {
                const CString temp(reinterpret_cast<const wchar_t*>(bytes.data() + at + kEntryHeader),
                                   static_cast<int>(chars));
                const int slash = temp.ReverseFind(L'\\');
                if (slash > 0 && IsBesideName(temp.GetString() + slash + 1) && !RemoveIfThere(temp))
                    all = false;
            }
            at += kEntryHeader + chars * sizeof(wchar_t);
        }
        if (all)
            CloseAndRemove(record, path);
        else
            record.Close();
    }
}

CString CTempCopies::EngineFolder() const
{
    return m_strStore.IsEmpty() ? CString() : m_strStore + L"\\" + kEngineFolderName;
}

bool CTempCopies::EngineFolderInTheWay() const
{
    if (m_strStore.IsEmpty())
        return false;
    const DWORD attrs = GetFileAttributesW(EngineFolder());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool CTempCopies::StartStoreRun()
{
    if (m_bStoreRun.load(std::memory_order_acquire))
        return true;
    AcquireSRWLockExclusive(&m_lock);
    bool started = m_bStoreRun.load(std::memory_order_relaxed);
    if (!started && m_bStoreRunTried) {
        SetLastError(m_dwStoreRunError);
    } else if (!started) {
        m_bStoreRunTried = true;
        DWORD err = ERROR_PATH_NOT_FOUND;
        try {
            const CString engine = EngineFolder();
            for (int tries = 0; !started && tries < 8 && !m_strStore.IsEmpty(); ++tries) {
                CString hex;
                if (!DrawHex(hex)) {
                    err = GetLastError();
                    break;
                }
                if (CreateDirectoryW(engine, nullptr)) {
                    SetFileAttributesW(engine, FILE_ATTRIBUTE_HIDDEN);
                } else if (GetLastError() == ERROR_PATH_NOT_FOUND && CreateDirectoryW(m_strStore, nullptr)) {
                    continue;
                } else if (EngineFolderInTheWay()) {
                    err = ERROR_DIRECTORY;
                    break;
                }
                const CString run = engine + L"\\" + hex + L"\\";
                if (!CreateDirectoryW(run, nullptr)) {
                    err = GetLastError();
                    if (err == ERROR_ALREADY_EXISTS || err == ERROR_PATH_NOT_FOUND)
                        continue;   // another run's folder, or the engine's folder cleared meanwhile
                    break;
                }
                // Never shared, deleted by nobody else while held: the run's ownership.
                CKernelHandle lock(CreateFileW(run + kLockName, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!lock) {
                    err = GetLastError();
                    continue;   // a clearing run took the new folder for an ended one
                }
                m_strRunFolder = run;
                m_hLock = std::move(lock);
                m_nCounter = 0;
                started = true;
            }
        } catch (...) {
            ReleaseSRWLockExclusive(&m_lock);
            throw;
        }
        m_dwStoreRunError = started ? 0 : err;
        m_bStoreRun.store(started, std::memory_order_release);
        if (!started)
            SetLastError(err);
    }
    ReleaseSRWLockExclusive(&m_lock);
    return started;
}

HANDLE CTempCopies::CreateInStore(DWORD dwAccess, DWORD dwFlags, CString& strTemp)
{
    if (!StartStoreRun())
        return INVALID_HANDLE_VALUE;
    for (int tries = 0;; ++tries) {
        strTemp.Format(L"%ls%x", m_strRunFolder.GetString(), m_nCounter++);
        HANDLE h = CreateFileW(strTemp, dwAccess, 0, nullptr, CREATE_NEW, dwFlags, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        const DWORD err = GetLastError();
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || tries >= 100) {
            SetLastError(err);
            return INVALID_HANDLE_VALUE;
        }
    }
}

bool CTempCopies::TakeCase(const CString& strHeld, const CString& strFinal)
{
    const CString held = ExtendedPath(strHeld), final = ExtendedPath(strFinal);
    const int n = m_strStore.GetLength();
    if (final.GetLength() <= n + 1 || final.Left(n).CompareNoCase(m_strStore) != 0 || final[n] != L'\\')
        return false;
    const CString rel = final.Mid(n + 1);
    if (!IsStoreRelative(rel) || !StartStoreRun())
        return false;
    CString aside;
    aside.Format(L"%ls%x", m_strRunFolder.GetString(), m_nCounter++);
    const CString note = aside + kNoteSuffix;
    // The note is on the disk before the copy leaves its name.
    CKernelHandle noteFile(CreateFileW(note, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!noteFile)
        return false;
    const DWORD bytes = static_cast<DWORD>(rel.GetLength()) * sizeof(wchar_t);
    DWORD written = 0;
    const bool noted = WriteFile(noteFile.Get(), rel.GetString(), bytes, &written, nullptr) && written == bytes &&
                       FlushFileBuffers(noteFile.Get());
    noteFile.Close();
    if (!noted || !MoveFileExW(held, aside, MOVEFILE_WRITE_THROUGH)) {
        RemoveIfThere(note);
        return false;
    }
    const bool moved = MoveFileExW(aside, final, MOVEFILE_WRITE_THROUGH) != FALSE;
    // Neither name takes it: it waits with its note, and the run's end puts it in place.
    if (!moved && !MoveFileExW(aside, held, MOVEFILE_WRITE_THROUGH))
        return false;
    RemoveIfThere(note);
    return moved;
}

bool CTempCopies::WriteRecordAt(LONGLONG nOffset, const void* p, DWORD nBytes)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nOffset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<ULONGLONG>(nOffset) >> 32);
    DWORD written = 0;
    if (!WriteFile(m_hRecord.Get(), p, nBytes, &written, &at))
        return false;
    if (written != nBytes) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

bool CTempCopies::StartRecordIn(const CString& strPlace, DWORD& dwError)
{
    const CString folder = strPlace + L"\\" + kRecordsName;
    // The place itself may not be there yet; nothing above it is made.
    CreateDirectoryW(strPlace, nullptr);
    if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        dwError = GetLastError();
        return false;
    }
    dwError = ERROR_FILE_EXISTS;
    for (int tries = 0; tries < 8; ++tries) {
        CString hex;
        if (!DrawHex(hex)) {
            dwError = GetLastError();
            return false;
        }
        const CString path = folder + L"\\" + hex + kRecordSuffix;
        // Written through: an entry is on the disk before the file it names is made.
        CKernelHandle record(CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!record) {
            dwError = GetLastError();
            if (dwError == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        m_strRecordIn = folder;
        m_strRecord = path;
        m_hRecord = std::move(record);
        m_nRecordEnd = 0;
        m_nLive = 0;
        return true;
    }
    return false;
}

bool CTempCopies::StartRecord()
{
    if (m_hRecord.IsValid())
        return true;
    if (m_bRecordTried) {
        SetLastError(kRecordNotKept);
        return false;
    }
    m_bRecordTried = true;
    m_dwRecordError = ERROR_PATH_NOT_FOUND;
    m_strRecordIn.Empty();
    if (!m_pEntry)
        m_pEntry = new BYTE[kEntryBytes];
    // The second place only takes the record the first cannot: what the user is told is the
    // first place and its reason.
    for (const CString* place : {&m_strRecordFolder, &m_strSecondRecordFolder}) {
        if (place->IsEmpty())
            continue;
        DWORD err = 0;
        if (StartRecordIn(*place, err))
            return true;
        if (m_strRecordIn.IsEmpty()) {
            m_strRecordIn = *place + L"\\" + kRecordsName;
            m_dwRecordError = err;
        }
    }
    SetLastError(kRecordNotKept);
    return false;
}

DWORD CTempCopies::RecordNotKept(CString& strFolder) const
{
    strFolder = m_strRecordIn;
    return m_dwRecordError;
}

HANDLE CTempCopies::CreateBeside(const CString& strFolder, DWORD dwAccess, DWORD dwFlags, CString& strTemp,
                                 LONGLONG& nSlot)
{
    nSlot = -1;
    if (!StartRecord())
        return INVALID_HANDLE_VALUE;
    CString folder = ExtendedPath(strFolder);
    if (folder.IsEmpty() || folder[folder.GetLength() - 1] != L'\\')
        folder += L"\\";
    for (int tries = 0;; ++tries) {
        CString hex;
        if (!DrawHex(hex))
            return INVALID_HANDLE_VALUE;
        strTemp = folder + kTempPrefix + hex + kTempSuffix;
        const DWORD chars = static_cast<DWORD>(strTemp.GetLength());
        if (chars > kMaxNameChars) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        const DWORD bytes = kEntryHeader + chars * sizeof(wchar_t);
        AcquireSRWLockExclusive(&m_lock);
        const LONGLONG at = m_nRecordEnd;
        const DWORD tag = kLiveTag;
        std::memcpy(m_pEntry, &tag, sizeof tag);
        std::memcpy(m_pEntry + sizeof tag, &chars, sizeof chars);
        std::memcpy(m_pEntry + kEntryHeader, strTemp.GetString(), chars * sizeof(wchar_t));
        const bool noted = WriteRecordAt(at, m_pEntry, bytes);
        if (noted) {
            m_nRecordEnd += bytes;
            ++m_nLive;
        } else {
            m_dwRecordError = GetLastError();
        }
        ReleaseSRWLockExclusive(&m_lock);
        if (!noted) {
            SetLastError(kRecordNotKept);
            return INVALID_HANDLE_VALUE;   // a file the record cannot name is not made
        }
        if (s_pfnStep)
            s_pfnStep(kNoted);
        HANDLE h = CreateFileW(strTemp, dwAccess, 0, nullptr, CREATE_NEW, dwFlags, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            nSlot = at;
            return h;
        }
        const DWORD err = GetLastError();
        // Not made by this run: whatever has that name is not the record's.
        Gone(at);
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || tries >= 16) {
            SetLastError(err);
            return INVALID_HANDLE_VALUE;
        }
    }
}

void CTempCopies::Gone(LONGLONG nSlot)
{
    if (nSlot < 0)
        return;
    const DWORD err = GetLastError();
    if (s_pfnStep)
        s_pfnStep(kGoing);
    const DWORD struck = kStruckTag;
    AcquireSRWLockExclusive(&m_lock);
    if (m_hRecord.IsValid() && WriteRecordAt(nSlot, &struck, sizeof struck) && --m_nLive == 0 &&
        m_nRecordEnd >= kRecordTrim) {
        LARGE_INTEGER zero{};
        if (SetFilePointerEx(m_hRecord.Get(), zero, nullptr, FILE_BEGIN) && SetEndOfFile(m_hRecord.Get()))
            m_nRecordEnd = 0;
    }
    ReleaseSRWLockExclusive(&m_lock);
    SetLastError(err);
}

void CTempCopies::EndStoreRun()
{
    if (m_bStoreRun) {
        try {
            SettleRunFolder(m_strStore, m_strRunFolder, m_hLock);
            m_hLock.Close();
            RemoveDirectoryW(EngineFolder());
        } catch (const std::bad_alloc&) {
            // What is left stays, its lock let go, for a later run; this run ends all the same.
            m_hLock.Close();
        }
    }
    m_bStoreRun = false;
    m_bStoreRunTried = false;
    m_strRunFolder.Empty();
}

void CTempCopies::EndRecord()
{
    if (m_hRecord.IsValid()) {
        if (m_nLive == 0)
            CloseAndRemove(m_hRecord, m_strRecord);
        else
            m_hRecord.Close();   // names left: a later run removes their files
    }
    delete[] m_pEntry;
    m_pEntry = nullptr;
    m_bRecordTried = false;
    m_dwRecordError = 0;
    m_strRecordIn.Empty();
    m_strRecord.Empty();
    m_nLive = 0;
}

void CTempCopies::EndRun()
{
    EndStoreRun();
    EndRecord();
    // The next run may be on another disk, or by another user's data folder.
    m_strStore.Empty();
    m_strRecordFolder.Empty();
    m_strSecondRecordFolder.Empty();
}
