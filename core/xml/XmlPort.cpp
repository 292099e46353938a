// Platform edges of the XML document class: whole-file reading, crash-safe replacing of a
// file, system error texts and code-page conversion.

#include "XmlPort.h"

#include <new>

namespace {
// Files are read whole into memory and indexed with int offsets; larger ones are refused.
const unsigned long long kMaxFileBytes = 1ULL << 30;
}

#ifdef _WIN32

#include "afxhandle.h"

#include <windows.h>

namespace XmlPort {

namespace {

// A replacing write's temporary file, deleted when the write gives up before the final move.
struct CRemoveUnlessMoved {
    std::wstring strPath;
    bool bMoved = false;
    ~CRemoveUnlessMoved()
    {
        if (!bMoved && !strPath.empty())
            DeleteFileW(strPath.c_str());
    }
};

} // namespace

bool ReadWholeFile(const wchar_t* pszPath, std::string& bytes, unsigned& nError)
{
    bytes.clear();
    CKernelHandle h(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) {
        nError = GetLastError();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h.Get(), &size)) {
        nError = GetLastError();
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxFileBytes) {
        nError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    try {
        bytes.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        nError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        DWORD nChunk = static_cast<DWORD>(bytes.size() - nDone > (1u << 24) ? (1u << 24) : bytes.size() - nDone);
        DWORD nRead = 0;
        if (!ReadFile(h.Get(), &bytes[nDone], nChunk, &nRead, nullptr)) {
            nError = GetLastError();
            bytes.clear();
            return false;
        }
        if (nRead == 0)
            break;   // the file shrank while being read
        nDone += nRead;
    }
    bytes.resize(nDone);
    return true;
}

bool WriteFileReplacing(const wchar_t* pszPath, const char* pData, size_t nSize, unsigned& nError, int& nStage)
{
    nStage = 0;
    std::wstring strPath(pszPath);
    // A temporary file in the same folder, so that the final move stays on one volume. The
    // remover is declared before the handle so that the handle is closed first on the way out:
    // an open file could not be deleted.
    CRemoveUnlessMoved temp;
    std::wstring strTemp;
    CKernelHandle h;
    for (unsigned n = 0; n < 100 && !h; ++n) {
        wchar_t szSuffix[48];
        wsprintfW(szSuffix, L".%lu.%u.tmp", GetCurrentProcessId(), (GetTickCount() + n * 7919u) & 0xFFFFFu);
        strTemp = strPath + szSuffix;
        h.Reset(CreateFileW(strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (!h) {
        nError = GetLastError();
        return false;
    }
    temp.strPath = strTemp;   // only now ours: a name that existed belongs to someone else
    nStage = 1;
    size_t nDone = 0;
    while (nDone < nSize) {
        DWORD nChunk = static_cast<DWORD>(nSize - nDone > (1u << 24) ? (1u << 24) : nSize - nDone);
        DWORD nWritten = 0;
        if (!WriteFile(h.Get(), pData + nDone, nChunk, &nWritten, nullptr) || nWritten == 0) {
            nError = GetLastError();
            return false;
        }
        nDone += nWritten;
    }
    nStage = 2;
    // The close is checked too: it can report a write the system could not finish.
    if (!FlushFileBuffers(h.Get()) || !h.Close() ||
        !MoveFileExW(strTemp.c_str(), pszPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        nError = GetLastError();
        return false;
    }
    temp.bMoved = true;
    return true;
}

CString ErrorText(unsigned nError)
{
    wchar_t* pMsg = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, nError, 0, reinterpret_cast<wchar_t*>(&pMsg), 0, nullptr);
    CString s;
    if (n && pMsg) {
        DWORD i = 0;
        while (i < n && pMsg[i] != L'\r' && pMsg[i] != L'\n')
            ++i;
        s = CString(pMsg, static_cast<int>(i));
    }
    if (pMsg)
        LocalFree(pMsg);
    return s;
}

void SetLastErrorCode(unsigned nError)
{
    SetLastError(nError);
}

unsigned AnsiCodePage()
{
    return GetACP();
}

bool ToUtf16(unsigned nCodePage, const char* p, size_t n, std::wstring& out)
{
    out.clear();
    if (n == 0)
        return true;
    if (n > 0x7FFFFFFF)
        return false;
    int nLen = MultiByteToWideChar(nCodePage, 0, p, static_cast<int>(n), nullptr, 0);
    if (nLen <= 0)
        return false;
    out.resize(nLen);
    return MultiByteToWideChar(nCodePage, 0, p, static_cast<int>(n), &out[0], nLen) == nLen;
}

bool FromUtf16(unsigned nCodePage, const wchar_t* p, size_t n, std::string& out, bool bCheckLoss, bool& bLost)
{
    out.clear();
    if (n == 0)
        return true;
    if (n > 0x3FFFFFFF)
        return false;
    BOOL bUsedDefault = FALSE;
    BOOL* pUsed = bCheckLoss ? &bUsedDefault : nullptr;
    // Without look-alikes: an accented letter must not quietly become its plain one in a code
    // page that lacks it.
    DWORD dwFlags = bCheckLoss ? WC_NO_BEST_FIT_CHARS : 0;
    int nLen = WideCharToMultiByte(nCodePage, dwFlags, p, static_cast<int>(n), nullptr, 0, nullptr, pUsed);
    if (nLen <= 0)
        return false;
    out.resize(nLen);
    if (WideCharToMultiByte(nCodePage, dwFlags, p, static_cast<int>(n), &out[0], nLen, nullptr, pUsed) != nLen)
        return false;
    if (bUsedDefault)
        bLost = true;
    return true;
}

} // namespace XmlPort

#else // native hosts (the fuzzer and the benchmark's native build)

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace XmlPort {

namespace {

std::string NarrowPath(const wchar_t* p)
{
    std::string s;
    for (; *p; ++p) {
        unsigned c = static_cast<unsigned>(*p);
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

} // namespace

bool ReadWholeFile(const wchar_t* pszPath, std::string& bytes, unsigned& nError)
{
    bytes.clear();
    FILE* f = fopen(NarrowPath(pszPath).c_str(), "rb");
    if (!f) {
        nError = static_cast<unsigned>(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
        nError = EFBIG;
        fclose(f);
        return false;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t n = bytes.empty() ? 0 : fread(&bytes[0], 1, bytes.size(), f);
    bytes.resize(n);
    bool bOk = !ferror(f);
    if (!bOk)
        nError = static_cast<unsigned>(errno);
    fclose(f);
    return bOk;
}

bool WriteFileReplacing(const wchar_t* pszPath, const char* pData, size_t nSize, unsigned& nError, int& nStage)
{
    nStage = 0;
    std::string strPath = NarrowPath(pszPath);
    std::string strTemp = strPath + ".XXXXXX";
    int fd = mkstemp(&strTemp[0]);
    if (fd < 0) {
        nError = static_cast<unsigned>(errno);
        return false;
    }
    nStage = 1;
    size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t w = write(fd, pData + nDone, nSize - nDone);
        if (w <= 0) {
            nError = static_cast<unsigned>(errno);
            close(fd);
            unlink(strTemp.c_str());
            return false;
        }
        nDone += static_cast<size_t>(w);
    }
    nStage = 2;
    if (fsync(fd) != 0 || close(fd) != 0 || rename(strTemp.c_str(), strPath.c_str()) != 0) {
        nError = static_cast<unsigned>(errno);
        unlink(strTemp.c_str());
        return false;
    }
    return true;
}

CString ErrorText(unsigned nError)
{
    const char* p = strerror(static_cast<int>(nError));
    std::wstring w;
    for (; p && *p; ++p)
        w += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return CString(w);
}

void SetLastErrorCode(unsigned nError)
{
    errno = static_cast<int>(nError);
}

unsigned AnsiCodePage()
{
    return 1252;
}

// Without the system's tables, single-byte code pages are read as Latin-1.
bool ToUtf16(unsigned, const char* p, size_t n, std::wstring& out)
{
    out.resize(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(p[i]));
    return true;
}

bool FromUtf16(unsigned, const wchar_t* p, size_t n, std::string& out, bool, bool& bLost)
{
    out.resize(n);
    for (size_t i = 0; i < n; ++i) {
        unsigned c = static_cast<unsigned>(p[i]);
        if (c > 0xFF) {
            c = '?';
            bLost = true;
        }
        out[i] = static_cast<char>(c);
    }
    return true;
}

} // namespace XmlPort

#endif
