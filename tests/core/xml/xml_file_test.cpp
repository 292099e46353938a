// Loading and saving CXmlDocument files: marks, declared encodings, code pages, faults of the
// file itself, saves that a new start reads back the same, and the crash-safe replace of the old file.

#include <gtest/gtest.h>

#include "DataFiles.h"
#include "SelectionFiles.h"
#include "SettingsStore.h"
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

namespace {

std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Replaced(std::wstring s, const std::wstring& from, const std::wstring& to)
{
    size_t i = s.find(from);
    if (i != std::wstring::npos)
        s.replace(i, from.size(), to);
    return s;
}

} // namespace

// A file is written in the encoding its text declares, as long as that encoding holds the text
// so that a fresh load reads it the same; otherwise it is written as UTF-8 and its declaration
// says so. Either way a new start finds every setting and every path as it was saved.
TEST_F(XmlFile, ASaveReadsBackTheSameOrFallsBackToUtf8)
{
    const struct {
        const char* what;
        std::string bytes;       // the file as it was found
        const wchar_t* setting;  // element whose text is changed (or null)
        const wchar_t* path;     // path added to the list (or null)
        const wchar_t* oldName;  // declared name that must give way to UTF-8; null: the file keeps it
        std::string kept;        // with oldName null: the bytes the save must write
    } cases[] = {
        {"UTF-7 settings",
         "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\r\n<InitInfo>\r\n<Compress>0</Compress>\r\n"
         "<Language>0x0409</Language>\r\n</InitInfo>\r\n",
         L"Compress", nullptr, L"UTF-7", ""},
        {"shift_jis selection, Latin path",
         "<?xml version=\"1.0\" encoding=\"shift_jis\"?>\r\n<filepath>\r\n<path path=\"C:\\\x93\xFA\x96\x7B\"/>\r\n"
         "</filepath>\r\n",
         nullptr, L"C:\\caf\u00e9", L"shift_jis", ""},
        {"big5 selection, Latin path",
         "<?xml version='1.0' encoding='big5'?>\r\n<filepath>\r\n<path path=\"C:\\\xA4\xA4\xA4\xE5\"/>\r\n</filepath>\r\n",
         nullptr, L"C:\\caf\u00e9", L"big5", ""},
        {"iso-8859-1 selection, CJK path",
         "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<filepath>\r\n<path path=\"C:\\caf\xE9\"/>\r\n</filepath>\r\n",
         nullptr, L"C:\\\u4f60\u597d", L"iso-8859-1", ""},
        {"unquoted declaration",
         "<?xml version=1.0 encoding=latin1 ?><filepath>\r\n</filepath>\r\n", nullptr, L"C:\\\u4f60", L"latin1", ""},
        {"HTML meta charset",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"></meta></head>"
         "<filepath>\r\n</filepath></html>",
         nullptr, L"\u4f60", L"windows-1252", ""},
        // What the declared encoding holds stays in it, byte for byte.
        {"shift_jis selection, Japanese path",
         "<?xml version=\"1.0\" encoding=\"shift_jis\"?>\r\n<filepath>\r\n<path path=\"C:\\\x93\xFA\x96\x7B\"/>\r\n"
         "</filepath>\r\n",
         nullptr, L"D:\\\u65e5", nullptr,
         "<?xml version=\"1.0\" encoding=\"shift_jis\"?>\r\n<filepath>\r\n<path path=\"C:\\\x93\xFA\x96\x7B\"/>\r\n"
         "<path path=\"D:\\\x93\xFA\"/>\r\n</filepath>\r\n"},
        {"iso-8859-1 selection, Latin path",
         "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<filepath>\r\n</filepath>\r\n", nullptr,
         L"C:\\\u00fcber", nullptr,
         "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<filepath>\r\n<path path=\"C:\\\xFC" "ber\"/>\r\n"
         "</filepath>\r\n"},
        {"UTF-7 settings, unchanged text", "<?xml version=\"1.0\" encoding=\"UTF-7\"?><InitInfo>0</InitInfo>",
         nullptr, nullptr, L"UTF-7", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(L"data.xml", c.bytes);
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadFile(Path(L"data.xml").c_str())) << doc.GetResultLog().GetString();
        doc.ResetPosition();
        if (c.setting) {
            ASSERT_TRUE(doc.FindChildElement(c.setting));
            ASSERT_TRUE(doc.SetChildData(L"1"));
        }
        if (c.path) {
            ASSERT_TRUE(doc.FindElement(L"html") ? doc.FindChildElement(L"filepath") && doc.EnterElement()
                                                  : doc.FindElement(L"filepath"));
            ASSERT_TRUE(doc.AddChildElement(L"path"));
            ASSERT_TRUE(doc.SetChildAttribute(L"path", c.path));
        }
        const std::wstring text = doc.GetDocText().GetString();
        ASSERT_TRUE(doc.SaveFile(Path(L"data.xml").c_str())) << doc.GetResultLog().GetString();

        // What a new start reads.
        std::wstring expected = text;
        if (c.oldName) {
            expected = Replaced(text, std::wstring(c.oldName), L"UTF-8");
            EXPECT_EQ(Read(L"data.xml"), Utf8(expected));
        } else {
            EXPECT_EQ(Read(L"data.xml"), c.kept);
        }
        CXmlDocument fresh;
        ASSERT_TRUE(fresh.LoadFile(Path(L"data.xml").c_str())) << fresh.GetResultLog().GetString();
        EXPECT_EQ(std::wstring(fresh.GetDocText().GetString()), expected);
        if (c.path) {
            fresh.ResetPosition();
            ASSERT_TRUE(fresh.FindElement(L"html") ? fresh.FindChildElement(L"filepath") && fresh.EnterElement()
                                                    : fresh.FindElement(L"filepath"));
            CString last;
            while (fresh.FindChildElement(L"path"))
                last = fresh.GetChildAttribute(L"path");
            EXPECT_STREQ(last.GetString(), c.path);
        }
        // A second save of the fresh document writes the same bytes again.
        std::string first = Read(L"data.xml");
        ASSERT_TRUE(fresh.SaveFile(Path(L"data.xml").c_str()));
        EXPECT_EQ(Read(L"data.xml"), first);
    }
}

// A text that no encoding the save may use can write so that it reads back the same (a lone
// surrogate, which a file name may hold) is not written: the save fails and the old file stays.
TEST_F(XmlFile, ASaveThatCannotReadBackTheSameFailsAndKeepsTheOldFile)
{
    const std::string old = "<filepath>\r\n<path path=\"C:\\a\"/>\r\n</filepath>\r\n";
    for (const wchar_t* declared : {L"", L"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>",
                                    L"<?xml version=\"1.0\" encoding=\"UTF-7\"?>"}) {
        SCOPED_TRACE(declared);
        Write(L"sel.xml", old);
        CXmlDocument doc;
        ASSERT_TRUE(doc.SetDocText((std::wstring(declared) + L"<filepath>\r\n</filepath>\r\n").c_str()));
        ASSERT_TRUE(doc.FindElement(L"filepath"));
        ASSERT_TRUE(doc.AddChildElement(L"path"));
        ASSERT_TRUE(doc.SetChildAttribute(L"path", L"C:\\x\xD800y"));
        EXPECT_FALSE(doc.SaveFile(Path(L"sel.xml").c_str()));
        EXPECT_NE(doc.GetResultLog().Find(L"<file_error msg=\""), -1) << doc.GetResultLog().GetString();
        EXPECT_NE(doc.GetResultLog().Find(L" n=\"1113\"/>"), -1) << doc.GetResultLog().GetString();
        EXPECT_EQ(Read(L"sel.xml"), old);
        EXPECT_EQ(Files().size(), 1u);
    }
    // The same text in a file with a UTF-16 mark holds every unit as it is.
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocText(L"<r>\xDC00</r>"));
    int flags = CXmlDocument::FLAG_BOM_UTF16LE;
    CString log;
    ASSERT_TRUE(CXmlDocument::WriteTextFile(Path(L"sel.xml").c_str(), doc.GetDocText(), log, flags));
    ASSERT_TRUE(doc.LoadFile(Path(L"sel.xml").c_str()));
    EXPECT_EQ(doc.GetDocText(), L"<r>\xDC00</r>");
}

// The callers that report a save's result: a settings file declared in UTF-7 keeps its settings
// over a write and a new start, and a save that cannot be made is reported with the old files
// left as they were.
TEST_F(XmlFile, CallersReportWhatTheSaveDid)
{
    const CString folder = m_dir.substr(0, m_dir.size() - 1).c_str();
    const std::string init = "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\r\n<InitInfo>\r\n<Compress>0</Compress>\r\n"
                             "<AutoShutdown>1</AutoShutdown>\r\n</InitInfo>\r\n";
    Write(L"init.xml", init);
    EXPECT_EQ(SaveInitValueIn(folder, L"Compress", L"1"), SettingsWrite::Saved);
    CXmlDocument doc;
    bool defaults = true;
    ASSERT_TRUE(LoadSettings(doc, folder, &defaults));
    EXPECT_FALSE(defaults);
    EXPECT_STREQ(GetSettingText(doc, L"Compress").GetString(), L"1");
    EXPECT_STREQ(GetSettingText(doc, L"AutoShutdown").GetString(), L"1");

    const std::string saved = Read(L"init.xml");
    EXPECT_EQ(SaveInitValueIn(folder, L"Compress", L"\xD800"), SettingsWrite::Failed);
    EXPECT_EQ(Read(L"init.xml"), saved);

    Write(L"list.xml", "<filepath/>");
    DWORD error = 0;
    EXPECT_FALSE(WritePathListFile(Path(L"list.xml").c_str(), {L"C:\\a", L"C:\\b\xDC00"}, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Read(L"list.xml"), "<filepath/>");

    CSelectionFiles files(folder);
    CSelection sel;
    sel.Check(L"C:\\ok");
    ASSERT_TRUE(files.Write(sel));
    const std::string nested = Read(L"filepath.xml"), flat = Read(L"backupfullpath.xml");
    sel.Check(L"C:\\bad\xDBFF");
    error = 0;
    EXPECT_FALSE(files.Write(sel, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Read(L"filepath.xml"), nested);
    EXPECT_EQ(Read(L"backupfullpath.xml"), flat);
    EXPECT_EQ(Files().size(), 4u);
}
