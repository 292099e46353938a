#include "SelectionFiles.h"

#include "DataFiles.h"
#include "XmlDocument.h"

#include <unordered_set>

namespace {

const wchar_t kRootName[] = L"filepath";
const wchar_t kElemName[] = L"path";
const wchar_t kAttrName[] = L"path";

bool SameName(const CString& a, const CString& b) { return a.CompareNoCase(b) == 0; }

CString UpperKey(const CString& s)
{
    CString k(s);
    k.MakeUpper();
    return k;
}

void ReadChildren(CXmlDocument& doc, CSelectionNode& node)
{
    // The document is positioned with the element of node current (or the root "filepath").
    // A name listed twice is read once: a checked element wins over a mixed one.
    while (doc.FindChildElement(kElemName)) {
        CString strName = doc.GetChildAttribute(kAttrName);
        if (strName.IsEmpty())
            continue;
        if (strName[strName.GetLength() - 1] != L'\\')
            strName += L'\\';
        CSelectionNode* pChild = node.FindChild(strName);
        bool bNew = pChild == nullptr;
        if (bNew)
            pChild = node.AddChild(strName);
        else if (pChild->children.empty())
            continue;
        CSelectionNode read;
        doc.EnterElement();
        ReadChildren(doc, read);
        doc.LeaveElement();
        if (read.children.empty())
            pChild->children.clear();
        else if (bNew)
            pChild->children = std::move(read.children);
    }
}

void WriteChildren(CXmlDocument& doc, const CSelectionNode& node)
{
    for (const auto& pChild : node.children) {
        doc.AddElement(kElemName);
        doc.SetAttributeAt(doc.GetCurrentPos(), kAttrName, pChild->strName);
        if (!pChild->children.empty()) {
            doc.EnterElement();
            WriteChildren(doc, *pChild);
            doc.LeaveElement();
        }
    }
}

void CollectChecked(const CSelectionNode& node, const CString& strPrefix, std::vector<CString>& out)
{
    for (const auto& pChild : node.children) {
        CString strPath = strPrefix + pChild->strName;
        if (pChild->children.empty())
            out.push_back(CSelection::FlatForm(strPath));
        else
            CollectChecked(*pChild, strPath, out);
    }
}

DWORD LastErrorOr(DWORD dwFallback)
{
    DWORD dw = ::GetLastError();
    return dw ? dw : dwFallback;
}

} // namespace

// --- CSelectionNode ------------------------------------------------------------------------

CSelectionNode* CSelectionNode::FindChild(const CString& strChild) const
{
    for (const auto& p : children)
        if (SameName(p->strName, strChild))
            return p.get();
    return nullptr;
}

CSelectionNode* CSelectionNode::AddChild(const CString& strChild)
{
    children.push_back(std::make_unique<CSelectionNode>());
    children.back()->strName = strChild;
    return children.back().get();
}

void CSelectionNode::RemoveChild(const CSelectionNode* pChild)
{
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (it->get() == pChild) {
            children.erase(it);
            return;
        }
    }
}

void CSelectionNode::CopyChildrenFrom(const CSelectionNode& from)
{
    children.clear();
    for (const auto& p : from.children)
        AddChild(p->strName)->CopyChildrenFrom(*p);
}

// --- CSelection -----------------------------------------------------------------------------

std::vector<CString> CSelection::SplitPath(const CString& strPath)
{
    std::vector<CString> parts;
    if (strPath.GetLength() < 2 || strPath[1] != L':')
        return parts;
    wchar_t chDrive = strPath[0];
    if (!((chDrive >= L'A' && chDrive <= L'Z') || (chDrive >= L'a' && chDrive <= L'z')))
        return parts;
    parts.push_back(strPath.Left(2) + L"\\");
    int i = 2;
    const int n = strPath.GetLength();
    while (i < n) {
        while (i < n && strPath[i] == L'\\')
            ++i;
        int j = i;
        while (j < n && strPath[j] != L'\\')
            ++j;
        if (j > i)
            parts.push_back(strPath.Mid(i, j - i) + L"\\");
        i = j;
    }
    return parts;
}

CString CSelection::FlatForm(const CString& strPath)
{
    CString s(strPath);
    while (s.GetLength() > 3 && s[s.GetLength() - 1] == L'\\')
        s.Delete(s.GetLength() - 1);
    if (s.GetLength() == 2 && s[1] == L':')
        s += L'\\';
    return s;
}

bool CSelection::IsAtOrBelow(const CString& strEntry, const CString& strPath)
{
    CString strBase = FlatForm(strPath);
    CString strItem = FlatForm(strEntry);
    if (strItem.CompareNoCase(strBase) == 0)
        return true;
    if (strBase.IsEmpty())
        return false;
    if (strBase[strBase.GetLength() - 1] != L'\\')
        strBase += L'\\';
    return strItem.GetLength() > strBase.GetLength() &&
           strItem.Left(strBase.GetLength()).CompareNoCase(strBase) == 0;
}

CSelectionNode* CSelection::Find(const CString& strPath) const
{
    std::vector<CString> parts = SplitPath(strPath);
    if (parts.empty())
        return nullptr;
    const CSelectionNode* pNode = &m_root;
    for (const CString& part : parts) {
        pNode = pNode->FindChild(part);
        if (!pNode)
            return nullptr;
    }
    return const_cast<CSelectionNode*>(pNode);
}

int CSelection::StateOf(const CString& strPath) const
{
    std::vector<CString> parts = SplitPath(strPath);
    if (parts.empty())
        return NOT_SELECTED;
    const CSelectionNode* pNode = &m_root;
    for (const CString& part : parts) {
        pNode = pNode->FindChild(part);
        if (!pNode)
            return NOT_SELECTED;
        if (pNode->children.empty())
            return CHECKED;
    }
    return MIXED;
}

void CSelection::Check(const CString& strPath)
{
    std::vector<CString> parts = SplitPath(strPath);
    if (parts.empty())
        return;
    CSelectionNode* pNode = &m_root;
    for (size_t i = 0; i < parts.size(); ++i) {
        CSelectionNode* pChild = pNode->FindChild(parts[i]);
        if (!pChild) {
            pChild = pNode->AddChild(parts[i]);
        } else if (pChild->children.empty() && i + 1 < parts.size()) {
            return;   // an element above is checked: the path is selected already
        }
        pNode = pChild;
    }
    pNode->children.clear();
}

bool CSelection::Remove(const CString& strPath)
{
    std::vector<CString> parts = SplitPath(strPath);
    if (parts.empty())
        return false;
    std::vector<CSelectionNode*> chain{&m_root};
    for (const CString& part : parts) {
        CSelectionNode* pChild = chain.back()->FindChild(part);
        if (!pChild)
            return false;
        chain.push_back(pChild);
    }
    // Remove the element, then each ancestor that no longer holds anything.
    for (size_t i = chain.size() - 1; i > 0; --i) {
        chain[i - 1]->RemoveChild(chain[i]);
        if (!chain[i - 1]->children.empty())
            break;
    }
    return true;
}

bool CSelection::Rename(const CString& strOldPath, const CString& strNewPath)
{
    CSelectionNode* pNode = Find(strOldPath);
    std::vector<CString> parts = SplitPath(strNewPath);
    if (!pNode || parts.size() < 2)
        return false;
    pNode->strName = parts.back();
    return true;
}

void CSelection::Graft(const CString& strPath, const CSelectionNode& from)
{
    std::vector<CString> parts = SplitPath(strPath);
    if (parts.empty())
        return;
    CSelectionNode* pNode = &m_root;
    for (size_t i = 0; i < parts.size(); ++i) {
        CSelectionNode* pChild = pNode->FindChild(parts[i]);
        if (!pChild)
            pChild = pNode->AddChild(parts[i]);
        else if (pChild->children.empty() && i + 1 < parts.size())
            return;
        pNode = pChild;
    }
    pNode->CopyChildrenFrom(from);
}

std::vector<CString> CSelection::CheckedPaths() const
{
    std::vector<CString> out;
    CollectChecked(m_root, CString(), out);
    return out;
}

bool CSelection::FromNestedDocument(CXmlDocument& doc)
{
    Clear();
    doc.ResetPosition();
    if (!doc.FindElement(kRootName))
        return false;
    ReadChildren(doc, m_root);
    doc.ResetPosition();
    return true;
}

void CSelection::ToNestedDocument(CXmlDocument& doc) const
{
    doc.SetDocText(nullptr);
    doc.AddElement(kRootName);
    doc.EnterElement();
    WriteChildren(doc, m_root);
    doc.LeaveElement();
    doc.ResetPosition();
}

void BuildPathListDocument(CXmlDocument& doc, const std::vector<CString>& entries)
{
    doc.SetDocText(nullptr);
    doc.AddElement(kRootName);
    doc.EnterElement();
    for (const CString& s : entries) {
        doc.AddElement(kElemName);
        doc.SetAttributeAt(doc.GetCurrentPos(), kAttrName, s);
    }
    doc.LeaveElement();
    doc.ResetPosition();
}

bool ReadPathListDocument(CXmlDocument& doc, std::vector<CString>& entries)
{
    entries.clear();
    doc.ResetPosition();
    if (!doc.FindElement(kRootName))
        return false;
    while (doc.FindChildElement(kElemName)) {
        CString s = doc.GetChildAttribute(kAttrName);
        if (!s.IsEmpty())
            entries.push_back(s);
    }
    doc.ResetPosition();
    return true;
}

// --- CSelectionFiles ------------------------------------------------------------------------

CSelectionFiles::CSelectionFiles(const CString& strDataFolder) : m_strFolder(strDataFolder) {}

CString CSelectionFiles::NestedPath() const { return JoinPath(m_strFolder, kTreePathFile); }
CString CSelectionFiles::FlatPath() const { return JoinPath(m_strFolder, kFullPathFile); }

bool CSelectionFiles::Read(CSelection& sel, bool* pbUnloadable) const
{
    sel.Clear();
    if (pbUnloadable)
        *pbUnloadable = false;
    const CString strFile = NestedPath();
    if (::GetFileAttributesW(strFile) == INVALID_FILE_ATTRIBUTES)
        return true;
    CXmlDocument doc;
    if (doc.LoadFile(strFile) && sel.FromNestedDocument(doc))
        return true;
    sel.Clear();
    if (pbUnloadable)
        *pbUnloadable = true;
    return true;
}

bool CSelectionFiles::Write(const CSelection& sel, DWORD* pdwError) const
{
    if (pdwError)
        *pdwError = 0;
    const CString strNested = NestedPath();
    const CString strFlat = FlatPath();

    // Entries already listed keep their place; new ones follow in document order.
    std::vector<CString> checked = sel.CheckedPaths();
    std::vector<CString> entries;
    {
        CXmlDocument old;
        std::vector<CString> oldEntries;
        if (old.LoadFile(strFlat))
            ReadPathListDocument(old, oldEntries);
        std::unordered_set<std::wstring> wanted, placed;
        for (const CString& s : checked)
            wanted.insert(UpperKey(s).str());
        for (const CString& s : oldEntries) {
            std::wstring key = UpperKey(s).str();
            if (wanted.count(key) && !placed.count(key)) {
                entries.push_back(s);
                placed.insert(key);
            }
        }
        for (const CString& s : checked)
            if (placed.insert(UpperKey(s).str()).second)
                entries.push_back(s);
    }

    // A file that exists but does not load is kept before it is replaced; one that cannot be
    // set aside is not overwritten.
    if (!KeepUnloadableFile(strNested) || !KeepUnloadableFile(strFlat)) {
        if (pdwError)
            *pdwError = LastErrorOr(ERROR_ACCESS_DENIED);
        return false;
    }

    CXmlDocument previous;
    const bool bHadNested = previous.LoadFile(strNested);
    CXmlDocument nested, flat;
    sel.ToNestedDocument(nested);
    BuildPathListDocument(flat, entries);
    ::SetLastError(0);
    if (!nested.SaveFile(strNested)) {
        if (pdwError)
            *pdwError = LastErrorOr(ERROR_WRITE_FAULT);
        return false;
    }
    ::SetLastError(0);
    if (!flat.SaveFile(strFlat)) {
        if (pdwError)
            *pdwError = LastErrorOr(ERROR_WRITE_FAULT);
        // The nested file must not claim a selection the flat one does not hold: put the
        // previous one back (or remove the new one when there was none).
        if (bHadNested)
            previous.SaveFile(strNested);
        else
            ::DeleteFileW(strNested);
        return false;
    }
    if (sel.IsEmpty()) {
        // Nothing is selected: the files go. Were a delete to fail, the empty files written
        // above still say the same.
        ::DeleteFileW(strNested);
        ::DeleteFileW(strFlat);
    }
    return true;
}

bool WritePathListFile(const CString& strFile, const std::vector<CString>& entries, DWORD* pdwError)
{
    if (pdwError)
        *pdwError = 0;
    CXmlDocument doc;
    BuildPathListDocument(doc, entries);
    ::SetLastError(0);
    if (!doc.SaveFile(strFile)) {
        if (pdwError)
            *pdwError = LastErrorOr(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}
