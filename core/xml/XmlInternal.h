#pragma once
// Private parts of the XML document class shared by its source files (and the fuzzer):
// the position records, their segmented store, the tokeniser and the byte/text coders.

#include "XmlDocument.h"

#include <string>

// Record flags. The nesting level and the tag lengths are kept in fields of their own, so
// nothing overflows on large or deep documents.
enum : int {
    XREC_FREE = 0x20000,
    XREC_FIRST_CHILD = 0x80000,
    XREC_UNENDED = 0x100000,
    XREC_CONTENT_FAULT = 0x200000,
    XREC_DOC_NOT_WELL_FORMED = 0x800000,
};

struct CXmlPosRecord {
    int nStart;          // offset of the element's "<"
    int nLength;         // units up to the end of the end tag (or of the start tag without one)
    int nStartTagLen;
    int nEndTagLen;      // 0 when there is no end tag
    int nFlags;
    int posParent;
    int posFirstChild;
    int posNext;
    int posPrev;         // on a first child: the last child
};

// Records live in segments of 65536 so that growing never moves the ones already made;
// position = (segment << 16) | index.
class CXmlPosTree {
public:
    enum { SEG_BITS = 16, SEG_SIZE = 1 << SEG_BITS };
    CXmlPosTree() = default;
    ~CXmlPosTree();
    CXmlPosTree(const CXmlPosTree&) = delete;
    CXmlPosTree& operator=(const CXmlPosTree&) = delete;

    void Reset(int nCapacity);              // throws std::bad_alloc when out of memory
    void Grow();                            // capacity + capacity / 2
    int Capacity() const { return m_nCapacity; }
    void Ensure(int pos);                   // makes record pos addressable (pos < capacity)
    CXmlPosRecord& operator[](int pos) { return m_ppSeg[pos >> SEG_BITS][pos & (SEG_SIZE - 1)]; }
    const CXmlPosRecord& operator[](int pos) const { return m_ppSeg[pos >> SEG_BITS][pos & (SEG_SIZE - 1)]; }

private:
    void SetCapacity(int nCapacity);
    void FreeAll();
    CXmlPosRecord** m_ppSeg = nullptr;
    int m_nSegArray = 0;     // size of the segment-pointer array
    int m_nSegs = 0;         // segments allocated
    int m_nLastSegSize = 0;  // records in the last segment
    int m_nCapacity = 0;
};

// Node kinds of the tokeniser.
enum : int {
    XNODE_END_TAG = 0,
    XNODE_ELEMENT = 1,
    XNODE_TEXT = 2,
    XNODE_WHITESPACE = 4,
    XNODE_CDATA = 8,
    XNODE_PI = 16,
    XNODE_COMMENT = 32,
    XNODE_DOCTYPE = 64,
    XNODE_FAULT = -1,
    XNODE_END = -2,
};

struct CXmlNode {
    int nKind = XNODE_END;
    int nStart = 0;
    int nLength = 0;
    int nNameLen = 0;            // start and end tags: length of the tag name
    bool bEmpty = false;         // start tag written as an empty element
    const wchar_t* pszFault = nullptr;   // fault: log entry name
    const wchar_t* pszType = nullptr;    // unterminated markup: its type
    int nFaultOffset = 0;
};

inline bool XmlIsSpace(wchar_t c) { return c == 9 || c == 10 || c == 13 || c == 32; }

// Reads the node at nOffset of p[0..nEnd).
void XmlNextNode(const wchar_t* p, int nEnd, int nOffset, CXmlNode& node);

// Decimal text of a number.
CString XmlIntText(long long n);

// Builds one result-log entry (an empty element with attributes given as name/value pairs
// ending with a null) and appends it while the log is at most 999 characters long.
void XmlAddLogEntry(CString& strLog, const wchar_t* pszEntry, const wchar_t* const* ppszAttrs);

// Converts a whole file's bytes to UTF-16 as loading does; the file part of ReadTextFile.
// The bytes are consumed (compacted in place, then released).
bool XmlDecodeFileBytes(std::string& bytes, CString& strText, CString& strLog, int& nFlags);
// Converts text to the bytes a save writes (mark included): in the encoding the mark or the
// declaration names when loading those bytes gives back the same text, else as UTF-8 with the
// declaration naming UTF-8. False (and no bytes) when neither reads back the same.
bool XmlEncodeFileBytes(const CString& strText, std::string& bytes, CString& strLog, int nFlags);

// The encoding a text declares in a leading XML declaration or an HTML meta element; empty if none.
// pnAt/pnLen (optional) receive where the name stands in p (-1 when it cannot be told).
CString XmlDeclaredEncoding(const wchar_t* p, int n, int* pnAt = nullptr, int* pnLen = nullptr);
