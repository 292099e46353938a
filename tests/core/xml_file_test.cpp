// Loading and saving CXmlDocument files: marks, declared encodings, code pages, faults of the
// file itself, and the crash-safe replace of the old file.

#include <gtest/gtest.h>

#include "XmlDocument.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        m_dir = std::wstring(tmp) + L"zul_xml_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount()) + L"\\";
        CreateDirectoryW(m_dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::wstring& f : Files())
            DeleteFileW((m_dir + f).c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring Path(const wchar_t* name) const { return m_dir + name; }
    void Write(const wchar_t* name, const std::string& bytes) const
    {
        HANDLE h = CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(h);
    }
    std::string Read(const wchar_t* name) const
    {
        std::string s;
        HANDLE h = CreateFileW(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n)
            s.append(buf, n);
        CloseHandle(h);
        return s;
    }
    std::vector<std::wstring> Files() const
    {
        std::vector<std::wstring> v;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((m_dir + L"*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            return v;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                v.push_back(fd.cFileName);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return v;
    }
    std::wstring m_dir;
};

std::string Utf16(const std::wstring& w, bool bBigEndian)
{
    std::string s;
    for (wchar_t c : w) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
        s += bBigEndian ? hi : lo;
        s += bBigEndian ? lo : hi;
    }
    return s;
}

std::string Utf32(const std::wstring& w)
{
    std::string s;
    for (size_t i = 0; i < w.size(); ++i) {
        unsigned cp = w[i] & 0xFFFF;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + ((w[i + 1] & 0xFFFF) - 0xDC00);
            ++i;
        }
        for (int k = 0; k < 4; ++k)
            s += static_cast<char>((cp >> (8 * k)) & 0xFF);
    }
    return s;
}

} // namespace

TEST_F(XmlFile, EveryEncodingRoundTripsByteForByte)
{
    const std::wstring body = L"<r a=\"\u00e9\">caf\u00e9 \u4f60\u597d \xD83D\xDE00</r>\r\n";
    const std::wstring latin = L"<r a=\"\u00e9\">caf\u00e9</r>\r\n";
    const struct {
        const char* what;
        std::string bytes;
        std::wstring data;
        int flags;
    } cases[] = {
        {"UTF-8 without mark", "<r a=\"\xC3\xA9\">caf\xC3\xA9 \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80</r>\r\n",
         L"caf\u00e9 \u4f60\u597d \xD83D\xDE00", 0},
        {"UTF-8 with mark", "\xEF\xBB\xBF<r a=\"\xC3\xA9\">caf\xC3\xA9 \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80</r>\r\n",
         L"caf\u00e9 \u4f60\u597d \xD83D\xDE00", CXmlDocument::FLAG_BOM_UTF8},
        {"UTF-16LE with mark", "\xFF\xFE" + Utf16(body, false), L"caf\u00e9 \u4f60\u597d \xD83D\xDE00",
         CXmlDocument::FLAG_BOM_UTF16LE},
        {"UTF-16BE with mark", "\xFE\xFF" + Utf16(body, true), L"caf\u00e9 \u4f60\u597d \xD83D\xDE00",
         CXmlDocument::FLAG_BOM_UTF16BE},
        {"UTF-16 declared, no mark", Utf16(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body, false),
         L"caf\u00e9 \u4f60\u597d \xD83D\xDE00", 0},
        {"UTF-32 declared", Utf32(L"<?xml version=\"1.0\" encoding=\"utf-32\"?>" + body),
         L"caf\u00e9 \u4f60\u597d \xD83D\xDE00", 0},
        {"windows-1252 declared", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r a=\"\xE9\">caf\xE9</r>\r\n",
         L"caf\u00e9", 0},
        {"ISO-8859-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<r a=\"\xE9\">caf\xE9</r>\r\n",
         L"caf\u00e9", 0},
        {"gb2312 declared", "<?xml version=\"1.0\" encoding=\"gb2312\"?><r a=\"x\">\xC4\xE3\xBA\xC3</r>",
         L"\u4f60\u597d", 0},
        {"HTML meta charset",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"></meta></head>"
         "<body>caf\xE9</body></html>",
         L"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(L"in.xml", c.bytes);
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadFile(Path(L"in.xml").c_str())) << doc.GetResultLog().GetString();
        EXPECT_EQ(doc.GetDocFlags(), c.flags);
        doc.ResetPosition();
        if (doc.FindChildElement(L"body")) {
            EXPECT_EQ(doc.GetChildData(), L"caf\u00e9");
        } else {
            doc.ResetPosition();
            ASSERT_TRUE(doc.FindElement(L"r"));
            EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), c.data.c_str());
        }
        ASSERT_TRUE(doc.SaveFile(Path(L"out.xml").c_str())) << doc.GetResultLog().GetString();
        EXPECT_EQ(Read(L"out.xml"), c.bytes);
    }
}

TEST_F(XmlFile, MarksAndTheGuessWithoutThem)
{
    // The load's result log, entry by entry.
    Write(L"be.xml", "\xFE\xFF" + Utf16(L"<r/>", true));
    CXmlDocument be;
    ASSERT_TRUE(be.LoadFile(Path(L"be.xml").c_str()));
    EXPECT_EQ(be.GetResultLog(), L"<bom/><endian_swap/><read encoding=\"UTF-16BE\" length=\"8\"/>"
                                 L"<converted_to encoding=\"UTF-16BE\" length=\"4\"/>");
    ASSERT_TRUE(be.SaveFile(Path(L"be2.xml").c_str()));
    EXPECT_EQ(be.GetResultLog().Mid(be.GetResultLog().Find(L"<bom/><endian_swap/><write")),
              L"<bom/><endian_swap/><write encoding=\"UTF-16BE\" length=\"10\"/>");

    // Built in memory: UTF-8 without a mark.
    CXmlDocument built;
    built.AddElement(L"r", L"\u00e9");
    ASSERT_TRUE(built.SaveFile(Path(L"a.xml").c_str()));
    EXPECT_EQ(Read(L"a.xml"), "<r>\xC3\xA9</r>\r\n");

    // A mark read once is not carried into the next, unmarked file.
    Write(L"bom.xml", "\xEF\xBB\xBF<r/>");
    Write(L"plain.xml", "<r/>");
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path(L"bom.xml").c_str()));
    EXPECT_NE(doc.GetResultLog().Find(L"<bom/>"), -1);
    ASSERT_TRUE(doc.LoadFile(Path(L"plain.xml").c_str()));
    ASSERT_TRUE(doc.SaveFile(Path(L"b.xml").c_str()));
    EXPECT_EQ(Read(L"b.xml"), "<r/>");

    // No mark and no "<" first: UTF-8 when every byte sequence is valid, else the ANSI code page.
    Write(L"u8.xml", " <r>\xC3\xA9</r>");
    ASSERT_TRUE(doc.LoadFile(Path(L"u8.xml").c_str()));
    EXPECT_NE(doc.GetResultLog().Find(L"<utf8_detection/>"), -1);
    ASSERT_TRUE(doc.FindElement(L"r"));
    EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), L"\u00e9");
    if (GetACP() == 1252) {
        Write(L"ansi.xml", " <r>\xE9</r>");
        ASSERT_TRUE(doc.LoadFile(Path(L"ansi.xml").c_str()));
        ASSERT_TRUE(doc.FindElement(L"r"));
        EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), L"\u00e9");
    }
    // "<" first means UTF-8 even when the bytes are not: invalid sequences read as "?".
    Write(L"bad8.xml", "<r>\xE9\xFF</r>");
    ASSERT_TRUE(doc.LoadFile(Path(L"bad8.xml").c_str()));
    ASSERT_TRUE(doc.FindElement(L"r"));
    EXPECT_EQ(doc.GetDataAt(doc.GetCurrentPos()), L"??");

    // Zero bytes are dropped and counted.
    Write(L"zeros.xml", std::string("<r>a\0b</r>\0", 11));
    ASSERT_TRUE(doc.LoadFile(Path(L"zeros.xml").c_str()));
    EXPECT_NE(doc.GetResultLog().Find(L"<nulls_removed count=\"2\"/>"), -1);
    EXPECT_EQ(doc.GetDocText(), L"<r>ab</r>");

    // UTF-16LE without mark or declaration: its zero bytes drop out and the ASCII text remains.
    Write(L"u16.xml", Utf16(L"<r>x</r>", false));
    ASSERT_TRUE(doc.LoadFile(Path(L"u16.xml").c_str()));
    EXPECT_EQ(doc.GetDocText(), L"<r>x</r>");
}

TEST_F(XmlFile, FilesThatDoNotLoad)
{
    CXmlDocument doc(L"<old/>");
    EXPECT_FALSE(doc.LoadFile(Path(L"missing.xml").c_str()));
    EXPECT_NE(doc.GetResultLog().Find(L"<file_error msg=\""), -1);
    EXPECT_NE(doc.GetResultLog().Find(L" n=\"2\"/>"), -1);
    EXPECT_EQ(doc.GetDocText(), L"");
    EXPECT_FALSE(doc.FindChildElement(nullptr));

    Write(L"empty.xml", "");
    CString text, log;
    int flags = 0;
    EXPECT_TRUE(CXmlDocument::ReadTextFile(Path(L"empty.xml").c_str(), text, log, flags));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(doc.LoadFile(Path(L"empty.xml").c_str()));

    // Two top-level elements read, but the load reports failure.
    Write(L"two.xml", "<a/><b/>");
    EXPECT_FALSE(doc.LoadFile(Path(L"two.xml").c_str()));
    EXPECT_TRUE(doc.FindElement(L"b"));

    // Truncated and binary files load as not well-formed, without harm.
    Write(L"cut.xml", "<InitInfo>\r\n<Compress>1</Comp");
    EXPECT_FALSE(doc.LoadFile(Path(L"cut.xml").c_str()));
    // The unended top element's child moved up beside it.
    doc.ResetPosition();
    EXPECT_TRUE(doc.FindElement(L"Compress"));
    std::string bin;
    for (int i = 0; i < 70000; ++i)
        bin += static_cast<char>((i * 7919) >> 3);
    Write(L"bin.xml", bin);
    EXPECT_FALSE(doc.LoadFile(Path(L"bin.xml").c_str()));
    Write(L"odd16.xml", std::string("\xFF\xFE<\0r\0/\0>\0x", 11));
    EXPECT_TRUE(doc.LoadFile(Path(L"odd16.xml").c_str()));
    EXPECT_EQ(doc.GetDocText(), L"<r/>");
}

TEST_F(XmlFile, SaveReplacesTheOldFileInOneMove)
{
    Write(L"init.xml", "<InitInfo>\r\n<Compress>0</Compress>\r\n</InitInfo>\r\n");
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path(L"init.xml").c_str()));
    doc.ResetPosition();
    ASSERT_TRUE(doc.FindChildElement(L"Compress"));
    ASSERT_TRUE(doc.SetChildData(L"1"));
    ASSERT_TRUE(doc.SaveFile(Path(L"init.xml").c_str()));
    EXPECT_EQ(Read(L"init.xml"), "<InitInfo>\r\n<Compress>1</Compress>\r\n</InitInfo>\r\n");
    // Nothing but the file itself is left in the folder.
    std::vector<std::wstring> files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], L"init.xml");

    // A save that cannot complete leaves the old file as it was and no temporary file.
    CreateDirectoryW(Path(L"dir.xml").c_str(), nullptr);
    EXPECT_FALSE(doc.SaveFile(Path(L"dir.xml").c_str()));
    EXPECT_NE(doc.GetResultLog().Find(L"file_error"), -1);
    RemoveDirectoryW(Path(L"dir.xml").c_str());
    EXPECT_FALSE(doc.SaveFile((m_dir + L"no such folder\\x.xml").c_str()));
    files = Files();
    ASSERT_EQ(files.size(), 1u);

    SetFileAttributesW(Path(L"init.xml").c_str(), FILE_ATTRIBUTE_READONLY);
    doc.SetChildData(L"2");
    bool saved = doc.SaveFile(Path(L"init.xml").c_str());
    SetFileAttributesW(Path(L"init.xml").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Read(L"init.xml"), saved ? "<InitInfo>\r\n<Compress>2</Compress>\r\n</InitInfo>\r\n"
                                       : "<InitInfo>\r\n<Compress>1</Compress>\r\n</InitInfo>\r\n");
    EXPECT_EQ(Files().size(), 1u);

    // An empty text writes an empty file.
    CXmlDocument empty;
    ASSERT_TRUE(empty.SaveFile(Path(L"init.xml").c_str()));
    EXPECT_EQ(Read(L"init.xml"), "");
}
