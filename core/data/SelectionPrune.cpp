#include "SelectionPrune.h"

#include "DataFiles.h"
#include "ShellIo.h"
#include "XmlDocument.h"

#include <vector>

namespace {

// "C:\Data\a.txt" -> "C:\", "Data\", "a.txt\". Empty when the path has no backslash at all.
std::vector<CString> SplitSelectionPath(const CString& strPath)
{
    std::vector<CString> parts;
    CString p = strPath;
    if (p.IsEmpty())
        return parts;
    if (p[p.GetLength() - 1] != L'\\')
        p += L'\\';
    int start = 0;
    for (int i = 0; i < p.GetLength(); ++i) {
        if (p[i] == L'\\') {
            if (i > start)
                parts.push_back(p.Mid(start, i - start + 1));
            start = i + 1;
        }
    }
    return parts;
}

// Walks from the root element down the first n components. On success the element of the last
// component is the document's current child, its parent the current element.
bool WalkTo(CXmlDocument& doc, const std::vector<CString>& parts, size_t n)
{
    doc.ResetPosition();
    if (!doc.FindElement())
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && !doc.EnterElement())
            return false;
        bool found = false;
        while (doc.FindChildElement(L"path")) {
            if (doc.GetChildAttribute(L"path").CompareNoCase(parts[i]) == 0) {
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

bool IsDriveReady(const CString& strRoot)
{
    IShellIo& shell = ShellIo();
    UINT type = shell.DriveType(strRoot);
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR)
        return false;
    return shell.VolumeInformation(strRoot, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0) != FALSE;
}

}  // namespace

bool IsSelectedPathGone(const CString& strPath)
{
    if (strPath.GetLength() < 3 || strPath[1] != L':' || strPath[2] != L'\\')
        return false;  // not a drive path: never pruned
    if (::GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD err = ::GetLastError();
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND)
        return false;  // unreadable, not ready, denied...: keep it
    return IsDriveReady(strPath.Left(3));
}

bool RemoveSelectionPath(CXmlDocument& doc, const CString& strPath)
{
    std::vector<CString> parts = SplitSelectionPath(strPath);
    if (parts.empty() || !WalkTo(doc, parts, parts.size()))
        return false;
    if (!doc.RemoveChildElement())
        return false;
    // Ancestors that lost their last child would now read as "all selected".
    for (size_t n = parts.size() - 1; n >= 1; --n) {
        if (!WalkTo(doc, parts, n) || !doc.EnterElement())
            break;
        if (doc.FindChildElement(L"path"))
            break;
        doc.LeaveElement();
        doc.RemoveChildElement();
    }
    return true;
}

int PruneMissingPaths(const CString& strDataFolder, bool (*pfnIsGone)(const CString&))
{
    if (!pfnIsGone)
        pfnIsGone = IsSelectedPathGone;
    CString strFullPath = JoinPath(strDataFolder, kFullPathFile);
    CString strTreePath = JoinPath(strDataFolder, kTreePathFile);
    CXmlDocument docFull;
    if (!docFull.LoadFile(strFullPath))
        return 0;
    CXmlDocument docTree;
    bool bTreeLoaded = docTree.LoadFile(strTreePath);
    bool bTreeChanged = false;

    int nRemoved = 0;
    docFull.ResetPosition();
    if (!docFull.FindElement())
        return 0;
    while (docFull.FindChildElement(L"path")) {
        CString strPath = docFull.GetChildAttribute(L"path");
        if (!pfnIsGone(strPath))
            continue;
        if (bTreeLoaded && RemoveSelectionPath(docTree, strPath))
            bTreeChanged = true;
        // The scan goes on with the element that followed the removed one.
        docFull.RemoveChildElement();
        ++nRemoved;
    }
    if (nRemoved > 0)
        docFull.SaveFile(strFullPath);
    if (bTreeChanged)
        docTree.SaveFile(strTreePath);
    return nRemoved;
}
