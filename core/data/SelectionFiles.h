#pragma once
// The user's backup selection and its files, without any window.
//
// "filepath.xml" holds the selection as nested "path" elements under the root "filepath": a
// top-level element per drive ("C:\"), below it one element per item named by the item's file
// name and a backslash ("Docs\", "notes.txt\"). An element without children is a checked item
// (its whole subtree is selected); an element with children is a mixed item. Unselected items
// have no element.
//
// "backupfullpath.xml" (and the restore list "restoreTempPath.xml") hold the same selection as a
// flat list of full paths under "filepath": the checked items only, without a trailing
// backslash except for a drive root ("C:\"). The flat file is always written from the nested
// one, so the two never disagree: no listed path lies at or below another.
//
// Both files are replaced whole through the document's atomic save; the nested one is written
// first.

#include "afx.h"

#include <memory>
#include <vector>

class CXmlDocument;

// One "path" element: a name with its trailing backslash and the elements inside it.
struct CSelectionNode {
    CString strName;
    std::vector<std::unique_ptr<CSelectionNode>> children;

    CSelectionNode* FindChild(const CString& strName) const;
    CSelectionNode* AddChild(const CString& strName);
    void RemoveChild(const CSelectionNode* pChild);
    void CopyChildrenFrom(const CSelectionNode& from);
};

class CSelection {
public:
    // Check image an item takes from the selection (same numbers as the trees' check images).
    enum { NOT_SELECTED = 1, MIXED = 2, CHECKED = 3 };

    // The components of a full path, each ending in a backslash: "C:\A\b.txt" and "C:\A\b.txt\"
    // both give "C:\", "A\", "b.txt\". Empty for a path without a drive letter and colon.
    static std::vector<CString> SplitPath(const CString& strPath);
    // The flat form of a path: no trailing backslash, except a drive root keeps it ("C:\").
    static CString FlatForm(const CString& strPath);
    // True when strEntry equals strPath or lies below it (letter case ignored).
    static bool IsAtOrBelow(const CString& strEntry, const CString& strPath);

    bool IsEmpty() const { return m_root.children.empty(); }
    void Clear() { m_root.children.clear(); }
    CSelectionNode& Root() { return m_root; }
    const CSelectionNode& Root() const { return m_root; }

    // The element of a path, or null.
    CSelectionNode* Find(const CString& strPath) const;
    // NOT_SELECTED, MIXED (the path's element has children) or CHECKED (the path's element or an
    // element above it is childless).
    int StateOf(const CString& strPath) const;

    // Selects a path whole: its element becomes childless, created with its chain when missing.
    // Nothing changes when an element above it is already checked.
    void Check(const CString& strPath);
    // Removes a path's element with everything inside it, then every element above it that is
    // left without children (an emptied element would otherwise read as checked). Nothing
    // changes for a path that has no element of its own (one below a checked element). True
    // when something was removed.
    bool Remove(const CString& strPath);
    // Gives a path's element a new last component (a rename within the same folder). True when
    // the element existed.
    bool Rename(const CString& strOldPath, const CString& strNewPath);
    // Puts a copy of another selection's element (with everything inside it) at a path,
    // replacing what was there. Nothing changes when an element above the path is checked.
    void Graft(const CString& strPath, const CSelectionNode& from);

    // The checked paths in flat form, in document order.
    std::vector<CString> CheckedPaths() const;

    // Reads a nested document; false when it has no root "filepath" (the selection is then
    // empty). Elements other than "path" and "path" elements without a name are ignored.
    bool FromNestedDocument(CXmlDocument& doc);
    // Builds the nested document.
    void ToNestedDocument(CXmlDocument& doc) const;

private:
    CSelectionNode m_root;
};

// Builds a flat list document "filepath" with one "path" element per entry, in order.
void BuildPathListDocument(CXmlDocument& doc, const std::vector<CString>& entries);
// The entries of a flat list document, in order; false when it has no root "filepath".
bool ReadPathListDocument(CXmlDocument& doc, std::vector<CString>& entries);

// The user's selection files in a data folder.
class CSelectionFiles {
public:
    explicit CSelectionFiles(const CString& strDataFolder);

    CString NestedPath() const;   // <folder>\filepath.xml
    CString FlatPath() const;     // <folder>\backupfullpath.xml

    // Reads "filepath.xml". A missing file, or one that does not load (*pbUnloadable, optional,
    // tells so), is an empty selection; the file itself is left as it is until the next write.
    bool Read(CSelection& sel, bool* pbUnloadable = nullptr) const;

    // Writes the selection: "filepath.xml" first, then "backupfullpath.xml" (entries that were
    // already listed keep their order, new ones follow in document order). A file there that
    // does not load is kept as "<name>.bad" first; one that cannot be set aside is not replaced. An empty selection
    // is written as empty files which are then deleted. False, with the system's error in
    // *pdwError (optional), when a file could not be written; the files then hold the previous
    // selection or the new nested one with the previous flat one.
    bool Write(const CSelection& sel, DWORD* pdwError = nullptr) const;

private:
    CString m_strFolder;
};

// Writes a flat list file (the restore list) in one move. False with *pdwError on failure.
bool WritePathListFile(const CString& strFile, const std::vector<CString>& entries,
                       DWORD* pdwError = nullptr);
