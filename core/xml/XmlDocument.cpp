// CXmlDocument: construction, navigation, reading and editing on the one text and its
// position records.

#include "XmlInternal.h"

#include <cstring>
#include <new>
#include <utility>

CXmlDocument::CXmlDocument() {}

CXmlDocument::CXmlDocument(const wchar_t* pszText)
{
    SetDocText(pszText);
}

CXmlDocument::~CXmlDocument()
{
    delete m_pPosTree;
}

void CXmlDocument::ClearTree()
{
    delete m_pPosTree;
    m_pPosTree = nullptr;
    m_posParent = m_posCurrent = m_posChild = 0;
    m_posNextFree = 1;
    m_posFreeList = 0;
    m_nNodeKind = 0;
}

void CXmlDocument::Log(const wchar_t* pszEntry, const wchar_t* const* ppszAttrs)
{
    XmlAddLogEntry(m_strResultLog, pszEntry, ppszAttrs);
}

CXmlPosRecord* CXmlDocument::Rec(int pos) const
{
    if (pos <= 0 || pos >= m_posNextFree || !m_pPosTree)
        return nullptr;
    CXmlPosRecord* r = &(*m_pPosTree)[pos];
    return (r->nFlags & XREC_FREE) ? nullptr : r;
}

int CXmlDocument::NewRecord()
{
    if (m_posNextFree >= m_pPosTree->Capacity())
        m_pPosTree->Grow();
    m_pPosTree->Ensure(m_posNextFree);
    int pos = m_posNextFree++;
    memset(&(*m_pPosTree)[pos], 0, sizeof(CXmlPosRecord));
    return pos;
}

bool CXmlDocument::SetDocText(const wchar_t* pszText)
{
    m_strResultLog.Empty();
    if (!pszText) {
        m_strDocText.Empty();
        ClearTree();
        return false;
    }
    try {
        m_strDocText = pszText;
    } catch (const std::bad_alloc&) {
        m_strDocText.Empty();
        ClearTree();
        return false;
    }
    return ParseDocument();
}

bool CXmlDocument::LoadFile(const wchar_t* pszPath)
{
    m_strResultLog.Empty();
    CString strText;
    bool bRead = false;
    try {
        bRead = ReadTextFile(pszPath, strText, m_strResultLog, m_nFlags);
    } catch (const std::bad_alloc&) {
        strText.Empty();
        const wchar_t* attrs[] = {L"msg", L"out of memory", L"n", L"8", nullptr};
        Log(L"file_error", attrs);
    }
    if (!bRead) {
        m_strDocText.Empty();
        ClearTree();
        return false;
    }
    m_strDocText = std::move(strText);
    return ParseDocument();
}

bool CXmlDocument::SaveFile(const wchar_t* pszPath)
{
    return WriteTextFile(pszPath, m_strDocText, m_strResultLog, m_nFlags);
}

bool CXmlDocument::IsWellFormed() const
{
    if (!m_pPosTree)
        return false;
    const CXmlPosRecord& doc = (*m_pPosTree)[0];
    if (doc.nFlags & XREC_DOC_NOT_WELL_FORMED)
        return false;
    const CXmlPosRecord* root = Rec(doc.posFirstChild);
    return root && root->posNext == 0;
}

// ---------------------------------------------------------------------------------------------
// Navigation

int CXmlDocument::FirstChild(int posParent) const
{
    if (!m_pPosTree)
        return 0;
    if (posParent == 0)
        return (*m_pPosTree)[0].posFirstChild;
    const CXmlPosRecord* r = Rec(posParent);
    return r ? r->posFirstChild : 0;
}

int CXmlDocument::LastChild(int posParent) const
{
    int posFirst = FirstChild(posParent);
    return posFirst ? (*m_pPosTree)[posFirst].posPrev : 0;
}

// The tag name runs from after "<" to the first whitespace, "/" or ">". The argument's name
// part ends at its end or at " ", "/", "=", "[" or "]"; the two must be equal as a whole.
bool CXmlDocument::NameMatches(int pos, const wchar_t* pszName) const
{
    if (!pszName)
        return true;
    if (pszName[0] == L'/')
        return false;
    const CXmlPosRecord* r = Rec(pos);
    if (!r)
        return false;
    int nArg = 0;
    while (pszName[nArg] && pszName[nArg] != L' ' && pszName[nArg] != L'/' && pszName[nArg] != L'=' &&
           pszName[nArg] != L'[' && pszName[nArg] != L']')
        ++nArg;
    const wchar_t* p = m_strDocText.GetString() + r->nStart + 1;
    int nMax = r->nStartTagLen - 1;
    int n = 0;
    while (n < nMax && !XmlIsSpace(p[n]) && p[n] != L'/' && p[n] != L'>')
        ++n;
    return n == nArg && memcmp(p, pszName, sizeof(wchar_t) * n) == 0;
}

void CXmlDocument::ResetPosition()
{
    m_posParent = m_posCurrent = m_posChild = 0;
    m_nNodeKind = 0;
}

bool CXmlDocument::FindElement(const wchar_t* pszName)
{
    if (!m_pPosTree || (*m_pPosTree)[0].posFirstChild == 0)
        return false;
    int pos;
    if (Rec(m_posCurrent))
        pos = (*m_pPosTree)[m_posCurrent].posNext;
    else
        pos = FirstChild(m_posParent);
    for (; pos; pos = (*m_pPosTree)[pos].posNext) {
        if (NameMatches(pos, pszName)) {
            m_posCurrent = pos;
            m_posParent = (*m_pPosTree)[pos].posParent;
            m_posChild = 0;
            m_nNodeKind = 1;
            return true;
        }
    }
    return false;
}

bool CXmlDocument::FindChildElement(const wchar_t* pszName)
{
    if (!Rec(m_posCurrent) && !FindElement(nullptr))
        return false;
    int pos;
    if (Rec(m_posChild) && (*m_pPosTree)[m_posChild].posParent == m_posCurrent)
        pos = (*m_pPosTree)[m_posChild].posNext;
    else
        pos = FirstChild(m_posCurrent);
    for (; pos; pos = (*m_pPosTree)[pos].posNext) {
        if (NameMatches(pos, pszName)) {
            m_posChild = pos;
            return true;
        }
    }
    return false;
}

bool CXmlDocument::EnterElement()
{
    if (!Rec(m_posCurrent))
        return false;
    m_posParent = m_posCurrent;
    m_posCurrent = Rec(m_posChild) ? m_posChild : 0;
    m_nNodeKind = m_posCurrent ? 1 : 0;
    m_posChild = 0;
    return true;
}

bool CXmlDocument::LeaveElement()
{
    const CXmlPosRecord* r = Rec(m_posParent);
    if (!r)
        return false;
    m_posChild = Rec(m_posCurrent) ? m_posCurrent : 0;
    m_posCurrent = m_posParent;
    m_posParent = r->posParent;
    m_nNodeKind = 1;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reading

CString CXmlDocument::GetTagNameAt(int pos) const
{
    const CXmlPosRecord* r = Rec(pos);
    if (!r)
        return CString();
    const wchar_t* p = m_strDocText.GetString() + r->nStart + 1;
    int nMax = r->nStartTagLen - 1;
    int n = 0;
    while (n < nMax && !XmlIsSpace(p[n]) && p[n] != L'/' && p[n] != L'>')
        ++n;
    return CString(p, n);
}

// Reads the start tag as words: quoted strings, "=", and runs of other characters; an
// attribute is a name word, "=" and a value word. Gives the value's span (with its quotes).
bool CXmlDocument::FindAttribute(int pos, const wchar_t* pszName, int& nValueStart, int& nValueLen,
                                 bool& bQuoted) const
{
    const CXmlPosRecord* r = Rec(pos);
    if (!r || !pszName || !*pszName)
        return false;
    const wchar_t* p = m_strDocText.GetString();
    int nEnd = r->nStart + r->nStartTagLen;
    int nArg = static_cast<int>(wcslen(pszName));
    int i = r->nStart + 1;
    while (i < nEnd && !XmlIsSpace(p[i]) && p[i] != L'/' && p[i] != L'>')
        ++i;
    int nWordStart = -1, nWordLen = 0;   // the last plain word: an attribute name candidate
    bool bExpectValue = false;
    while (i < nEnd) {
        wchar_t c = p[i];
        if (XmlIsSpace(c)) {
            ++i;
            continue;
        }
        if (bExpectValue) {
            int nStart = i;
            bool bQ = false;
            if (c == L'"' || c == L'\'') {
                int j = i + 1;
                while (j < nEnd && p[j] != c)
                    ++j;
                if (j >= nEnd)
                    return false;
                i = j + 1;
                bQ = true;
            } else {
                while (i < nEnd && !XmlIsSpace(p[i]) && p[i] != L'>')
                    ++i;
            }
            if (nWordLen == nArg && memcmp(p + nWordStart, pszName, sizeof(wchar_t) * nArg) == 0) {
                nValueStart = nStart;
                nValueLen = i - nStart;
                bQuoted = bQ;
                return true;
            }
            bExpectValue = false;
            nWordStart = -1;
            nWordLen = 0;
            continue;
        }
        if (c == L'/' || c == L'>' || c == L'?')
            return false;
        if (c == L'=') {
            bExpectValue = nWordStart >= 0;
            ++i;
            continue;
        }
        if (c == L'"' || c == L'\'') {
            int j = i + 1;
            while (j < nEnd && p[j] != c)
                ++j;
            i = j + 1;
            nWordStart = -1;
            nWordLen = 0;
            continue;
        }
        nWordStart = i;
        while (i < nEnd && !XmlIsSpace(p[i]) && p[i] != L'/' && p[i] != L'=' && p[i] != L'>' && p[i] != L'?')
            ++i;
        nWordLen = i - nWordStart;
    }
    return false;
}

CString CXmlDocument::GetAttributeAt(int pos, const wchar_t* pszName) const
{
    if (!Rec(m_posCurrent))
        return CString();
    int nStart = 0, nLen = 0;
    bool bQuoted = false;
    if (!FindAttribute(pos, pszName, nStart, nLen, bQuoted))
        return CString();
    const wchar_t* p = m_strDocText.GetString() + nStart;
    if (bQuoted)
        return UnescapeText(p + 1, nLen - 2);
    return UnescapeText(p, nLen);
}

CString CXmlDocument::GetDataAt(int pos) const
{
    const CXmlPosRecord* r = Rec(pos);
    if (!r || r->posFirstChild || r->nEndTagLen == 0)
        return CString();
    const wchar_t* p = m_strDocText.GetString();
    int nFrom = r->nStart + r->nStartTagLen;
    int nTo = r->nStart + r->nLength - r->nEndTagLen;
    bool bMarkup = false;
    for (int i = nFrom; i < nTo; ++i) {
        if (p[i] == L'<') {
            bMarkup = true;
            break;
        }
    }
    if (!bMarkup)
        return UnescapeText(p + nFrom, nTo - nFrom);
    CString strOut;
    CXmlNode node;
    for (int i = nFrom; i < nTo; i = node.nStart + node.nLength) {
        XmlNextNode(p, nTo, i, node);
        if (node.nKind == XNODE_END)
            break;
        if (node.nKind == XNODE_TEXT || node.nKind == XNODE_WHITESPACE)
            strOut += UnescapeText(p + node.nStart, node.nLength);
        else if (node.nKind == XNODE_CDATA) {
            // "<![CDATA[" is 9 units; a section opened with only "<![C" has its content from there.
            int nOpen = (node.nLength >= 12 && memcmp(p + node.nStart, L"<![CDATA[", 9 * sizeof(wchar_t)) == 0) ? 9 : 4;
            strOut += CString(p + node.nStart + nOpen, node.nLength - nOpen - 3);
        }
    }
    return strOut;
}

// ---------------------------------------------------------------------------------------------
// Record maintenance

void CXmlDocument::ShiftSubtree(int posRoot, int nDelta)
{
    CXmlPosTree& t = *m_pPosTree;
    int pos = posRoot;
    for (;;) {
        t[pos].nStart += nDelta;
        if (t[pos].posFirstChild) {
            pos = t[pos].posFirstChild;
            continue;
        }
        while (pos != posRoot && t[pos].posNext == 0)
            pos = t[pos].posParent;
        if (pos == posRoot)
            return;
        pos = t[pos].posNext;
    }
}

// After a splice of nDelta units at nOffset inside element pos (0: the document): every
// element that starts at or after the splice moves, and pos with all that enclose it change
// length. Only the elements that really follow the splice are visited, so appending at the
// end of a large document costs no more than its depth.
void CXmlDocument::AdjustOffsets(int pos, int nOffset, int nDelta, bool bInStartTag)
{
    CXmlPosTree& t = *m_pPosTree;
    int posFirst = FirstChild(pos);
    if (posFirst) {
        int c = t[posFirst].posPrev;
        for (;;) {
            if (t[c].nStart < nOffset)
                break;
            ShiftSubtree(c, nDelta);
            if (c == posFirst)
                break;
            c = t[c].posPrev;
        }
    }
    if (bInStartTag && pos)
        t[pos].nStartTagLen += nDelta;
    for (int node = pos; node; node = t[node].posParent) {
        t[node].nLength += nDelta;
        for (int s = t[node].posNext; s; s = t[s].posNext)
            ShiftSubtree(s, nDelta);
    }
    t[0].nLength += nDelta;
}

void CXmlDocument::LinkAfter(int posNew, int posParent, int posRef, bool bBefore)
{
    CXmlPosTree& t = *m_pPosTree;
    CXmlPosRecord& r = t[posNew];
    r.posParent = posParent;
    r.posNext = 0;
    r.posFirstChild = 0;
    int posFirst = FirstChild(posParent);
    CXmlPosRecord& par = t[posParent];
    if (!posFirst) {
        par.posFirstChild = posNew;
        r.posPrev = posNew;
        r.nFlags |= XREC_FIRST_CHILD;
        return;
    }
    if (!posRef)
        posRef = bBefore ? posFirst : t[posFirst].posPrev;
    if (bBefore) {
        if (posRef == posFirst) {
            r.posPrev = t[posFirst].posPrev;
            r.posNext = posFirst;
            t[posFirst].posPrev = posNew;
            t[posFirst].nFlags &= ~XREC_FIRST_CHILD;
            r.nFlags |= XREC_FIRST_CHILD;
            par.posFirstChild = posNew;
        } else {
            int posPrev = t[posRef].posPrev;
            t[posPrev].posNext = posNew;
            r.posPrev = posPrev;
            r.posNext = posRef;
            t[posRef].posPrev = posNew;
        }
        return;
    }
    int posNext = t[posRef].posNext;
    t[posRef].posNext = posNew;
    r.posPrev = posRef;
    r.posNext = posNext;
    if (posNext)
        t[posNext].posPrev = posNew;
    else
        t[posFirst].posPrev = posNew;
}

void CXmlDocument::Unlink(int pos)
{
    CXmlPosTree& t = *m_pPosTree;
    CXmlPosRecord& r = t[pos];
    int posParent = r.posParent;
    int posFirst = FirstChild(posParent);
    CXmlPosRecord& par = t[posParent];
    if (pos == posFirst) {
        int posNext = r.posNext;
        par.posFirstChild = posNext;
        if (posNext) {
            t[posNext].posPrev = r.posPrev;   // the last child
            t[posNext].nFlags |= XREC_FIRST_CHILD;
        }
    } else {
        int posPrev = r.posPrev;
        t[posPrev].posNext = r.posNext;
        if (r.posNext)
            t[r.posNext].posPrev = posPrev;
        else
            t[posFirst].posPrev = posPrev;
    }
    r.posNext = r.posPrev = 0;
    r.nFlags &= ~XREC_FIRST_CHILD;
}

// Flags the record and all its descendants free and chains them onto the free list (through
// their previous links). The walk reads each record's links before reusing them.
void CXmlDocument::FreeSubtree(int posRoot)
{
    CXmlPosTree& t = *m_pPosTree;
    int pos = posRoot;
    for (;;) {
        int posNextVisit = t[pos].posFirstChild;
        if (!posNextVisit) {
            int q = pos;
            while (q != posRoot && t[q].posNext == 0)
                q = t[q].posParent;
            posNextVisit = (q == posRoot) ? 0 : t[q].posNext;
        }
        t[pos].nFlags |= XREC_FREE;
        t[pos].posFirstChild = 0;
        t[pos].posPrev = m_posFreeList;
        m_posFreeList = pos;
        if (!posNextVisit)
            break;
        pos = posNextVisit;
    }
}

// ---------------------------------------------------------------------------------------------
// Editing

namespace {

bool IsValidName(const wchar_t* p)
{
    if (!p || !*p)
        return false;
    wchar_t c = p[0];
    if (!(c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || c >= 97))
        return false;
    for (; *p; ++p) {
        c = *p;
        if (XmlIsSpace(c) || c == L'<' || c == L'>' || c == L'/' || c == L'&' || c == L'"' || c == L'\'' ||
            c == L'=' || c == L'?' || c == L'!')
            return false;
    }
    return true;
}

// A CDATA section holding the value; a "]]>" inside is split across two sections, since
// no escape exists within one.
CString CDataSection(const wchar_t* pszValue)
{
    CString strValue(pszValue);
    std::wstring v = strValue.str(), out = L"<![CDATA[";
    for (size_t i = 0; i < v.size(); ++i) {
        if (v.compare(i, 3, L"]]>") == 0) {
            out += L"]]]]><![CDATA[>";
            i += 2;
        } else {
            out += v[i];
        }
    }
    out += L"]]>";
    return CString(out);
}

// A new element's text and the lengths its position record takes.
struct CNewElement {
    CString strText;       // the element, then "\r\n" unless line breaks are off
    int nElemLen = 0;      // the element alone
    int nStartTagLen = 0;
    int nEndTagLen = 0;
    int nRecFlags = 0;
};

CNewElement NewElementText(const wchar_t* pszName, const wchar_t* pszValue, int nFlags)
{
    const int nName = static_cast<int>(wcslen(pszName));
    CNewElement e;
    e.strText = L"<";
    e.strText += pszName;
    if (nFlags & CXmlDocument::ADD_NO_END_TAG) {
        e.strText += L">";
        e.nStartTagLen = nName + 2;
        e.nRecFlags = XREC_UNENDED;
    } else if (pszValue && *pszValue) {
        e.strText += L">";
        if (nFlags & CXmlDocument::ADD_CDATA)
            e.strText += CDataSection(pszValue);
        else
            e.strText += CXmlDocument::EscapeText(pszValue, nFlags & CXmlDocument::ADD_KEEP_REFS);
        e.strText += L"</";
        e.strText += pszName;
        e.strText += L">";
        e.nStartTagLen = nName + 2;
        e.nEndTagLen = nName + 3;
    } else {
        e.strText += (nFlags & CXmlDocument::ADD_SPACED_EMPTY) ? L" />" : L"/>";
        e.nStartTagLen = e.strText.GetLength();
    }
    e.nElemLen = e.strText.GetLength();
    if (!(nFlags & CXmlDocument::ADD_NO_LINEBREAK))
        e.strText += L"\r\n";
    return e;
}

// One edit of the text: nDeleteLen units at nSplice are replaced by strInsert, and the new
// element's "<" lands at nOffset.
struct CSplice {
    int nSplice = 0;
    int nDeleteLen = 0;
    int nOffset = 0;
    CString strInsert;
    bool bOpenParent = false;   // the parent had no end tag and gets one now
};

// Beside a sibling. After it, the splice moves over the whitespace that follows, so the new
// element lines up where the next one started and the sibling's line break stays its own.
CSplice SpliceBesideSibling(const CXmlPosRecord& ref, const CString& strText, const CNewElement& e, bool bBefore,
                            bool bBreaks)
{
    CSplice sp;
    if (bBefore) {
        sp.nSplice = ref.nStart;
    } else {
        const wchar_t* p = strText.GetString();
        const int nText = strText.GetLength();
        sp.nSplice = ref.nStart + ref.nLength;
        if (bBreaks) {
            int j = sp.nSplice;
            while (j < nText && XmlIsSpace(p[j]))
                ++j;
            if (j < nText && p[j] == L'<')
                sp.nSplice = j;
        }
    }
    sp.nOffset = sp.nSplice;
    sp.strInsert = e.strText;
    return sp;
}

// The first child of a parent, or one put at either end of its content.
CSplice SpliceIntoParent(const CXmlPosRecord& par, const CString& strParentName, const CNewElement& e, bool bBefore,
                         bool bBreaks)
{
    CSplice sp;
    if (par.nEndTagLen > 0) {
        int nContentStart = par.nStart + par.nStartTagLen;
        int nContentEnd = par.nStart + par.nLength - par.nEndTagLen;
        if (nContentStart == nContentEnd) {
            // <p></p>: the child goes on a line of its own.
            sp.nSplice = nContentStart;
            sp.strInsert = bBreaks ? CString(L"\r\n") : CString();
            sp.nOffset = sp.nSplice + sp.strInsert.GetLength();
            sp.strInsert += e.strText;
        } else {
            sp.nSplice = bBefore ? nContentStart : nContentEnd;
            sp.nOffset = sp.nSplice;
            sp.strInsert = e.strText;
        }
        return sp;
    }
    // <p/> becomes <p>, the new element, </p>; an unended <p> gets its end tag.
    sp.bOpenParent = true;
    int nTagEnd = par.nStart + par.nStartTagLen - 1;   // its ">"
    if (par.nFlags & XREC_UNENDED) {
        sp.nSplice = nTagEnd;
    } else {
        sp.nSplice = nTagEnd - 1;                       // the "/"
        sp.nDeleteLen = 1;
    }
    sp.strInsert = bBreaks ? CString(L">\r\n") : CString(L">");
    sp.nOffset = sp.nSplice + sp.strInsert.GetLength();
    sp.strInsert += e.strText;
    sp.strInsert += L"</";
    sp.strInsert += strParentName;
    return sp;
}

// The record of a parent SpliceIntoParent opened: its start tag lost its "/" (an unended one
// had none) and it has an end tag now.
void MarkParentOpened(CXmlPosRecord& par, int nParentNameLen)
{
    if (!(par.nFlags & XREC_UNENDED))
        par.nStartTagLen -= 1;
    par.nEndTagLen = nParentNameLen + 3;
    par.nFlags &= ~XREC_UNENDED;
}

} // namespace

bool CXmlDocument::AddElement(const wchar_t* pszName, const wchar_t* pszValue, int nFlags)
{
    if (!IsValidName(pszName))
        return false;
    if ((nFlags & ADD_NO_END_TAG) && pszValue && *pszValue)
        return false;
    const bool bBefore = (nFlags & ADD_BEFORE) != 0;
    const bool bBreaks = (nFlags & ADD_NO_LINEBREAK) == 0;
    int posParent, posRef;
    if (nFlags & ADD_AS_CHILD) {
        if (!Rec(m_posCurrent))
            return false;
        posParent = m_posCurrent;
        posRef = m_posChild;
    } else {
        posParent = m_posParent;
        posRef = m_posCurrent;
    }
    try {
        if (!m_pPosTree) {
            // A document that was never parsed: start an empty tree.
            m_pPosTree = new CXmlPosTree;
            m_pPosTree->Reset(8);
            memset(&(*m_pPosTree)[0], 0, sizeof(CXmlPosRecord));
            (*m_pPosTree)[0].nLength = m_strDocText.GetLength();
            m_posNextFree = 1;
        }
        if (posParent && !Rec(posParent))
            return false;
        if (posRef && (!Rec(posRef) || (*m_pPosTree)[posRef].posParent != posParent))
            posRef = 0;
        const CNewElement elem = NewElementText(pszName, pszValue, nFlags);

        // Take the record first so that running out of memory changes nothing.
        int posNew = NewRecord();
        CXmlPosTree& t = *m_pPosTree;
        if (!posRef && bBefore && FirstChild(posParent))
            posRef = FirstChild(posParent);
        CSplice sp;
        CString strParentName;
        if (posRef) {
            sp = SpliceBesideSibling(t[posRef], m_strDocText, elem, bBefore, bBreaks);
        } else if (posParent == 0) {
            sp.nSplice = bBefore ? 0 : m_strDocText.GetLength();
            sp.nOffset = sp.nSplice;
            sp.strInsert = elem.strText;
        } else {
            strParentName = GetTagNameAt(posParent);
            sp = SpliceIntoParent(t[posParent], strParentName, elem, bBefore, bBreaks);
        }

        // Insert first: if that runs out of memory the text is unchanged.
        m_strDocText.Insert(sp.nSplice, sp.strInsert);
        m_strDocText.Delete(sp.nSplice + sp.strInsert.GetLength(), sp.nDeleteLen);
        AdjustOffsets(posParent, sp.nSplice, sp.strInsert.GetLength() - sp.nDeleteLen);
        if (sp.bOpenParent)
            MarkParentOpened(t[posParent], strParentName.GetLength());
        CXmlPosRecord& r = t[posNew];
        r.nStart = sp.nOffset;
        r.nLength = elem.nElemLen;
        r.nStartTagLen = elem.nStartTagLen;
        r.nEndTagLen = elem.nEndTagLen;
        r.nFlags = elem.nRecFlags;
        LinkAfter(posNew, posParent, posRef, bBefore);
        if (nFlags & ADD_AS_CHILD) {
            m_posChild = posNew;
        } else {
            m_posCurrent = posNew;
            m_posChild = 0;
        }
        m_nNodeKind = 1;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int CXmlDocument::RemoveElementAt(int pos)
{
    CXmlPosRecord* r = Rec(pos);
    if (!r)
        return 0;
    const wchar_t* p = m_strDocText.GetString();
    const int nText = m_strDocText.GetLength();
    int nCutStart = r->nStart;
    int nCutEnd = r->nStart + r->nLength;
    int j = nCutEnd;
    while (j < nText && XmlIsSpace(p[j]))
        ++j;
    if (j < nText && p[j] == L'<')
        nCutEnd = j;
    int posParent = r->posParent;
    int posPrev = (r->nFlags & XREC_FIRST_CHILD) ? 0 : r->posPrev;
    Unlink(pos);
    m_strDocText.Delete(nCutStart, nCutEnd - nCutStart);
    AdjustOffsets(posParent, nCutStart, -(nCutEnd - nCutStart));
    FreeSubtree(pos);
    // No position may keep naming a freed record.
    if (m_posCurrent && !Rec(m_posCurrent)) {
        m_posCurrent = (m_posCurrent == pos) ? posPrev : 0;
        m_posChild = 0;
        m_nNodeKind = m_posCurrent ? 1 : 0;
    }
    if (m_posChild && !Rec(m_posChild))
        m_posChild = 0;
    if (m_posParent && !Rec(m_posParent)) {
        m_posParent = posParent && Rec(posParent) ? posParent : 0;
        m_posCurrent = m_posChild = 0;
        m_nNodeKind = 0;
    }
    return posPrev;
}

bool CXmlDocument::RemoveChildElement()
{
    if (!Rec(m_posChild))
        return false;
    int posChild = m_posChild;
    int posPrev = RemoveElementAt(posChild);
    m_posChild = posPrev;
    return true;
}

bool CXmlDocument::SetAttributeAt(int pos, const wchar_t* pszName, const wchar_t* pszValue, int nFlags)
{
    CXmlPosRecord* r = Rec(pos);
    if (!r || !Rec(m_posCurrent) || !IsValidName(pszName))
        return false;
    try {
        CString strValue = L"\"" + EscapeText(pszValue ? pszValue : L"", nFlags | ESCAPE_ATTRIBUTE) + L"\"";
        int nStart = 0, nLen = 0;
        bool bQuoted = false;
        int nSplice, nDelete;
        CString strInsert;
        if (FindAttribute(pos, pszName, nStart, nLen, bQuoted)) {
            nSplice = nStart;
            nDelete = nLen;
            strInsert = strValue;
        } else {
            const wchar_t* p = m_strDocText.GetString();
            int nTagEnd = r->nStart + r->nStartTagLen - 1;   // the ">"
            int i = nTagEnd;
            if (r->nEndTagLen == 0 && !(r->nFlags & XREC_UNENDED) && p[i - 1] == L'/')
                --i;                                          // before "/>"
            int nNameEnd = r->nStart + 1 + GetTagNameAt(pos).GetLength();
            while (i > nNameEnd && XmlIsSpace(p[i - 1]))
                --i;
            nSplice = i;
            nDelete = 0;
            strInsert = L" " + CString(pszName) + L"=" + strValue;
        }
        m_strDocText.Insert(nSplice, strInsert);
        m_strDocText.Delete(nSplice + strInsert.GetLength(), nDelete);
        AdjustOffsets(pos, nSplice, strInsert.GetLength() - nDelete, true);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CXmlDocument::SetAttributeInt(const wchar_t* pszName, int n)
{
    return SetAttributeAt(m_posCurrent, pszName, XmlIntText(n), 0);
}

bool CXmlDocument::SetDataAt(int pos, const wchar_t* pszText)
{
    CXmlPosRecord* r = Rec(pos);
    if (!r || r->posFirstChild)
        return false;
    try {
        CString strEsc = EscapeText(pszText ? pszText : L"", 0);
        CString strName = GetTagNameAt(pos);
        const wchar_t* p = m_strDocText.GetString();
        int nSplice, nDelete;
        CString strInsert;
        int nNewStartTagLen = r->nStartTagLen;
        int nNewEndTagLen = strName.GetLength() + 3;
        if (r->nEndTagLen > 0) {
            nNewEndTagLen = r->nEndTagLen;   // the end tag stays as written
            nSplice = r->nStart + r->nStartTagLen;
            nDelete = r->nLength - r->nStartTagLen - r->nEndTagLen;
            strInsert = strEsc;
        } else if (r->nFlags & XREC_UNENDED) {
            nSplice = r->nStart + r->nStartTagLen;
            nDelete = 0;
            strInsert = strEsc + L"</" + strName + L">";
        } else {
            // <a/> or <a x="1" />: the "/" and the blanks before it give way to ">".
            int i = r->nStart + r->nStartTagLen - 2;   // the "/"
            int nNameEnd = r->nStart + 1 + strName.GetLength();
            while (i > nNameEnd && XmlIsSpace(p[i - 1]))
                --i;
            nSplice = i;
            nDelete = r->nStart + r->nStartTagLen - i;
            strInsert = L">" + strEsc + L"</" + strName + L">";
            nNewStartTagLen = i + 1 - r->nStart;
        }
        m_strDocText.Insert(nSplice, strInsert);
        m_strDocText.Delete(nSplice + strInsert.GetLength(), nDelete);
        AdjustOffsets(pos, nSplice, strInsert.GetLength() - nDelete);
        r = Rec(pos);
        r->nStartTagLen = nNewStartTagLen;
        r->nEndTagLen = nNewEndTagLen;
        r->nFlags &= ~(XREC_UNENDED | XREC_CONTENT_FAULT);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
