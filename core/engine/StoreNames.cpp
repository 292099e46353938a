// The store's naming rules: store path <-> source path, ".zip" names, the file-type filter,
// system folders and upper-case keys. Nothing here asks the file system.

#include "BackUpEngine.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "DataFiles.h"
#include "EngineFiles.h"
#include "EngineGuards.h"
#include "LegacyTempRecords.h"
#include "LongPath.h"
#include "SharedFunctions.h"
#include "StoreNames.h"
#include "StoreTimes.h"
#include "SystemIo.h"
#include "WriteQueue.h"

using namespace copyengine;

namespace copyengine {

const wchar_t kStoreName[] = L"VEZORI";

bool IsDots(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool EndsWithBackslash(const CString& s)
{
    return !s.IsEmpty() && s[s.GetLength() - 1] == L'\\';
}

CString RemoveFirstColon(const CString& strPath)
{
    CString s(strPath);
    int colon = s.Find(L':');
    if (colon > 0)
        s.Delete(colon, 1);
    return s;
}

bool IsDrivePath(const CString& s)
{
    wchar_t c = s[0];
    return s.GetLength() >= 3 && ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) &&
           s[1] == L':' && s[2] == L'\\';
}

CString UpperName(const CString& strName)
{
    CString s(strName);
    s.MakeUpper();
    return s;
}

CString NormalStoreFolder(const CString& strStoreFolder)
{
    CString s(strStoreFolder);
    int twice;
    while ((twice = s.Find(L"\\\\", 2)) >= 0)
        s.Delete(twice, 1);
    while (s.GetLength() > 3 && EndsWithBackslash(s))
        s.Delete(s.GetLength() - 1, 1);
    return s;
}

bool IsInStore(const CString& strPath, const CString& strStore)
{
    if (strStore.IsEmpty())
        return false;
    CString path = NormalStoreFolder(strPath);
    int n = strStore.GetLength();
    if (path.GetLength() < n || path.Left(n).CompareNoCase(strStore) != 0)
        return false;
    return path.GetLength() == n || path[n] == L'\\';
}

} // namespace copyengine

namespace {

// What may stand between the items of a typed extension list.
bool IsListSeparator(wchar_t c)
{
    return c == L',' || c == L';' || c == 0xFF0C;   // the last: the full-width comma
}

// One typed item as the bare extension it stands for, in upper case: " .pdf", "*.pdf" and
// "PDF" all give "PDF".
CString BareExtension(CString item)
{
    item.Trim();
    int skip = 0;
    while (skip < item.GetLength() && (item[skip] == L'*' || item[skip] == L'.'))
        ++skip;
    item.Delete(0, skip);
    item.Trim();
    item.MakeUpper();
    return item;
}

} // namespace

namespace copyengine {

bool EndsWithZip(const CString& strName)
{
    return strName.GetLength() > 4 && strName.Right(4).CompareNoCase(L".zip") == 0;
}

} // namespace copyengine

CString CBackUpEngine::GetExtension(const CString& strName)
{
    int dot = strName.ReverseFind(L'.');
    return dot >= 1 ? strName.Mid(dot + 1) : CString();
}

bool CBackUpEngine::PassesFilter(const CString& strName) const
{
    // A name without an extension never passes a filter.
    if (m_strFileTypes.IsEmpty())
        return true;
    return strName.ReverseFind(L'.') >= 1 && IsInExtensionList(m_strFileTypes, GetExtension(strName));
}

bool CBackUpEngine::IsInExtensionList(const CString& strList, const CString& strExtension)
{
    CString ext(strExtension);
    ext.MakeUpper();
    if (!strList.IsEmpty() && strList[0] == L',') {
        CString list(strList);
        list.MakeUpper();
        return list == ext;
    }
    const int n = strList.GetLength();
    for (int start = 0; start <= n;) {
        int end = start;
        while (end < n && !IsListSeparator(strList[end]))
            ++end;
        if (BareExtension(strList.Mid(start, end - start)) == ext)
            return true;
        start = end + 1;
    }
    return false;
}

int CBackUpEngine::IsNotSystemFolder(const CString& strName)
{
    return IsSystemFolderName(strName) ? 0 : 1;
}

CString CBackUpEngine::StorePathToSourcePath(const CString& strStorePath)
{
    // ...\VEZORI\<letter>\<rest> -> <letter>:\<rest>
    CString root, below;
    if (!SplitAtStore(strStorePath, root, below))
        return CString();
    if (below.GetLength() < 3 || below[1] != L'\\')
        return CString();
    const wchar_t c = below[0];
    if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')))
        return CString();
    return CString(c) + L":" + below.Mid(1);
}

namespace copyengine {

bool SplitAtStore(const CString& strPath, CString& strRoot, CString& strBelow)
{
    const int n = strPath.GetLength();
    const int name = static_cast<int>(wcslen(kStoreName));
    for (int at = strPath.Find(L'\\'); at >= 0; at = strPath.Find(L'\\', at + 1)) {
        const int end = at + 1 + name;
        if (end > n || (end < n && strPath[end] != L'\\') ||
            _wcsnicmp(strPath.GetString() + at + 1, kStoreName, name) != 0)
            continue;
        strRoot = strPath.Left(at);
        strBelow = end < n ? strPath.Mid(end + 1) : CString();
        while (EndsWithBackslash(strBelow))
            strBelow.Delete(strBelow.GetLength() - 1, 1);
        return true;
    }
    return false;
}

bool IsStoreFolderPath(const CString& strPath)
{
    CString root, below;
    return SplitAtStore(strPath, root, below) && below.IsEmpty();
}

} // namespace copyengine

CString CBackUpEngine::OtherFormOf(const CString& strTarget) const
{
    if (!m_bCompress)
        return strTarget + L".zip";
    if (EndsWithZip(strTarget))
        return strTarget.Left(strTarget.GetLength() - 4);
    return CString();
}
