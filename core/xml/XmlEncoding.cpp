// Loading and saving CXmlDocument texts: byte-order marks, declared encodings, the
// character-set name table and the class's own UTF-8 and UTF-32 coders.

#include "XmlInternal.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

const unsigned CP_UTF16LE = 1200, CP_UTF16BE = 1201, CP_UTF32LE = 12000, CP_UTF32BE = 12001, CP_UTF8_ = 65001;

// Character-set names and aliases with their code pages (names in lower case).
struct CharsetName {
    const char* pszName;
    unsigned nCodePage;
};

const CharsetName g_charsets[] = {
    {"utf-8", 65001}, {"utf8", 65001}, {"unicode-1-1-utf-8", 65001}, {"unicode-2-0-utf-8", 65001},
    {"x-unicode20utf8", 65001}, {"csutf8", 65001},
    {"utf-7", 65000}, {"unicode-1-1-utf-7", 65000}, {"unicode-2-0-utf-7", 65000}, {"csunicode11utf7", 65000},
    {"x-unicode20utf7", 65000},
    {"utf-16", 1200}, {"utf-16le", 1200}, {"ucs-2", 1200}, {"unicode", 1200}, {"iso-10646-ucs-2", 1200},
    {"csunicode", 1200}, {"ucs-2le", 1200}, {"utf16", 1200},
    {"utf-16be", 1201}, {"unicodefffe", 1201}, {"ucs-2be", 1201},
    {"utf-32", 12000}, {"utf-32le", 12000}, {"ucs-4", 12000}, {"utf32", 12000},
    {"utf-32be", 12001},
    {"us-ascii", 20127}, {"ascii", 20127}, {"us", 20127}, {"ansi_x3.4-1968", 20127}, {"ansi_x3.4-1986", 20127},
    {"cp367", 20127}, {"csascii", 20127}, {"ibm367", 20127}, {"iso-ir-6", 20127}, {"iso646-us", 20127},
    {"iso_646.irv:1991", 20127},
    {"iso-8859-1", 28591}, {"latin1", 28591}, {"l1", 28591}, {"iso_8859-1", 28591}, {"iso_8859-1:1987", 28591},
    {"iso-ir-100", 28591}, {"cp819", 28591}, {"ibm819", 28591}, {"csisolatin1", 28591}, {"iso8859-1", 28591},
    {"iso-8859-2", 28592}, {"latin2", 28592}, {"l2", 28592}, {"iso_8859-2", 28592}, {"iso-ir-101", 28592},
    {"csisolatin2", 28592},
    {"iso-8859-3", 28593}, {"latin3", 28593}, {"l3", 28593}, {"iso_8859-3", 28593}, {"csisolatin3", 28593},
    {"iso-8859-4", 28594}, {"latin4", 28594}, {"l4", 28594}, {"iso_8859-4", 28594}, {"csisolatin4", 28594},
    {"iso-8859-5", 28595}, {"cyrillic", 28595}, {"iso_8859-5", 28595}, {"csisolatincyrillic", 28595},
    {"iso-8859-6", 28596}, {"arabic", 28596}, {"iso_8859-6", 28596}, {"csisolatinarabic", 28596},
    {"ecma-114", 28596}, {"asmo-708", 708},
    {"iso-8859-7", 28597}, {"greek", 28597}, {"greek8", 28597}, {"iso_8859-7", 28597}, {"csisolatingreek", 28597},
    {"ecma-118", 28597}, {"elot_928", 28597},
    {"iso-8859-8", 28598}, {"hebrew", 28598}, {"visual", 28598}, {"iso_8859-8", 28598},
    {"csisolatinhebrew", 28598}, {"iso-8859-8-i", 38598}, {"logical", 38598},
    {"iso-8859-9", 28599}, {"latin5", 28599}, {"l5", 28599}, {"iso_8859-9", 28599}, {"csisolatin5", 28599},
    {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"latin-9", 28605}, {"latin9", 28605}, {"l9", 28605},
    {"iso_8859-15", 28605},
    {"windows-1250", 1250}, {"x-cp1250", 1250}, {"cp1250", 1250},
    {"windows-1251", 1251}, {"x-cp1251", 1251}, {"cp1251", 1251},
    {"windows-1252", 1252}, {"x-ansi", 1252}, {"cp1252", 1252},
    {"windows-1253", 1253}, {"cp1253", 1253}, {"windows-1254", 1254}, {"cp1254", 1254},
    {"windows-1255", 1255}, {"cp1255", 1255}, {"windows-1256", 1256}, {"cp1256", 1256},
    {"windows-1257", 1257}, {"cp1257", 1257}, {"windows-1258", 1258}, {"cp1258", 1258},
    {"windows-874", 874}, {"tis-620", 874}, {"dos-874", 874}, {"cp874", 874},
    {"shift_jis", 932}, {"sjis", 932}, {"ms_kanji", 932}, {"csshiftjis", 932}, {"x-sjis", 932},
    {"cp932", 932}, {"windows-31j", 932}, {"shift-jis", 932},
    {"gb2312", 936}, {"gbk", 936}, {"cp936", 936}, {"chinese", 936}, {"csgb2312", 936}, {"gb_2312-80", 936},
    {"iso-ir-58", 936}, {"x-gbk", 936}, {"ms936", 936}, {"windows-936", 936}, {"csiso58gb231280", 936},
    {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"korean", 949}, {"ks_c_5601", 949}, {"ks_c_5601_1987", 949},
    {"ksc_5601", 949}, {"ksc5601", 949}, {"csksc56011987", 949}, {"iso-ir-149", 949}, {"cp949", 949},
    {"cseuckr", 949},
    {"big5", 950}, {"big5-hkscs", 950}, {"cn-big5", 950}, {"csbig5", 950}, {"x-x-big5", 950}, {"cp950", 950},
    {"johab", 1361},
    {"gb18030", 54936}, {"hz-gb-2312", 52936},
    {"euc-jp", 51932}, {"x-euc-jp", 51932}, {"cseucpkdfmtjapanese", 51932}, {"x-euc", 51932},
    {"euc-cn", 51936}, {"x-euc-cn", 51936},
    {"iso-2022-jp", 50220}, {"csiso2022jp", 50221}, {"iso-2022-kr", 50225}, {"csiso2022kr", 50225},
    {"koi8-r", 20866}, {"koi", 20866}, {"koi8", 20866}, {"koi8r", 20866}, {"cskoi8r", 20866},
    {"koi8-u", 21866}, {"koi8-ru", 21866},
    {"ibm437", 437}, {"cp437", 437}, {"437", 437}, {"cspc8codepage437", 437},
    {"ibm850", 850}, {"cp850", 850}, {"ibm852", 852}, {"cp852", 852}, {"ibm855", 855}, {"cp855", 855},
    {"ibm857", 857}, {"cp857", 857}, {"ibm00858", 858}, {"ibm860", 860}, {"cp860", 860},
    {"ibm861", 861}, {"cp861", 861}, {"dos-862", 862}, {"cp862", 862}, {"ibm863", 863}, {"cp863", 863},
    {"ibm864", 864}, {"cp864", 864}, {"ibm865", 865}, {"cp865", 865}, {"cp866", 866}, {"ibm866", 866},
    {"ibm869", 869}, {"cp869", 869}, {"ibm737", 737}, {"ibm775", 775}, {"dos-720", 720},
    {"ibm037", 37}, {"cp037", 37}, {"ebcdic-cp-us", 37}, {"ebcdic-cp-ca", 37}, {"ebcdic-cp-nl", 37},
    {"ibm500", 500}, {"cp500", 500}, {"ebcdic-cp-be", 500}, {"ebcdic-cp-ch", 500},
    {"ibm870", 870}, {"cp870", 870}, {"cp875", 875}, {"ibm1026", 1026}, {"ibm01047", 1047},
    {"macintosh", 10000}, {"x-mac-roman", 10000}, {"x-mac-japanese", 10001}, {"x-mac-chinesetrad", 10002},
    {"x-mac-korean", 10003}, {"x-mac-arabic", 10004}, {"x-mac-hebrew", 10005}, {"x-mac-greek", 10006},
    {"x-mac-cyrillic", 10007}, {"x-mac-chinesesimp", 10008}, {"x-mac-ce", 10029}, {"x-mac-turkish", 10081},
};

// The code page of an encoding name; 0 means the system ANSI code page.
unsigned CodePageOf(const CString& strName)
{
    int n = strName.GetLength();
    if (n == 0 || n > 99)
        return 0;
    const wchar_t* p = strName.GetString();
    std::string low;
    for (int i = 0; i < n; ++i) {
        wchar_t c = p[i];
        if (c >= 128)
            return 0;
        low += static_cast<char>((c >= L'A' && c <= L'Z') ? c + 32 : c);
    }
    // Every spelling of UTF-32 is converted by the class itself: the system has no converter for it.
    if (low.compare(0, 6, "utf-32") == 0)
        return low == "utf-32be" ? CP_UTF32BE : CP_UTF32LE;
    for (const CharsetName& cs : g_charsets)
        if (low == cs.pszName)
            return cs.nCodePage;
    return 0;
}

// The code pages whose conversion cannot report lost characters.
bool NoLossCheck(unsigned cp)
{
    return (cp >= 50220 && cp <= 50222) || cp == 50225 || cp == 50227 || cp == 50229 || cp == 52936 ||
        cp == 54936 || (cp >= 57002 && cp <= 57011) || cp == 65000 || cp == 65001;
}

// Length of the valid UTF-8 sequence at p (n bytes left), 0 when invalid.
int Utf8SeqLen(const unsigned char* p, size_t n, unsigned& cp)
{
    unsigned c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    int len;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2; cp = c & 0x1F; min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3; cp = c & 0x0F; min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4; cp = c & 0x07; min = 0x10000;
    } else {
        return 0;
    }
    if (n < static_cast<size_t>(len))
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// Decodes into room for n units (never more are needed); returns the count. Invalid
// sequences become "?", one per byte that starts none.
size_t DecodeUtf8(const char* p, size_t n, wchar_t* out)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    size_t k = 0;
    for (size_t i = 0; i < n;) {
        if (u[i] < 0x80) {
            out[k++] = static_cast<wchar_t>(u[i++]);
            continue;
        }
        unsigned cp;
        int len = Utf8SeqLen(u + i, n - i, cp);
        if (!len) {
            out[k++] = L'?';
            ++i;
            continue;
        }
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out[k++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
            out[k++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[k++] = static_cast<wchar_t>(cp);
        }
        i += len;
    }
    return k;
}

void DecodeUtf8(const char* p, size_t n, std::wstring& out)
{
    out.resize(n);
    out.resize(DecodeUtf8(p, n, n ? &out[0] : nullptr));
}

bool IsValidUtf8(const char* p, size_t n)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n;) {
        if (u[i] < 0x80) {
            ++i;
            continue;
        }
        unsigned cp;
        int len = Utf8SeqLen(u + i, n - i, cp);
        if (!len)
            return false;
        i += len;
    }
    return true;
}

// Decodes into room for n / 2 units; returns the count.
size_t DecodeUtf32(const char* p, size_t n, bool bBigEndian, wchar_t* out)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    size_t k = 0;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        unsigned cp = bBigEndian ? (u[i] << 24) | (u[i + 1] << 16) | (u[i + 2] << 8) | u[i + 3]
                                 : (u[i + 3] << 24) | (u[i + 2] << 16) | (u[i + 1] << 8) | u[i];
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = L'?';
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out[k++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
            out[k++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[k++] = static_cast<wchar_t>(cp);
        }
    }
    return k;
}

// Next code point of UTF-16 text; a lone surrogate gives 0xFFFD (and bLost).
unsigned NextCodePoint(const wchar_t* p, size_t n, size_t& i, bool& bLost)
{
    unsigned c = static_cast<unsigned>(p[i++]) & 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i < n) {
        unsigned d = static_cast<unsigned>(p[i]) & 0xFFFF;
        if (d >= 0xDC00 && d <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        bLost = true;
        return 0xFFFD;
    }
    return c;
}

void EncodeUtf8(const wchar_t* p, size_t n, std::string& out, bool& bLost)
{
    out.reserve(out.size() + n + n / 4);
    for (size_t i = 0; i < n;) {
        unsigned cp = NextCodePoint(p, n, i, bLost);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
}

void EncodeUtf32(const wchar_t* p, size_t n, bool bBigEndian, std::string& out, bool& bLost)
{
    for (size_t i = 0; i < n;) {
        unsigned cp = NextCodePoint(p, n, i, bLost);
        unsigned char b[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                              static_cast<unsigned char>(cp >> 16), static_cast<unsigned char>(cp >> 24)};
        if (bBigEndian)
            out.append({static_cast<char>(b[3]), static_cast<char>(b[2]), static_cast<char>(b[1]), static_cast<char>(b[0])});
        else
            out.append(reinterpret_cast<const char*>(b), 4);
    }
}

void AppendUtf16(const wchar_t* p, size_t n, bool bBigEndian, std::string& out)
{
    size_t nOld = out.size();
    out.resize(nOld + n * 2);
    char* d = &out[nOld];
    for (size_t i = 0; i < n; ++i) {
        unsigned c = static_cast<unsigned>(p[i]) & 0xFFFF;
        d[2 * i + (bBigEndian ? 1 : 0)] = static_cast<char>(c & 0xFF);
        d[2 * i + (bBigEndian ? 0 : 1)] = static_cast<char>(c >> 8);
    }
}

void LogEntry(CString& strLog, const wchar_t* pszEntry, const wchar_t* a = nullptr, const wchar_t* va = nullptr,
              const wchar_t* b = nullptr, const wchar_t* vb = nullptr)
{
    const wchar_t* attrs[] = {a, va, b, vb, nullptr};
    XmlAddLogEntry(strLog, pszEntry, attrs);
}

// Value of attribute pszName in the markup p[from..to): quoted or unquoted. pnRaw/pnRawLen
// (optional) receive where the value stands in p, without its quotes and still escaped.
bool ScanAttribute(const wchar_t* p, int nFrom, int nTo, const wchar_t* pszName, CString& strValue,
                   int* pnRaw = nullptr, int* pnRawLen = nullptr)
{
    int nName = static_cast<int>(wcslen(pszName));
    int i = nFrom;
    while (i < nTo) {
        while (i < nTo && (XmlIsSpace(p[i]) || p[i] == L'/'))
            ++i;
        int nWord = i;
        while (i < nTo && !XmlIsSpace(p[i]) && p[i] != L'=' && p[i] != L'>' && p[i] != L'/' && p[i] != L'?')
            ++i;
        int nWordLen = i - nWord;
        while (i < nTo && XmlIsSpace(p[i]))
            ++i;
        if (i >= nTo || p[i] != L'=') {
            if (nWordLen == 0)
                ++i;
            continue;
        }
        ++i;
        while (i < nTo && XmlIsSpace(p[i]))
            ++i;
        int nValue, nValueLen;
        if (i < nTo && (p[i] == L'"' || p[i] == L'\'')) {
            wchar_t q = p[i];
            nValue = ++i;
            while (i < nTo && p[i] != q)
                ++i;
            nValueLen = i - nValue;
            ++i;
        } else {
            nValue = i;
            while (i < nTo && !XmlIsSpace(p[i]) && p[i] != L'>')
                ++i;
            nValueLen = i - nValue;
        }
        bool bMatch = nWordLen == nName;
        for (int k = 0; bMatch && k < nName; ++k) {
            wchar_t a = p[nWord + k], b = pszName[k];
            if (a >= L'A' && a <= L'Z')
                a += 32;
            if (b >= L'A' && b <= L'Z')
                b += 32;
            bMatch = a == b;
        }
        if (bMatch) {
            strValue = CXmlDocument::UnescapeText(p + nValue, nValueLen);
            if (pnRaw)
                *pnRaw = nValue;
            if (pnRawLen)
                *pnRawLen = nValueLen;
            return true;
        }
    }
    return false;
}

bool TagNameIs(const wchar_t* p, const CXmlNode& node, const wchar_t* pszName)
{
    int n = static_cast<int>(wcslen(pszName));
    if (node.nNameLen != n)
        return false;
    for (int k = 0; k < n; ++k) {
        wchar_t a = p[node.nStart + 1 + k];
        if (a >= L'A' && a <= L'Z')
            a += 32;
        if (a != pszName[k])
            return false;
    }
    return true;
}

} // namespace

// A leading XML declaration's "encoding", or in an HTML document the charset of a
// <meta http-equiv="Content-Type" content="...; charset=..."> inside its head.
CString XmlDeclaredEncoding(const wchar_t* p, int n, int* pnAt, int* pnLen)
{
    if (pnAt)
        *pnAt = -1;
    if (pnLen)
        *pnLen = 0;
    CXmlNode node;
    int i = 0;
    XmlNextNode(p, n, i, node);
    if (node.nKind == XNODE_WHITESPACE) {
        i = node.nStart + node.nLength;
        XmlNextNode(p, n, i, node);
    }
    if (node.nKind == XNODE_PI && node.nLength >= 7 && memcmp(p + node.nStart, L"<?xml", 5 * sizeof(wchar_t)) == 0 &&
        XmlIsSpace(p[node.nStart + 5])) {
        CString strValue;
        if (ScanAttribute(p, node.nStart + 5, node.nStart + node.nLength - 2, L"encoding", strValue, pnAt, pnLen))
            return strValue;
        return CString();
    }
    // The first element must be "html".
    bool bHtml = false, bHead = false;
    for (i = 0; i < n; i = node.nStart + node.nLength) {
        XmlNextNode(p, n, i, node);
        if (node.nKind == XNODE_END || node.nKind == XNODE_FAULT)
            break;
        if (node.nKind != XNODE_ELEMENT)
            continue;
        if (!bHtml) {
            if (!TagNameIs(p, node, L"html"))
                break;
            bHtml = true;
            continue;
        }
        if (TagNameIs(p, node, L"head")) {
            bHead = true;
            continue;
        }
        if (bHead && TagNameIs(p, node, L"meta")) {
            int nFrom = node.nStart + 1 + node.nNameLen, nTo = node.nStart + node.nLength - 1;
            CString strEquiv, strContent;
            int nContent = 0, nContentLen = 0;
            if (ScanAttribute(p, nFrom, nTo, L"http-equiv", strEquiv) && strEquiv.GetLength() == 12 &&
                ScanAttribute(p, nFrom, nTo, L"content", strContent, &nContent, &nContentLen)) {
                CString strLow;
                for (int k = 0; k < strEquiv.GetLength(); ++k) {
                    wchar_t c = strEquiv.GetAt(k);
                    strLow += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
                }
                if (strLow == L"content-type") {
                    const wchar_t* c = strContent.GetString();
                    int nc = strContent.GetLength();
                    for (int k = 0; k + 7 <= nc; ++k) {
                        bool bCharset = true;
                        for (int m = 0; m < 7 && bCharset; ++m) {
                            wchar_t a = c[k + m];
                            if (a >= L'A' && a <= L'Z')
                                a += 32;
                            bCharset = a == L"charset"[m];
                        }
                        if (!bCharset)
                            continue;
                        int j = k + 7;
                        while (j < nc && XmlIsSpace(c[j]))
                            ++j;
                        if (j >= nc || c[j] != L'=')
                            continue;
                        ++j;
                        while (j < nc && XmlIsSpace(c[j]))
                            ++j;
                        int e = j;
                        while (e < nc && !XmlIsSpace(c[e]) && c[e] != L';' && c[e] != L'"' && c[e] != L'\'')
                            ++e;
                        // Where the name stands in p is known only when the value held no
                        // reference (decoding one always shortens the value).
                        if (pnAt && pnLen && nc == nContentLen) {
                            *pnAt = nContent + j;
                            *pnLen = e - j;
                        }
                        return CString(c + j, e - j);
                    }
                }
            }
        }
    }
    return CString();
}

bool XmlDecodeFileBytes(std::string& bytes, CString& strText, CString& strLog, int& nFlags)
{
    strText.Empty();
    nFlags &= ~(CXmlDocument::FLAG_BOM_UTF8 | CXmlDocument::FLAG_BOM_UTF16LE | CXmlDocument::FLAG_BOM_UTF16BE);
    if (bytes.empty())
        return true;
    const unsigned char* u = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t nHead = n < 1024 ? n : 1024;
    size_t nSkip = 0;
    CString strEncoding;
    bool bKnown = false;
    if (nHead >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
        nFlags |= CXmlDocument::FLAG_BOM_UTF8;
        strEncoding = L"UTF-8";
        nSkip = 3;
    } else if (nHead >= 2 && u[0] == 0xFF && u[1] == 0xFE) {
        nFlags |= CXmlDocument::FLAG_BOM_UTF16LE;
        strEncoding = L"UTF-16LE";
        nSkip = 2;
    } else if (nHead >= 2 && u[0] == 0xFE && u[1] == 0xFF) {
        nFlags |= CXmlDocument::FLAG_BOM_UTF16BE;
        strEncoding = L"UTF-16BE";
        nSkip = 2;
    }
    if (nSkip) {
        bKnown = true;
        LogEntry(strLog, L"bom");
    } else {
        // Zero bytes are skipped here so that a declaration in UTF-16 text without a mark is found.
        std::string head;
        for (size_t i = 0; i < nHead; ++i)
            if (u[i])
                head += static_cast<char>(u[i]);
        std::wstring w;
        DecodeUtf8(head.data(), head.size(), w);
        strEncoding = XmlDeclaredEncoding(w.c_str(), static_cast<int>(w.size()));
        if (!strEncoding.IsEmpty())
            bKnown = true;
        else if (u[0] == '<') {
            strEncoding = L"UTF-8";
            bKnown = true;
        }
    }
    unsigned cp = bKnown ? CodePageOf(strEncoding) : 0;
    int nWidth = (cp == CP_UTF16LE || cp == CP_UTF16BE) ? 2 : (cp == CP_UTF32LE || cp == CP_UTF32BE) ? 4 : 1;

    // Drop zero characters of the encoding's unit width, in place.
    size_t nBody = n - nSkip;
    nBody -= nBody % nWidth;
    char* pBody = &bytes[0];
    size_t nOut = 0;
    long long nNulls = 0;
    for (size_t i = 0; i < nBody; i += nWidth) {
        const char* q = pBody + nSkip + i;
        bool bZero = true;
        for (int k = 0; k < nWidth; ++k)
            if (q[k])
                bZero = false;
        if (bZero) {
            ++nNulls;
        } else {
            for (int k = 0; k < nWidth; ++k)
                pBody[nOut + k] = q[k];
            nOut += nWidth;
        }
    }
    bytes.resize(nOut);
    if (nNulls)
        LogEntry(strLog, L"nulls_removed", L"count", XmlIntText(nNulls));
    if (cp == CP_UTF16BE)
        LogEntry(strLog, L"endian_swap");
    LogEntry(strLog, L"read", L"encoding", strEncoding, L"length", XmlIntText(static_cast<long long>(n - nSkip)));
    if (!bKnown) {
        if (IsValidUtf8(bytes.data(), bytes.size())) {
            strEncoding = L"UTF-8";
            cp = CP_UTF8_;
        } else {
            strEncoding.Empty();
            cp = 0;
        }
        LogEntry(strLog, L"utf8_detection");
    }
    // The text is indexed with int offsets.
    if (bytes.size() > 0x3FFFFFF0u) {
        LogEntry(strLog, L"file_error", L"msg", L"file too large", L"n", L"223");
        return false;
    }
    // Decode straight into the text's own buffer: no second copy of a large file.
    const int nBytes = static_cast<int>(bytes.size());
    size_t nUnits = 0;
    if (cp == CP_UTF16LE || cp == CP_UTF16BE) {
        nUnits = nBytes / 2;
        wchar_t* d = strText.GetBufferSetLength(static_cast<int>(nUnits));
        const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
        for (size_t i = 0; i < nUnits; ++i)
            d[i] = static_cast<wchar_t>(cp == CP_UTF16BE ? (b[2 * i] << 8) | b[2 * i + 1] : (b[2 * i + 1] << 8) | b[2 * i]);
    } else if (cp == CP_UTF32LE || cp == CP_UTF32BE) {
        wchar_t* d = strText.GetBufferSetLength(nBytes / 2);
        nUnits = DecodeUtf32(bytes.data(), bytes.size(), cp == CP_UTF32BE, d);
    } else if (cp == CP_UTF8_) {
        wchar_t* d = strText.GetBufferSetLength(nBytes);
        nUnits = DecodeUtf8(bytes.data(), bytes.size(), d);
    } else {
        std::wstring w;
        if (!XmlPort::ToUtf16(cp ? cp : XmlPort::AnsiCodePage(), bytes.data(), bytes.size(), w))
            DecodeUtf8(bytes.data(), bytes.size(), w);   // unknown to the system: keep what is readable
        nUnits = w.size();
        wchar_t* d = strText.GetBufferSetLength(static_cast<int>(nUnits));
        if (nUnits)
            memcpy(d, w.data(), nUnits * sizeof(wchar_t));
    }
    strText.ReleaseBuffer(static_cast<int>(nUnits));
    std::string().swap(bytes);
    LogEntry(strLog, L"converted_to", L"encoding", strEncoding, L"length", XmlIntText(static_cast<long long>(nUnits)));
    return true;
}

namespace {

// The bytes of the text in one encoding: UTF-16 units as they are, UTF-8 and UTF-32 by the
// class's own coders, everything else through the code page.
// bLost tells that a character had no equivalent.
void EncodeText(const CString& strText, const CString& strEncoding, std::string& bytes, CString& strLog, bool& bLost)
{
    unsigned cp = CodePageOf(strEncoding);
    const wchar_t* p = strText.GetString();
    size_t n = static_cast<size_t>(strText.GetLength());
    bLost = false;
    if (cp == CP_UTF16LE || cp == CP_UTF16BE) {
        if (cp == CP_UTF16BE)
            LogEntry(strLog, L"endian_swap");
        AppendUtf16(p, n, cp == CP_UTF16BE, bytes);
        return;
    }
    if (cp == CP_UTF8_) {
        EncodeUtf8(p, n, bytes, bLost);
    } else if (cp == CP_UTF32LE || cp == CP_UTF32BE) {
        EncodeUtf32(p, n, cp == CP_UTF32BE, bytes, bLost);
    } else {
        std::string out;
        unsigned cpUse = cp ? cp : XmlPort::AnsiCodePage();
        if (!XmlPort::FromUtf16(cpUse, p, n, out, !NoLossCheck(cpUse), bLost)) {
            // A code page the system cannot write: keep the text rather than lose it.
            out.clear();
            EncodeUtf8(p, n, out, bLost);
            bLost = true;
        }
        bytes += out;
    }
    LogEntry(strLog, L"converted_from", L"encoding", strEncoding, L"length", XmlIntText(static_cast<long long>(n)));
    if (bLost)
        LogEntry(strLog, L"conversion_loss");
}

// True when loading the bytes gives back exactly the text: the check that the encoding held
// every character and that the reader finds the same encoding again (some encodings, such as
// UTF-7 or EBCDIC, do not keep the markup of the declaration readable).
// bUtf8OrMarked: the bytes are the text in UTF-8 or behind a mark, and bLost the encoder's
// report. Such bytes are certain to read back the same when no character was lost, the text
// holds no zero character (loading drops those) and an unmarked text does not begin with the
// UTF-8 mark's character: a mark decides the reading, and without one every declaration the
// reader can find in its first bytes is one the writer found too, so it reads UTF-8. Only the
// other encodings are decoded again, which would double the time of saving a large file.
bool ReadsBackTheSame(const std::string& bytes, const CString& strText, bool bUtf8OrMarked, bool bLost, bool bMarked)
{
    const size_t n = static_cast<size_t>(strText.GetLength());
    if (bUtf8OrMarked && !bLost && bytes.size() <= 0x3FFFFFF0u && (bMarked || n == 0 || strText.GetAt(0) != 0xFEFF) &&
        wmemchr(strText.GetString(), L'\0', n) == nullptr)
        return true;
    std::string copy(bytes);
    CString strBack, strLog;
    int nFlags = 0;
    if (!XmlDecodeFileBytes(copy, strBack, strLog, nFlags))
        return false;
    return strBack.GetLength() == strText.GetLength() &&
        wmemcmp(strBack.GetString(), strText.GetString(), static_cast<size_t>(strText.GetLength())) == 0;
}

} // namespace

bool XmlEncodeFileBytes(const CString& strText, std::string& bytes, CString& strLog, int nFlags)
{
    bytes.clear();
    CString strEncoding;
    if (nFlags & CXmlDocument::FLAG_BOM_UTF8) {
        strEncoding = L"UTF-8";
        bytes = "\xEF\xBB\xBF";
    } else if (nFlags & CXmlDocument::FLAG_BOM_UTF16LE) {
        strEncoding = L"UTF-16LE";
        bytes = "\xFF\xFE";
    } else if (nFlags & CXmlDocument::FLAG_BOM_UTF16BE) {
        strEncoding = L"UTF-16BE";
        bytes = "\xFE\xFF";
    }
    const bool bMarked = !bytes.empty();
    int nNameAt = -1, nNameLen = 0;
    if (bMarked) {
        LogEntry(strLog, L"bom");
    } else {
        int nHead = strText.GetLength() < 1024 ? strText.GetLength() : 1024;
        strEncoding = XmlDeclaredEncoding(strText.GetString(), nHead, &nNameAt, &nNameLen);
        if (strEncoding.IsEmpty())
            strEncoding = L"UTF-8";
    }
    bool bLost = false;
    EncodeText(strText, strEncoding, bytes, strLog, bLost);
    const unsigned cp = CodePageOf(strEncoding);
    if (ReadsBackTheSame(bytes, strText, bMarked || cp == CP_UTF8_, bLost, bMarked)) {
        LogEntry(strLog, L"write", L"encoding", strEncoding, L"length", XmlIntText(static_cast<long long>(bytes.size())));
        return true;
    }
    // The declared encoding cannot hold the text, or cannot be read back: the file is written
    // as UTF-8 instead, and its declaration says so (a declaration is put first when the
    // declared name cannot be replaced where it stands).
    if (bMarked || cp == CP_UTF8_) {
        bytes.clear();
        return false;
    }
    CString strUtf8Text;
    if (nNameAt >= 0) {
        strUtf8Text = strText.Left(nNameAt);
        strUtf8Text += L"UTF-8";
        strUtf8Text += strText.Mid(nNameAt + nNameLen, strText.GetLength() - nNameAt - nNameLen);
    } else {
        strUtf8Text = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
        strUtf8Text += strText;
    }
    LogEntry(strLog, L"encoding_replaced", L"from", strEncoding, L"to", L"UTF-8");
    bytes.clear();
    EncodeText(strUtf8Text, L"UTF-8", bytes, strLog, bLost);
    if (!ReadsBackTheSame(bytes, strUtf8Text, true, bLost, false)) {
        bytes.clear();
        return false;
    }
    LogEntry(strLog, L"write", L"encoding", L"UTF-8", L"length", XmlIntText(static_cast<long long>(bytes.size())));
    return true;
}

bool CXmlDocument::ReadTextFile(const wchar_t* pszPath, CString& strText, CString& strLog, int& nFlags)
{
    strText.Empty();
    std::string bytes;
    unsigned nError = 0;
    if (!pszPath || !XmlPort::ReadWholeFile(pszPath, bytes, nError)) {
        if (!pszPath)
            nError = 87;   // invalid parameter
        LogEntry(strLog, L"file_error", L"msg", XmlPort::ErrorText(nError), L"n", XmlIntText(nError));
        return false;
    }
    return XmlDecodeFileBytes(bytes, strText, strLog, nFlags);
}

bool CXmlDocument::WriteTextFile(const wchar_t* pszPath, const CString& strText, CString& strLog, int& nFlags)
{
    std::string bytes;
    try {
        if (!XmlEncodeFileBytes(strText, bytes, strLog, nFlags)) {
            // No encoding the file may be written in reads back as the text: nothing is written.
            const unsigned nNoMapping = 1113;
            LogEntry(strLog, L"file_error", L"msg", XmlPort::ErrorText(nNoMapping), L"n", XmlIntText(nNoMapping));
            XmlPort::SetLastErrorCode(nNoMapping);
            return false;
        }
    } catch (const std::bad_alloc&) {
        LogEntry(strLog, L"file_error", L"msg", L"out of memory", L"n", L"8");
        return false;
    }
    unsigned nError = 0;
    int nStage = 0;
    if (!pszPath || !XmlPort::WriteFileReplacing(pszPath, bytes.data(), bytes.size(), nError, nStage)) {
        if (!pszPath)
            nError = 87;
        LogEntry(strLog, L"file_error", L"msg", XmlPort::ErrorText(nError), L"n", XmlIntText(nError));
        return false;
    }
    return true;
}
