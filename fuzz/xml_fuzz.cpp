// Fuzzer of the XML document class: file decoding, parsing, navigation, reading and editing.
// Builds on its own natively:
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address fuzz/xml_fuzz.cpp -o xml_fuzz
// Input: one control byte choosing how the rest is taken, the document bytes, and after a
// 0xFF 0x00 separator (if any) a script of navigation and edit steps.

#include "../core/xml/XmlDocument.cpp"
#include "../core/xml/XmlEncoding.cpp"
#include "../core/xml/XmlParse.cpp"
#include "../core/xml/XmlPort.cpp"
#include "../tests/core/xml/XmlInspector.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Fail(const char* what, const std::string& detail)
{
    fprintf(stderr, "%s: %s\n", what, detail.c_str());
    abort();
}

void CheckTree(const CXmlDocument& doc, const char* where)
{
    std::string s = CXmlDocumentInspector::Check(doc);
    if (!s.empty())
        Fail(where, s);
}

const wchar_t* const kNames[] = {L"path", L"a", L"InitInfo", L"r", nullptr, L"p", L"x"};
// Values are UTF-16 units, also where wchar_t is wider.
const wchar_t* const kValues[] = {nullptr, L"", L"0", L"x<y&z", L"]]>", L"a\"b'c", L"&amp;&#65;", L"\xD83D\xDE00"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    uint8_t mode = data[0];
    size_t nDoc = size - 1;
    const uint8_t* script = nullptr;
    size_t nScript = 0;
    for (size_t i = 1; i + 1 < size; ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0x00) {
            nDoc = i - 1;
            script = data + i + 2;
            nScript = size - i - 2;
            break;
        }
    }
    std::string bytes(reinterpret_cast<const char*>(data + 1), nDoc);
    CString strText, strLog;
    int nFlags = 0;
    if (mode & 1) {
        // Raw UTF-16LE units straight into the parser.
        std::wstring w;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            wchar_t c = static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
            if (c)
                w += c;
        }
        strText = CString(w);
    } else {
        XmlDecodeFileBytes(bytes, strText, strLog, nFlags);
    }
    CXmlDocument doc;
    bool bWellFormed = doc.SetDocText(strText);
    CheckTree(doc, "parse");
    if (doc.GetResultLog().GetLength() > 2500)
        Fail("log", "result log over its limit");

    // Walk everything once, reading names, attributes and data.
    doc.ResetPosition();
    int nSteps = 0;
    while (doc.FindChildElement(nullptr) && nSteps < 5000) {
        ++nSteps;
        (void)doc.GetTagNameAt(doc.GetChildPos());
        (void)doc.GetChildAttribute(L"path");
        (void)doc.GetChildData();
        if (doc.EnterElement()) {
            if (!doc.FindChildElement(nullptr))
                doc.LeaveElement();
            else
                doc.LeaveElement();
        }
    }

    // Scripted edits.
    doc.ResetPosition();
    for (size_t i = 0; i + 1 < nScript; i += 2) {
        uint8_t op = script[i], arg = script[i + 1];
        const wchar_t* name = kNames[arg % 7];
        const wchar_t* value = kValues[(arg >> 3) % 8];
        switch (op % 14) {
        case 0: doc.FindElement(name); break;
        case 1: doc.FindChildElement(name); break;
        case 2: doc.EnterElement(); break;
        case 3: doc.LeaveElement(); break;
        case 4: doc.ResetPosition(); break;
        case 5: doc.AddElement(name ? name : L"n", value, (arg & 0x7) | ((arg & 0x40) ? 0x2000 : 0)); break;
        case 6: doc.AddElement(name ? name : L"n", value, 0x4000 | ((arg & 0x40) ? 0x2000 : 0) | (arg & 0x3)); break;
        case 7: doc.RemoveChildElement(); break;
        case 8: doc.RemoveElementAt(doc.GetCurrentPos()); break;
        case 9: doc.SetChildData(value); break;
        case 10: doc.SetDataAt(doc.GetCurrentPos(), value); break;
        case 11: doc.SetChildAttribute(name ? name : L"v", value); break;
        case 12: doc.SetAttributeInt(name ? name : L"n", arg); break;
        case 13: (void)doc.GetDataAt(doc.GetCurrentPos()); break;
        }
        CheckTree(doc, "edit");
    }
    // A document that was well-formed and stays so must index the same elements as a fresh
    // parse of its edited text.
    if (bWellFormed && nScript) {
        CXmlDocument fresh(doc.GetDocText());
        if (fresh.IsWellFormed()) {
            std::string a = CXmlDocumentInspector::Shape(doc), b = CXmlDocumentInspector::Shape(fresh);
            if (a != b)
                Fail("edit", "edited tree differs from a fresh parse:\n" + a + "\n" + b);
        }
    }
    // What a save writes, a load reads back as the same text; when the save had to fall back
    // to UTF-8, the text with its declaration naming UTF-8, which a second save keeps.
    std::string out;
    CString strSaveLog;
    if (XmlEncodeFileBytes(doc.GetDocText(), out, strSaveLog, nFlags)) {
        std::string again(out);
        CString strBack, strBackLog;
        int nBackFlags = 0;
        if (!XmlDecodeFileBytes(again, strBack, strBackLog, nBackFlags))
            Fail("save", "saved bytes do not load");
        if (strSaveLog.str().find(L"<encoding_replaced ") == std::wstring::npos) {
            if (!(strBack == doc.GetDocText()))
                Fail("save", "saved text reads back otherwise");
        } else {
            std::string second;
            CString strSecondLog;
            if (!XmlEncodeFileBytes(strBack, second, strSecondLog, nBackFlags) || second != out)
                Fail("save", "text saved as UTF-8 does not save the same again");
        }
    } else if (!out.empty()) {
        Fail("save", "a refused save left bytes to write");
    }
    return 0;
}
