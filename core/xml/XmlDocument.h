#pragma once
// CXmlDocument: the program's one XML class. The whole document is kept as a single UTF-16
// text; beside it a tree of position records indexes the elements of that text. Navigation
// moves three positions (parent, current element, current child), reading takes names,
// attribute values and element text straight out of the text, and editing splices the text
// and patches the records. Every settings file, selection file and language table goes
// through this class.

#include "XmlPort.h"

#include <cstdint>

struct CXmlPosRecord;   // one element of the position tree (private to the class)
class CXmlPosTree;      // the segmented record store (private to the class)

class CXmlDocument {
public:
    // Byte-order-mark facts of the file last read, carried into the next save.
    enum {
        FLAG_BOM_UTF8 = 0x4,
        FLAG_BOM_UTF16LE = 0x1,
        FLAG_BOM_UTF16BE = 0x80,
    };
    // AddElement flags.
    enum {
        ADD_CDATA = 0x1,          // value written as a CDATA section
        ADD_NO_LINEBREAK = 0x2,   // no "\r\n" written, no whitespace skipped
        ADD_SPACED_EMPTY = 0x4,   // empty form " />" instead of "/>"
        ADD_KEEP_REFS = 0x8,      // references already in the value are kept
        ADD_NO_END_TAG = 0x10,    // start tag only
        ADD_BEFORE = 0x2000,      // before the reference element instead of after it
        ADD_AS_CHILD = 0x4000,    // under the current element (reference: the child)
    };
    // EscapeText flag for attribute values (quotes are escaped too).
    enum { ESCAPE_ATTRIBUTE = 0x100 };

    CXmlDocument();
    explicit CXmlDocument(const wchar_t* pszText);
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Whole document
    bool SetDocText(const wchar_t* pszText);
    bool LoadFile(const wchar_t* pszPath);
    bool SaveFile(const wchar_t* pszPath);
    bool ParseDocument();
    bool IsWellFormed() const;
    const CString& GetDocText() const { return m_strDocText; }
    const CString& GetResultLog() const { return m_strResultLog; }
    int GetDocFlags() const { return m_nFlags; }

    static bool ReadTextFile(const wchar_t* pszPath, CString& strText, CString& strLog, int& nFlags);
    static bool WriteTextFile(const wchar_t* pszPath, const CString& strText, CString& strLog, int& nFlags);

    // Navigation
    void ResetPosition();
    bool FindElement(const wchar_t* pszName = nullptr);
    bool FindChildElement(const wchar_t* pszName = nullptr);
    bool EnterElement();
    bool LeaveElement();
    int GetParentPos() const { return m_posParent; }
    int GetCurrentPos() const { return m_posCurrent; }
    int GetChildPos() const { return m_posChild; }

    // Reading
    CString GetTagNameAt(int pos) const;
    CString GetAttributeAt(int pos, const wchar_t* pszName) const;
    CString GetChildAttribute(const wchar_t* pszName) const { return GetAttributeAt(m_posChild, pszName); }
    CString GetDataAt(int pos) const;
    CString GetChildData() const { return GetDataAt(m_posChild); }

    // Editing
    bool AddElement(const wchar_t* pszName, const wchar_t* pszValue = nullptr, int nFlags = 0);
    bool AddChildElement(const wchar_t* pszName, const wchar_t* pszValue = nullptr)
    {
        return AddElement(pszName, pszValue, ADD_AS_CHILD);
    }
    int RemoveElementAt(int pos);
    bool RemoveChildElement();
    bool SetAttributeAt(int pos, const wchar_t* pszName, const wchar_t* pszValue, int nFlags = 0);
    bool SetChildAttribute(const wchar_t* pszName, const wchar_t* pszValue)
    {
        return SetAttributeAt(m_posChild, pszName, pszValue, 0);
    }
    bool SetAttributeInt(const wchar_t* pszName, int n);
    bool SetDataAt(int pos, const wchar_t* pszText);
    bool SetChildData(const wchar_t* pszText) { return SetDataAt(m_posChild, pszText); }

    // Text helpers
    static CString EscapeText(const wchar_t* pszText, int nFlags);
    static CString UnescapeText(const wchar_t* pszText, int nLength = -1);

private:
    CXmlPosRecord* Rec(int pos) const;        // null for 0, out of range or freed
    int NewRecord();                          // next free index, growing the tree
    void AdjustOffsets(int pos, int nOffset, int nDelta, bool bInStartTag = false);
    void ShiftSubtree(int pos, int nDelta);
    void FreeSubtree(int pos);
    void LinkAfter(int posNew, int posParent, int posRef, bool bBefore);
    void Unlink(int pos);
    int LastChild(int posParent) const;
    int FirstChild(int posParent) const;
    bool NameMatches(int pos, const wchar_t* pszName) const;
    void Log(const wchar_t* pszEntry, const wchar_t* const* ppszAttrs = nullptr);
    void ClearTree();
    bool FindAttribute(int pos, const wchar_t* pszName, int& nValueStart, int& nValueLen, bool& bQuoted) const;
    friend class CXmlParser;
    friend class CXmlDocumentInspector;   // consistency checks of the tests and the fuzzer

    CString m_strDocText;
    CString m_strResultLog;
    int m_posParent = 0;
    int m_posCurrent = 0;
    int m_posChild = 0;
    int m_posNextFree = 1;
    int m_posFreeList = 0;
    int m_nNodeKind = 0;
    int m_nFlags = 0;
    CXmlPosTree* m_pPosTree = nullptr;
};
