#pragma once
// Consistency checks of a CXmlDocument's position records against its text, shared by the
// tests and the fuzzer: every live record must index exactly the element the text holds.

#include "../../../core/xml/XmlInternal.h"

#include <string>
#include <vector>

class CXmlDocumentInspector {
public:
    // Empty string when the tree is consistent, else a description of the first fault.
    static std::string Check(const CXmlDocument& doc)
    {
        if (!doc.m_pPosTree)
            return std::string();
        const CXmlPosTree& t = *doc.m_pPosTree;
        const wchar_t* p = doc.m_strDocText.GetString();
        const int nText = doc.m_strDocText.GetLength();
        if (t[0].nLength != nText)
            return "document length " + std::to_string(t[0].nLength) + " != " + std::to_string(nText);
        long long nVisited = 0;
        // Iterative walk: (parent, content start, content end) per level.
        struct Frame { int pos; int nFrom; int nTo; int posChild; int nLastEnd; };
        std::vector<Frame> stack;
        stack.push_back({0, 0, nText, t[0].posFirstChild, 0});
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (!f.posChild) {
                stack.pop_back();
                continue;
            }
            int c = f.posChild;
            if (c <= 0 || c >= doc.m_posNextFree)
                return "link out of range: " + std::to_string(c);
            const CXmlPosRecord& r = t[c];
            if (++nVisited > doc.m_posNextFree)
                return "cycle in the tree";
            if (r.nFlags & XREC_FREE)
                return "free record linked: " + std::to_string(c);
            if (r.posParent != f.pos)
                return "wrong parent at " + std::to_string(c);
            int posFirst = f.pos ? t[f.pos].posFirstChild : t[0].posFirstChild;
            if (((r.nFlags & XREC_FIRST_CHILD) != 0) != (c == posFirst))
                return "first-child flag wrong at " + std::to_string(c);
            if (c != posFirst && t[r.posPrev].posNext != c)
                return "previous link wrong at " + std::to_string(c);
            if (r.posNext == 0 && t[posFirst].posPrev != c)
                return "first child's previous is not the last child under " + std::to_string(f.pos);
            if (r.nStart < f.nLastEnd || r.nStart < f.nFrom || r.nStart + r.nLength > f.nTo)
                return "element " + std::to_string(c) + " outside its place";
            if (p[r.nStart] != L'<' || r.nStartTagLen < 2 || p[r.nStart + r.nStartTagLen - 1] != L'>')
                return "start tag of " + std::to_string(c) + " not at its offsets";
            if (r.nEndTagLen) {
                int e = r.nStart + r.nLength - r.nEndTagLen;
                if (r.nLength < r.nStartTagLen + r.nEndTagLen || p[e] != L'<' || p[e + 1] != L'/' ||
                    p[r.nStart + r.nLength - 1] != L'>')
                    return "end tag of " + std::to_string(c) + " not at its offsets";
            } else if (r.nLength != r.nStartTagLen) {
                return "element without end tag longer than its start tag: " + std::to_string(c);
            }
            f.nLastEnd = r.nStart + r.nLength;
            f.posChild = r.posNext;
            if (r.posFirstChild) {
                if (!r.nEndTagLen)
                    return "children under an element without end tag: " + std::to_string(c);
                stack.push_back({c, r.nStart + r.nStartTagLen, r.nStart + r.nLength - r.nEndTagLen, r.posFirstChild,
                                 r.nStart + r.nStartTagLen});
            }
        }
        return std::string();
    }

    // Shape of the tree as text (offsets and lengths in document order), to compare an edited
    // document with a fresh parse of its text.
    static std::string Shape(const CXmlDocument& doc)
    {
        std::string s;
        if (!doc.m_pPosTree)
            return s;
        const CXmlPosTree& t = *doc.m_pPosTree;
        int pos = t[0].posFirstChild;
        int depth = 0;
        while (pos) {
            const CXmlPosRecord& r = t[pos];
            s += std::to_string(depth) + ":" + std::to_string(r.nStart) + "," + std::to_string(r.nLength) + "," +
                std::to_string(r.nStartTagLen) + "," + std::to_string(r.nEndTagLen) + "," +
                std::to_string(r.nFlags & (XREC_UNENDED | XREC_CONTENT_FAULT)) + ";";
            if (r.posFirstChild) {
                pos = r.posFirstChild;
                ++depth;
                continue;
            }
            while (pos && t[pos].posNext == 0) {
                pos = t[pos].posParent;
                --depth;
            }
            if (pos)
                pos = t[pos].posNext;
        }
        return s;
    }
};
