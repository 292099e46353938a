// The tokeniser, the tree builder and the text coders of CXmlDocument.

#include "XmlInternal.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <unordered_map>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Position tree store

CXmlPosTree::~CXmlPosTree() { FreeAll(); }

void CXmlPosTree::FreeAll()
{
    for (int i = 0; i < m_nSegs; ++i)
        delete[] m_ppSeg[i];
    delete[] m_ppSeg;
    m_ppSeg = nullptr;
    m_nSegArray = m_nSegs = m_nLastSegSize = m_nCapacity = 0;
}

void CXmlPosTree::Reset(int nCapacity)
{
    FreeAll();
    SetCapacity(nCapacity);
}

void CXmlPosTree::Grow()
{
    long long n = static_cast<long long>(m_nCapacity) + m_nCapacity / 2;
    if (n > 0x7FFF0000LL)
        n = 0x7FFF0000LL;
    if (n <= m_nCapacity)
        throw std::bad_alloc();
    SetCapacity(static_cast<int>(n));
}

// The capacity is the number of records the tree may hold before it grows; memory is taken
// only as records are used: segments are filled to SEG_SIZE records before the next one is
// opened, and only the last segment is ever reallocated (its records are copied over).
void CXmlPosTree::SetCapacity(int nCapacity)
{
    int nNeedSegs = (nCapacity + SEG_SIZE - 1) / SEG_SIZE;
    if (nNeedSegs > m_nSegArray) {
        int nNew = nNeedSegs * 2 + 4;
        CXmlPosRecord** pp = new CXmlPosRecord*[nNew]();
        for (int i = 0; i < m_nSegs; ++i)
            pp[i] = m_ppSeg[i];
        delete[] m_ppSeg;
        m_ppSeg = pp;
        m_nSegArray = nNew;
    }
    m_nCapacity = nCapacity;
    Ensure(0);
}

void CXmlPosTree::Ensure(int pos)
{
    int nSeg = pos >> SEG_BITS, nIndex = pos & (SEG_SIZE - 1);
    if (nSeg < m_nSegs - 1 || (nSeg == m_nSegs - 1 && nIndex < m_nLastSegSize))
        return;
    int nBase = nSeg * SEG_SIZE;
    int nSize = m_nCapacity - nBase < SEG_SIZE ? m_nCapacity - nBase : SEG_SIZE;
    if (nSize <= nIndex)
        nSize = nIndex + 1;
    if (nSeg == m_nSegs - 1) {
        CXmlPosRecord* p = new CXmlPosRecord[nSize];
        memcpy(p, m_ppSeg[nSeg], sizeof(CXmlPosRecord) * m_nLastSegSize);
        delete[] m_ppSeg[nSeg];
        m_ppSeg[nSeg] = p;
    } else {
        // Records are handed out in order, so this is the next segment; the previous one is
        // completed first so that every earlier index stays addressable.
        if (m_nSegs > 0 && m_nLastSegSize < SEG_SIZE) {
            CXmlPosRecord* p = new CXmlPosRecord[SEG_SIZE];
            memcpy(p, m_ppSeg[m_nSegs - 1], sizeof(CXmlPosRecord) * m_nLastSegSize);
            delete[] m_ppSeg[m_nSegs - 1];
            m_ppSeg[m_nSegs - 1] = p;
        }
        m_ppSeg[nSeg] = new CXmlPosRecord[nSize];
        m_nSegs = nSeg + 1;
    }
    m_nLastSegSize = nSize;
}

// ---------------------------------------------------------------------------------------------
// Small helpers

CString XmlIntText(long long n)
{
    wchar_t buf[24];
    int i = 23;
    buf[i] = 0;
    bool bNeg = n < 0;
    unsigned long long u = bNeg ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    do {
        buf[--i] = static_cast<wchar_t>(L'0' + u % 10);
        u /= 10;
    } while (u);
    if (bNeg)
        buf[--i] = L'-';
    return CString(buf + i);
}

void XmlAddLogEntry(CString& strLog, const wchar_t* pszEntry, const wchar_t* const* ppszAttrs)
{
    if (strLog.GetLength() > 999)
        return;
    CString s(L"<");
    s += pszEntry;
    for (int i = 0; ppszAttrs && ppszAttrs[i] && ppszAttrs[i + 1]; i += 2) {
        s += L' ';
        s += ppszAttrs[i];
        s += L"=\"";
        // Values (tag names taken from the document) are cut so that one entry stays small.
        CString strValue(ppszAttrs[i + 1]);
        if (strValue.GetLength() > 100)
            strValue = strValue.Left(100);
        s += CXmlDocument::EscapeText(strValue, CXmlDocument::ESCAPE_ATTRIBUTE);
        s += L'"';
    }
    s += L"/>";
    strLog += s;
}

// ---------------------------------------------------------------------------------------------
// Tokeniser

namespace {

int FindSeq(const wchar_t* p, int nEnd, int nFrom, const wchar_t* seq, int nSeq)
{
    for (int i = nFrom; i + nSeq <= nEnd; ++i) {
        if (p[i] == seq[0] && memcmp(p + i, seq, sizeof(wchar_t) * nSeq) == 0)
            return i;
    }
    return -1;
}

int FindChar(const wchar_t* p, int nEnd, int nFrom, wchar_t ch)
{
    for (int i = nFrom; i < nEnd; ++i)
        if (p[i] == ch)
            return i;
    return -1;
}

void Unterminated(CXmlNode& node, int nStart, int nEnd, const wchar_t* pszType)
{
    node.nKind = XNODE_FAULT;
    node.nStart = nStart;
    node.nLength = nEnd - nStart;
    node.pszFault = L"unterminated_tag_syntax";
    node.pszType = pszType;
    node.nFaultOffset = nStart;
}

void Fault(CXmlNode& node, int nStart, const wchar_t* pszFault, int nFaultOffset)
{
    node.nKind = XNODE_FAULT;
    node.nStart = nStart;
    node.nLength = 1;   // parsing goes on right after the "<"
    node.pszFault = pszFault;
    node.pszType = nullptr;
    node.nFaultOffset = nFaultOffset;
}

bool IsNameStart(wchar_t c)
{
    return c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || c >= 97;
}

// Document type declaration from nStart ("<!D"); ends at the first ">" outside its internal subset.
// A comment or CDATA section at nStart ("<!" and one character already seen): the fourth
// character must be chFourth, and the node runs to the end of the closing three-character text.
void ScanDelimited(const wchar_t* p, int nEnd, int nStart, CXmlNode& node, wchar_t chFourth,
                   const wchar_t* pszClose, int nKind, const wchar_t* pszType, const wchar_t* pszSyntax)
{
    if (nStart + 3 >= nEnd) {
        Unterminated(node, nStart, nEnd, pszType);
        return;
    }
    if (p[nStart + 3] != chFourth) {
        Fault(node, nStart, pszSyntax, nStart);
        return;
    }
    int j = FindSeq(p, nEnd, nStart + 4, pszClose, 3);
    if (j < 0) {
        Unterminated(node, nStart, nEnd, pszType);
        return;
    }
    node.nKind = nKind;
    node.nStart = nStart;
    node.nLength = j + 3 - nStart;
}

void ScanDoctype(const wchar_t* p, int nEnd, int nStart, CXmlNode& node)
{
    bool bSubset = false;
    int i = nStart + 3;
    while (i < nEnd) {
        wchar_t c = p[i];
        if (!bSubset) {
            if (c == L'[')
                bSubset = true;
            else if (c == L'>') {
                node.nKind = XNODE_DOCTYPE;
                node.nStart = nStart;
                node.nLength = i + 1 - nStart;
                return;
            }
            ++i;
            continue;
        }
        if (c == L']') {
            bSubset = false;
            ++i;
        } else if (c == L'<') {
            if (i + 1 >= nEnd)
                break;
            if (p[i + 1] == L'!' && i + 2 < nEnd && (p[i + 2] == L'A' || p[i + 2] == L'E' || p[i + 2] == L'N')) {
                // Markup declaration: up to its ">", quoted literals may hold ">".
                int j = i + 3;
                wchar_t q = 0;
                for (; j < nEnd; ++j) {
                    if (q) {
                        if (p[j] == q)
                            q = 0;
                    } else if (p[j] == L'"' || p[j] == L'\'') {
                        q = p[j];
                    } else if (p[j] == L'>') {
                        break;
                    }
                }
                if (j >= nEnd)
                    break;
                i = j + 1;
            } else if (p[i + 1] == L'!' && i + 3 < nEnd && p[i + 2] == L'-' && p[i + 3] == L'-') {
                int j = FindSeq(p, nEnd, i + 4, L"-->", 3);
                if (j < 0)
                    break;
                i = j + 3;
            } else if (p[i + 1] == L'?') {
                int j = FindSeq(p, nEnd, i + 2, L"?>", 2);
                if (j < 0)
                    break;
                i = j + 2;
            } else {
                Fault(node, nStart, L"doctype_tag_syntax", i);
                return;
            }
        } else {
            ++i;
        }
    }
    Unterminated(node, nStart, nEnd, L"document_type");
}

void ScanStartTag(const wchar_t* p, int nEnd, int nStart, CXmlNode& node)
{
    int i = nStart + 1;
    while (i < nEnd && !XmlIsSpace(p[i]) && p[i] != L'/' && p[i] != L'>')
        ++i;
    int nNameEnd = i;
    bool bAfterEq = false;
    int nQuoteEnd = -1;   // offset right after the last closing quote
    while (i < nEnd) {
        wchar_t c = p[i];
        if (c == L'>') {
            node.nKind = XNODE_ELEMENT;
            node.nStart = nStart;
            node.nLength = i + 1 - nStart;
            node.nNameLen = nNameEnd - nStart - 1;
            node.bEmpty = p[i - 1] == L'/' &&
                (i - 1 == nNameEnd || (i - 2 > nStart && XmlIsSpace(p[i - 2])) || i - 1 == nQuoteEnd);
            return;
        }
        if (c == L'=') {
            bAfterEq = true;
        } else if ((c == L'"' || c == L'\'') && bAfterEq) {
            int j = FindChar(p, nEnd, i + 1, c);
            if (j < 0)
                break;
            i = j + 1;
            nQuoteEnd = i;
            bAfterEq = false;
            continue;
        } else if (!XmlIsSpace(c)) {
            bAfterEq = false;
        }
        ++i;
    }
    Unterminated(node, nStart, nEnd, L"start_tag");
}

} // namespace

void XmlNextNode(const wchar_t* p, int nEnd, int i, CXmlNode& node)
{
    node.nNameLen = 0;
    node.bEmpty = false;
    node.pszFault = node.pszType = nullptr;
    if (i >= nEnd) {
        node.nKind = XNODE_END;
        node.nStart = nEnd;
        node.nLength = 0;
        return;
    }
    if (p[i] != L'<') {
        bool bSpace = true;
        int j = i;
        for (; j < nEnd && p[j] != L'<'; ++j)
            if (!XmlIsSpace(p[j]))
                bSpace = false;
        node.nKind = bSpace ? XNODE_WHITESPACE : XNODE_TEXT;
        node.nStart = i;
        node.nLength = j - i;
        return;
    }
    if (i + 1 >= nEnd) {
        Unterminated(node, i, nEnd, L"tag");
        return;
    }
    wchar_t c = p[i + 1];
    if (c == L'/') {
        int j = FindChar(p, nEnd, i + 2, L'>');
        if (j < 0) {
            Unterminated(node, i, nEnd, L"end_tag");
            return;
        }
        int k = i + 2;
        while (k < j && !XmlIsSpace(p[k]))
            ++k;
        node.nKind = XNODE_END_TAG;
        node.nStart = i;
        node.nLength = j + 1 - i;
        node.nNameLen = k - i - 2;
        return;
    }
    if (c == L'?') {
        int j = FindSeq(p, nEnd, i + 2, L"?>", 2);
        if (j < 0) {
            Unterminated(node, i, nEnd, L"processing_instruction");
            return;
        }
        node.nKind = XNODE_PI;
        node.nStart = i;
        node.nLength = j + 2 - i;
        return;
    }
    if (c == L'!') {
        if (i + 2 >= nEnd) {
            Unterminated(node, i, nEnd, L"tag");
            return;
        }
        wchar_t c2 = p[i + 2];
        if (c2 == L'-') {
            ScanDelimited(p, nEnd, i, node, L'-', L"-->", XNODE_COMMENT, L"comment", L"comment_tag_syntax");
            return;
        }
        if (c2 == L'[') {
            ScanDelimited(p, nEnd, i, node, L'C', L"]]>", XNODE_CDATA, L"cdata_section",
                          L"cdata_section_syntax");
            return;
        }
        if (c2 == L'D') {
            ScanDoctype(p, nEnd, i, node);
            return;
        }
        Fault(node, i, L"exclamation_tag_syntax", i);
        return;
    }
    if (IsNameStart(c)) {
        ScanStartTag(p, nEnd, i, node);
        return;
    }
    Fault(node, i, L"first_tag_syntax", i);
}

// ---------------------------------------------------------------------------------------------
// Tree building

namespace {

unsigned long long NameHash(const wchar_t* p, int n)
{
    unsigned long long h = 1469598103934665603ULL;
    for (int i = 0; i < n; ++i) {
        h ^= static_cast<unsigned long long>(p[i] & 0xFFFF);
        h *= 1099511628211ULL;
    }
    return h ^ static_cast<unsigned long long>(n);
}

} // namespace

class CXmlParser {
public:
    explicit CXmlParser(CXmlDocument& doc) : m_doc(doc), m_tree(*doc.m_pPosTree) {}

    void Run();

private:
    void AppendChild(int posParent, int pos);
    void CloseUnended(size_t nKeep, int nClosedAt);
    void MarkFault(int nFaultOffset);
    // Tag name of an open element, read from its start tag: the stack holds positions only,
    // so a flood of start tags costs 4 bytes each beyond its record.
    void NameOf(int pos, const wchar_t*& pName, int& nName) const
    {
        const CXmlPosRecord& r = m_tree[pos];
        pName = m_doc.m_strDocText.GetString() + r.nStart + 1;
        int nMax = r.nStartTagLen - 1;
        nName = 0;
        while (nName < nMax && !XmlIsSpace(pName[nName]) && pName[nName] != L'/' && pName[nName] != L'>')
            ++nName;
    }
    void Closed(int pos)
    {
        const wchar_t* pName;
        int nName;
        NameOf(pos, pName, nName);
        auto it = m_openNames.find(NameHash(pName, nName));
        if (it != m_openNames.end() && --it->second == 0)
            m_openNames.erase(it);
    }

    CXmlDocument& m_doc;
    CXmlPosTree& m_tree;
    std::vector<int> m_stack;
    std::unordered_map<unsigned long long, int> m_openNames;
};

void CXmlParser::AppendChild(int posParent, int pos)
{
    CXmlPosRecord& par = m_tree[posParent];
    CXmlPosRecord& r = m_tree[pos];
    r.posParent = posParent;
    r.posFirstChild = 0;
    r.posNext = 0;
    if (par.posFirstChild == 0) {
        par.posFirstChild = pos;
        r.posPrev = pos;
        r.nFlags |= XREC_FIRST_CHILD;
    } else {
        CXmlPosRecord& first = m_tree[par.posFirstChild];
        int posLast = first.posPrev;
        m_tree[posLast].posNext = pos;
        r.posPrev = posLast;
        first.posPrev = pos;
    }
}

// Closes every open element above stack depth nKeep as unended, outermost first: each one
// keeps only its start tag and its child elements move up to follow it as siblings. Doing
// the whole run at once moves every child exactly once, however deep the nesting.
void CXmlParser::CloseUnended(size_t nKeep, int nClosedAt)
{
    for (size_t k = nKeep; k < m_stack.size(); ++k) {
        const int posU = m_stack[k];
        CXmlPosRecord& u = m_tree[posU];
        u.nFlags |= XREC_UNENDED;
        u.nLength = u.nStartTagLen;
        u.nEndTagLen = 0;
        int posFirst = u.posFirstChild;
        if (posFirst) {
            int posLast = m_tree[posFirst].posPrev;
            int posParent = u.posParent;
            for (int c = posFirst; c; c = m_tree[c].posNext) {
                m_tree[c].posParent = posParent;
                m_tree[c].nFlags &= ~XREC_FIRST_CHILD;
            }
            u.posFirstChild = 0;
            // Splice the chain first..last right after u.
            int posNext = u.posNext;
            u.posNext = posFirst;
            m_tree[posFirst].posPrev = posU;
            m_tree[posLast].posNext = posNext;
            if (posNext)
                m_tree[posNext].posPrev = posLast;
            else
                m_tree[m_tree[posParent].posFirstChild].posPrev = posLast;
        }
        if (m_doc.m_strResultLog.GetLength() <= 999) {
            const wchar_t* pName;
            int nName;
            NameOf(posU, pName, nName);
            CString strName(pName, nName);
            CString strOff = XmlIntText(u.nStart), strOff2 = XmlIntText(nClosedAt);
            const wchar_t* attrs[] = {L"tagname", strName, L"offset", strOff, L"offset2", strOff2, nullptr};
            m_doc.Log(L"unended_start_tag", attrs);
        }
        Closed(posU);
    }
    if (nKeep < m_stack.size())
        m_tree[0].nFlags |= XREC_DOC_NOT_WELL_FORMED;
    m_stack.resize(nKeep);
}

void CXmlParser::MarkFault(int)
{
    int posEnclosing = m_stack.empty() ? 0 : m_stack.back();
    m_tree[posEnclosing].nFlags |= XREC_CONTENT_FAULT;
    m_tree[0].nFlags |= XREC_DOC_NOT_WELL_FORMED;
}

void CXmlParser::Run()
{
    const wchar_t* p = m_doc.m_strDocText.GetString();
    const int nEnd = m_doc.m_strDocText.GetLength();
    CXmlNode node;
    int i = 0;
    for (;;) {
        XmlNextNode(p, nEnd, i, node);
        if (node.nKind == XNODE_END)
            break;
        i = node.nStart + node.nLength;
        switch (node.nKind) {
        case XNODE_ELEMENT: {
            int pos = m_doc.NewRecord();
            CXmlPosRecord& r = m_tree[pos];
            r.nStart = node.nStart;
            r.nStartTagLen = node.nLength;
            r.nEndTagLen = 0;
            r.nLength = node.nLength;
            r.nFlags = 0;
            AppendChild(m_stack.empty() ? 0 : m_stack.back(), pos);
            if (!node.bEmpty) {
                m_stack.push_back(pos);
                ++m_openNames[NameHash(p + node.nStart + 1, node.nNameLen)];
            }
            break;
        }
        case XNODE_END_TAG: {
            const wchar_t* pName = p + node.nStart + 2;
            int nName = node.nNameLen;
            // The innermost open element is the usual match; a name no open element carries
            // is a lone end tag without walking the stack.
            long long k = -1;
            const wchar_t* pOpen;
            int nOpen;
            if (!m_stack.empty()) {
                NameOf(m_stack.back(), pOpen, nOpen);
                if (nOpen == nName && memcmp(pOpen, pName, sizeof(wchar_t) * nName) == 0)
                    k = static_cast<long long>(m_stack.size()) - 1;
                else if (m_openNames.count(NameHash(pName, nName))) {
                    for (long long j = static_cast<long long>(m_stack.size()) - 2; j >= 0; --j) {
                        NameOf(m_stack[j], pOpen, nOpen);
                        if (nOpen == nName && memcmp(pOpen, pName, sizeof(wchar_t) * nName) == 0) {
                            k = j;
                            break;
                        }
                    }
                }
            }
            if (k < 0) {
                if (m_doc.m_strResultLog.GetLength() <= 999) {
                    CString strName(pName, nName), strOff = XmlIntText(node.nStart);
                    const wchar_t* attrs[] = {L"tagname", strName, L"offset", strOff, nullptr};
                    m_doc.Log(L"lone_end_tag", attrs);
                }
                MarkFault(node.nStart);
                break;
            }
            CloseUnended(static_cast<size_t>(k) + 1, node.nStart);
            const int posMatch = m_stack.back();
            CXmlPosRecord& r = m_tree[posMatch];
            r.nLength = node.nStart + node.nLength - r.nStart;
            r.nEndTagLen = node.nLength;
            Closed(posMatch);
            m_stack.pop_back();
            break;
        }
        case XNODE_FAULT: {
            if (m_doc.m_strResultLog.GetLength() <= 999) {
                CString strOff = XmlIntText(node.nFaultOffset);
                if (node.pszType) {
                    const wchar_t* attrs[] = {L"type", node.pszType, L"offset", strOff, nullptr};
                    m_doc.Log(node.pszFault, attrs);
                } else {
                    const wchar_t* attrs[] = {L"offset", strOff, nullptr};
                    m_doc.Log(node.pszFault, attrs);
                }
            }
            MarkFault(node.nFaultOffset);
            break;
        }
        default:
            break;
        }
    }
    CloseUnended(0, nEnd);
    CXmlPosRecord& doc = m_tree[0];
    doc.nStart = 0;
    doc.nLength = nEnd;
    if (doc.posFirstChild == 0)
        m_doc.Log(L"no_root_element");
    else if (m_tree[doc.posFirstChild].posNext != 0)
        m_doc.Log(L"root_has_sibling");
}

bool CXmlDocument::ParseDocument()
{
    m_posParent = m_posCurrent = m_posChild = 0;
    m_nNodeKind = 0;
    m_posFreeList = 0;
    m_posNextFree = 1;
    try {
        if (!m_pPosTree)
            m_pPosTree = new CXmlPosTree;
        m_pPosTree->Reset(m_strDocText.GetLength() / 64 + 8);
        memset(&(*m_pPosTree)[0], 0, sizeof(CXmlPosRecord));
        CXmlParser parser(*this);
        parser.Run();
    } catch (const std::bad_alloc&) {
        // Out of memory on a huge document: keep the text, drop the tree, report a fault.
        ClearTree();
        const wchar_t* attrs[] = {L"msg", L"out of memory", L"n", L"8", nullptr};
        Log(L"file_error", attrs);
        try {
            if (!m_pPosTree)
                m_pPosTree = new CXmlPosTree;
            m_pPosTree->Reset(8);
            memset(&(*m_pPosTree)[0], 0, sizeof(CXmlPosRecord));
            (*m_pPosTree)[0].nLength = m_strDocText.GetLength();
            (*m_pPosTree)[0].nFlags = XREC_DOC_NOT_WELL_FORMED;
        } catch (const std::bad_alloc&) {
            ClearTree();
        }
        m_posNextFree = 1;
    }
    m_posParent = m_posCurrent = m_posChild = 0;
    m_nNodeKind = 0;
    return IsWellFormed();
}

// ---------------------------------------------------------------------------------------------
// Escaping and decoding

namespace {

struct NamedRef {
    const char* pszName;
    int nValue;
};

// The named character references of HTML 4.01 and apos, sorted by name.
const NamedRef g_namedRefs[] = {
    {"AElig", 198}, {"Aacute", 193}, {"Acirc", 194}, {"Agrave", 192}, {"Alpha", 913}, {"Aring", 197},
    {"Atilde", 195}, {"Auml", 196}, {"Beta", 914}, {"Ccedil", 199}, {"Chi", 935}, {"Dagger", 8225},
    {"Delta", 916}, {"ETH", 208}, {"Eacute", 201}, {"Ecirc", 202}, {"Egrave", 200}, {"Epsilon", 917},
    {"Eta", 919}, {"Euml", 203}, {"Gamma", 915}, {"Iacute", 205}, {"Icirc", 206}, {"Igrave", 204},
    {"Iota", 921}, {"Iuml", 207}, {"Kappa", 922}, {"Lambda", 923}, {"Mu", 924}, {"Ntilde", 209},
    {"Nu", 925}, {"OElig", 338}, {"Oacute", 211}, {"Ocirc", 212}, {"Ograve", 210}, {"Omega", 937},
    {"Omicron", 927}, {"Oslash", 216}, {"Otilde", 213}, {"Ouml", 214}, {"Phi", 934}, {"Pi", 928},
    {"Prime", 8243}, {"Psi", 936}, {"Rho", 929}, {"Scaron", 352}, {"Sigma", 931}, {"THORN", 222},
    {"Tau", 932}, {"Theta", 920}, {"Uacute", 218}, {"Ucirc", 219}, {"Ugrave", 217}, {"Upsilon", 933},
    {"Uuml", 220}, {"Xi", 926}, {"Yacute", 221}, {"Yuml", 376}, {"Zeta", 918}, {"aacute", 225},
    {"acirc", 226}, {"acute", 180}, {"aelig", 230}, {"agrave", 224}, {"alefsym", 8501}, {"alpha", 945},
    {"amp", 38}, {"and", 8743}, {"ang", 8736}, {"apos", 39}, {"aring", 229}, {"asymp", 8776},
    {"atilde", 227}, {"auml", 228}, {"bdquo", 8222}, {"beta", 946}, {"brvbar", 166}, {"bull", 8226},
    {"cap", 8745}, {"ccedil", 231}, {"cedil", 184}, {"cent", 162}, {"chi", 967}, {"circ", 710},
    {"clubs", 9827}, {"cong", 8773}, {"copy", 169}, {"crarr", 8629}, {"cup", 8746}, {"curren", 164},
    {"dArr", 8659}, {"dagger", 8224}, {"darr", 8595}, {"deg", 176}, {"delta", 948}, {"diams", 9830},
    {"divide", 247}, {"eacute", 233}, {"ecirc", 234}, {"egrave", 232}, {"empty", 8709}, {"emsp", 8195},
    {"ensp", 8194}, {"epsilon", 949}, {"equiv", 8801}, {"eta", 951}, {"eth", 240}, {"euml", 235},
    {"euro", 8364}, {"exist", 8707}, {"fnof", 402}, {"forall", 8704}, {"frac12", 189}, {"frac14", 188},
    {"frac34", 190}, {"frasl", 8260}, {"gamma", 947}, {"ge", 8805}, {"gt", 62}, {"hArr", 8660},
    {"harr", 8596}, {"hearts", 9829}, {"hellip", 8230}, {"iacute", 237}, {"icirc", 238},
    {"iexcl", 161}, {"igrave", 236}, {"image", 8465}, {"infin", 8734}, {"int", 8747}, {"iota", 953},
    {"iquest", 191}, {"isin", 8712}, {"iuml", 239}, {"kappa", 954}, {"lArr", 8656}, {"lambda", 955},
    {"lang", 9001}, {"laquo", 171}, {"larr", 8592}, {"lceil", 8968}, {"ldquo", 8220}, {"le", 8804},
    {"lfloor", 8970}, {"lowast", 8727}, {"loz", 9674}, {"lrm", 8206}, {"lsaquo", 8249},
    {"lsquo", 8216}, {"lt", 60}, {"macr", 175}, {"mdash", 8212}, {"micro", 181}, {"middot", 183},
    {"minus", 8722}, {"mu", 956}, {"nabla", 8711}, {"nbsp", 160}, {"ndash", 8211}, {"ne", 8800},
    {"ni", 8715}, {"not", 172}, {"notin", 8713}, {"nsub", 8836}, {"ntilde", 241}, {"nu", 957},
    {"oacute", 243}, {"ocirc", 244}, {"oelig", 339}, {"ograve", 242}, {"oline", 8254}, {"omega", 969},
    {"omicron", 959}, {"oplus", 8853}, {"or", 8744}, {"ordf", 170}, {"ordm", 186}, {"oslash", 248},
    {"otilde", 245}, {"otimes", 8855}, {"ouml", 246}, {"para", 182}, {"part", 8706}, {"permil", 8240},
    {"perp", 8869}, {"phi", 966}, {"pi", 960}, {"piv", 982}, {"plusmn", 177}, {"pound", 163},
    {"prime", 8242}, {"prod", 8719}, {"prop", 8733}, {"psi", 968}, {"quot", 34}, {"rArr", 8658},
    {"radic", 8730}, {"rang", 9002}, {"raquo", 187}, {"rarr", 8594}, {"rceil", 8969}, {"rdquo", 8221},
    {"real", 8476}, {"reg", 174}, {"rfloor", 8971}, {"rho", 961}, {"rlm", 8207}, {"rsaquo", 8250},
    {"rsquo", 8217}, {"sbquo", 8218}, {"scaron", 353}, {"sdot", 8901}, {"sect", 167}, {"shy", 173},
    {"sigma", 963}, {"sigmaf", 962}, {"sim", 8764}, {"spades", 9824}, {"sub", 8834}, {"sube", 8838},
    {"sum", 8721}, {"sup", 8835}, {"sup1", 185}, {"sup2", 178}, {"sup3", 179}, {"supe", 8839},
    {"szlig", 223}, {"tau", 964}, {"there4", 8756}, {"theta", 952}, {"thetasym", 977},
    {"thinsp", 8201}, {"thorn", 254}, {"tilde", 732}, {"times", 215}, {"trade", 8482}, {"uArr", 8657},
    {"uacute", 250}, {"uarr", 8593}, {"ucirc", 251}, {"ugrave", 249}, {"uml", 168}, {"upsih", 978},
    {"upsilon", 965}, {"uuml", 252}, {"weierp", 8472}, {"xi", 958}, {"yacute", 253}, {"yen", 165},
    {"yuml", 255}, {"zeta", 950}, {"zwj", 8205}, {"zwnj", 8204},
};
const int g_nNamedRefs = sizeof(g_namedRefs) / sizeof(g_namedRefs[0]);

int CompareName(const char* a, const wchar_t* b, int n)
{
    for (int i = 0; i < n; ++i) {
        if (!a[i])
            return -1;
        int d = static_cast<unsigned char>(a[i]) - static_cast<int>(b[i]);
        if (d)
            return d;
    }
    return a[n] ? 1 : 0;
}

int LookupExact(const wchar_t* pName, int n)
{
    int lo = 0, hi = g_nNamedRefs - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = CompareName(g_namedRefs[mid].pszName, pName, n);
        if (c == 0)
            return g_namedRefs[mid].nValue;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return 0;
}

// Exact name first (so eacute and Eacute stay distinct); then, for names written in other
// capitals such as AMP, the lower-case spelling.
int LookupNamed(const wchar_t* pName, int n)
{
    int v = LookupExact(pName, n);
    if (v)
        return v;
    wchar_t low[16];
    if (n >= 16)
        return 0;
    for (int i = 0; i < n; ++i)
        low[i] = (pName[i] >= L'A' && pName[i] <= L'Z') ? pName[i] + 32 : pName[i];
    return LookupExact(low, n);
}

// Value of the reference between "&" and ";" (n characters at p), 0 when it is none.
long ReferenceValue(const wchar_t* p, int n)
{
    if (n < 1)
        return 0;
    if (p[0] != L'#')
        return LookupNamed(p, n);
    long v = 0;
    if (n >= 2 && (p[1] == L'x' || p[1] == L'X')) {
        if (n < 3)
            return 0;
        for (int i = 2; i < n; ++i) {
            wchar_t c = p[i];
            int d;
            if (c >= L'0' && c <= L'9')
                d = c - L'0';
            else if (c >= L'a' && c <= L'f')
                d = c - L'a' + 10;
            else if (c >= L'A' && c <= L'F')
                d = c - L'A' + 10;
            else
                return 0;
            v = v * 16 + d;
            if (v > 0x10FFFF)
                return 0;
        }
    } else {
        for (int i = 1; i < n; ++i) {
            wchar_t c = p[i];
            if (c < L'0' || c > L'9')
                return 0;
            v = v * 10 + (c - L'0');
            if (v > 0x10FFFF)
                return 0;
        }
    }
    // Values outside Unicode and the surrogate range name no character.
    if (v >= 0xD800 && v <= 0xDFFF)
        return 0;
    return v;
}

bool IsRefNameStart(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L':' || c == L'#' || c > 127;
}

bool IsRefNameChar(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
        c == L'.' || c == L':' || c == L'_' || c > 127;
}

} // namespace

CString CXmlDocument::UnescapeText(const wchar_t* pszText, int nLength)
{
    if (!pszText)
        return CString();
    int n = nLength < 0 ? static_cast<int>(wcslen(pszText)) : nLength;
    const wchar_t* pAmp = static_cast<const wchar_t*>(n > 0 ? wmemchr(pszText, L'&', n) : nullptr);
    if (!pAmp)
        return CString(pszText, n);
    // A reference is at least 3 characters and gives at most 2: the result never outgrows the input.
    CString strOut;
    wchar_t* out = strOut.GetBufferSetLength(n);
    int k = static_cast<int>(pAmp - pszText);
    wmemcpy(out, pszText, k);
    for (int i = k; i < n; ++i) {
        wchar_t c = pszText[i];
        if (c != L'&') {
            out[k++] = c;
            continue;
        }
        // A reference: within the next 9 characters, only ASCII before a ";".
        int nSemi = -1;
        for (int j = i + 1; j < n && j <= i + 9; ++j) {
            if (pszText[j] == L';') {
                nSemi = j;
                break;
            }
            if (pszText[j] >= 128)
                break;
        }
        long v = nSemi > 0 ? ReferenceValue(pszText + i + 1, nSemi - i - 1) : 0;
        if (v <= 0) {
            out[k++] = c;
            continue;
        }
        if (v > 0xFFFF) {
            v -= 0x10000;
            out[k++] = static_cast<wchar_t>(0xD800 + (v >> 10));
            out[k++] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        } else {
            out[k++] = static_cast<wchar_t>(v);
        }
        i = nSemi;
    }
    strOut.ReleaseBuffer(k);
    return strOut;
}

CString CXmlDocument::EscapeText(const wchar_t* pszText, int nFlags)
{
    if (!pszText)
        return CString();
    std::wstring out;
    int n = static_cast<int>(wcslen(pszText));
    out.reserve(n + n / 8);
    for (int i = 0; i < n; ++i) {
        wchar_t c = pszText[i];
        switch (c) {
        case L'&':
            if ((nFlags & ADD_KEEP_REFS) && i + 1 < n && IsRefNameStart(pszText[i + 1])) {
                int j = i + 2;
                while (j < n && IsRefNameChar(pszText[j]))
                    ++j;
                if (j < n && pszText[j] == L';') {
                    out.append(pszText + i, j + 1 - i);
                    i = j;
                    break;
                }
            }
            out += L"&amp;";
            break;
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        case L'"':
            out += (nFlags & ESCAPE_ATTRIBUTE) ? L"&quot;" : L"\"";
            break;
        case L'\'':
            out += (nFlags & ESCAPE_ATTRIBUTE) ? L"&apos;" : L"'";
            break;
        default:
            out += c;
        }
    }
    return CString(out);
}
