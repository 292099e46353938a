// The check-box source tree as a window on a drive letter that stands for a private folder:
// clicks and their propagation, the selection files they write, random click sequences with
// reloads (the tree always equals what the files say, and a backup by the worker copies exactly
// what is checked), shell events, drive names, the placeholder, failed writes and the keyboard.

#include "BackUpEngine.h"
#include "BackUpThread.h"
#include "BackUpTreeCtrl.h"
#include "DataFiles.h"
#include "SelectionFiles.h"
#include "XmlDocument.h"
#include "tree_test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

using namespace treetest;

namespace {

class CCountingFailSink : public CFailSink {
public:
    void InsertStringAndSelect(const CString& strLine) override { lines.push_back(strLine.str()); }
    std::vector<std::wstring> lines;
};

std::string Narrow(const std::wstring& s) { return CStringA(CString(s)).GetString(); }

class SourceTreeTest : public ::testing::Test {
protected:
    CTempDir m_app{L"app"};
    CString m_strDrive;   // the folder behind the test drive
    CString m_strRoot;    // the test drive's root, "Q:\"
    CTreeImageLists m_lists;
    CFakeShell m_shell;
    CReportSink m_reports;
    CTreeHost m_host;
    std::unique_ptr<CBackUpTreeCtrl> m_tree;
    std::set<std::wstring> m_expanded;   // upper-cased paths expanded, for reloads

    void SetUp() override
    {
        g_strAppDir = m_app.Path() + L"\\";
        g_strUserName = L"user";
        ASSERT_TRUE(MakeFolder(m_app / L"user"));
        const CMappedDrive* pDrive = FreshDrive(L'Q', &m_strDrive);
        ASSERT_NE(nullptr, pDrive) << "no drive letter can stand for a temporary folder here";
        m_strRoot = pDrive->Root();
        const wchar_t* folders[] = {L"A", L"A\\S", L"A\\S\\T", L"B", L"D", L"D\\E", L"temp", L"F"};
        for (const wchar_t* f : folders)
            ASSERT_TRUE(MakeFolder(m_strDrive + L"\\" + f));
        const wchar_t* files[] = {L"A\\a1.txt", L"A\\a2.txt", L"A\\S\\s1.txt", L"A\\S\\T\\t1.txt",
                                  L"B\\b1.txt", L"C.txt",     L"D\\d1.txt",   L"D\\E\\e1.txt",
                                  L"D\\E\\e2.txt", L"temp\\t.txt"};
        for (const wchar_t* f : files)
            ASSERT_TRUE(WriteBytes(m_strDrive + L"\\" + f, Narrow(f)));
        m_shell.displayNames[W(L"")] = (L"(" + Drive() + L") Store").str();
        m_shell.fileSystems[W(L"")] = L"NTFS";
        ASSERT_TRUE(m_host.CreateHost());
        CreateTree();
    }

    // A path on the test drive, relative to its root.
    CString P(const wchar_t* pszRel) const { return m_strRoot + pszRel; }
    std::wstring W(const wchar_t* pszRel) const { return P(pszRel).str(); }
    CString Drive() const { return m_strRoot.Left(2); }
    // The root of another drive than the test drive ("K:\"), the n-th such letter from K on.
    CString OtherRoot(int n) const
    {
        wchar_t ch = L'K';
        for (int i = 0;; ++ch) {
            if (ch != m_strRoot[0] && i++ == n)
                break;
        }
        CString s;
        s.Format(L"%lc:\\", ch);
        return s;
    }
    std::vector<std::wstring> SortedFlatEntries()
    {
        std::vector<std::wstring> flat = FlatEntries();
        std::sort(flat.begin(), flat.end());
        return flat;
    }

    void TearDown() override
    {
        DestroyTree();
        if (m_host.m_hWnd)
            m_host.DestroyWindow();
        g_strAppDir.Empty();
        g_strUserName.Empty();
    }

    void CreateTree()
    {
        m_tree = std::make_unique<CBackUpTreeCtrl>();
        ASSERT_TRUE(m_tree->Create(WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                       TVS_SHOWSELALWAYS | TVS_CHECKBOXES,
                                   CRect(0, 0, 680, 480), &m_host, 1031));
        m_tree->AttachImageLists();
        g_hSourceTreeWnd = m_tree->m_hWnd;
        HTREEITEM hRoot = m_tree->InsertComputerItem();
        ASSERT_NE(nullptr, m_tree->InsertDriveItem(Drive(), hRoot, TCS_UNCHECKED));
        m_tree->SortChildren(hRoot);
        m_tree->ReloadCheckImages();
        m_tree->Expand(hRoot, TVE_EXPAND);
    }

    void DestroyTree()
    {
        if (m_tree && m_tree->m_hWnd)
            m_tree->DestroyWindow();
        m_tree.reset();
        g_hSourceTreeWnd = nullptr;
    }

    void Reload()
    {
        DestroyTree();
        CreateTree();
        // Expand in order of length so that parents come first.
        std::vector<std::wstring> paths(m_expanded.begin(), m_expanded.end());
        std::sort(paths.begin(), paths.end(), [](const std::wstring& a, const std::wstring& b) {
            return a.size() < b.size();
        });
        for (const std::wstring& p : paths) {
            if (HTREEITEM h = Open(p.c_str()))
                Expand(h);
        }
    }

    // The item of a path, expanding the folders on the way.
    HTREEITEM Open(const CString& strPath)
    {
        std::vector<CString> parts = CSelection::SplitPath(strPath);
        CString strSoFar;
        HTREEITEM h = nullptr;
        for (size_t i = 0; i < parts.size(); ++i) {
            strSoFar += parts[i];
            h = m_tree->FindListedItem(strSoFar);
            if (!h)
                return nullptr;
            if (i + 1 < parts.size())
                Expand(h);
        }
        return h;
    }

    void Expand(HTREEITEM h)
    {
        m_tree->Expand(h, TVE_EXPAND);
        CString strPath = m_tree->GetItemPath(h);
        strPath.MakeUpper();
        m_expanded.insert(strPath.str());
    }

    int Image(const CString& strPath)
    {
        HTREEITEM h = Open(strPath);
        return h ? m_tree->GetCheck(h) : -1;
    }

    void Click(const CString& strPath)
    {
        HTREEITEM h = Open(strPath);
        ASSERT_NE(nullptr, h) << Narrow(strPath.str());
        EXPECT_EQ(1, m_tree->ClickStateIcon(h));
    }

    CSelectionFiles Files() const { return CSelectionFiles(GetDataFolder()); }
    std::vector<std::wstring> FlatEntries()
    {
        std::vector<std::wstring> out;
        CXmlDocument doc;
        std::vector<CString> entries;
        if (doc.LoadFile(Files().FlatPath()) && ReadPathListDocument(doc, entries))
            for (const CString& s : entries)
                out.push_back(s.str());
        return out;
    }

    // Every listed item below the drive with its image, by upper-cased path.
    void Collect(HTREEITEM h, std::map<std::wstring, int>& out)
    {
        for (HTREEITEM c = m_tree->GetChildItem(h); c; c = m_tree->GetNextSiblingItem(c)) {
            if (m_tree->IsPlaceholderItem(c))
                continue;
            CString p = m_tree->GetItemPath(c);
            p.MakeUpper();
            out[p.str()] = m_tree->GetCheck(c);
            Collect(c, out);
        }
    }
    std::map<std::wstring, int> Images()
    {
        std::map<std::wstring, int> out;
        Collect(m_tree->m_hRootItem, out);
        out[L"<root>"] = m_tree->GetCheck(m_tree->m_hRootItem);
        return out;
    }
    std::vector<HTREEITEM> ListedItems(HTREEITEM h)
    {
        std::vector<HTREEITEM> out;
        for (HTREEITEM c = m_tree->GetChildItem(h); c; c = m_tree->GetNextSiblingItem(c)) {
            if (m_tree->IsPlaceholderItem(c))
                continue;
            out.push_back(c);
            std::vector<HTREEITEM> below = ListedItems(c);
            out.insert(out.end(), below.begin(), below.end());
        }
        return out;
    }

    // The files a backup must copy according to what the tree shows (relative to the drive,
    // upper-cased), walking the tree; a mixed item must be listed.
    void SelectedFiles(HTREEITEM h, std::set<std::wstring>& out)
    {
        for (HTREEITEM c = m_tree->GetChildItem(h); c; c = m_tree->GetNextSiblingItem(c)) {
            if (m_tree->IsPlaceholderItem(c))
                continue;
            int n = m_tree->GetCheck(c);
            CString strPath = CSelection::FlatForm(m_tree->GetItemPath(c));
            if (n == TCS_CHECKED) {
                CString strRel = strPath.Mid(3);
                if (::GetFileAttributesW(strPath) & FILE_ATTRIBUTE_DIRECTORY) {
                    for (const std::wstring& f : FilesBelow(strPath)) {
                        CString s = strRel.IsEmpty() ? CString(f) : strRel + L"\\" + f.c_str();
                        s.MakeUpper();
                        out.insert(s.str());
                    }
                } else {
                    strRel.MakeUpper();
                    out.insert(strRel.str());
                }
            } else if (n == TCS_MIXED) {
                EXPECT_TRUE(m_tree->IsItemListed(c)) << Narrow(strPath.str());
                SelectedFiles(c, out);
            }
        }
    }

    void ExpectFilesAgree()
    {
        std::vector<std::wstring> flat = FlatEntries();
        for (size_t i = 0; i < flat.size(); ++i) {
            for (size_t j = 0; j < flat.size(); ++j) {
                if (i != j) {
                    EXPECT_FALSE(CSelection::IsAtOrBelow(flat[i].c_str(), flat[j].c_str()))
                        << Narrow(flat[i]) << " lies at or below " << Narrow(flat[j]);
                }
            }
        }
        CSelection sel;
        ASSERT_TRUE(Files().Read(sel));
        std::vector<std::wstring> fromNested;
        for (const CString& s : sel.CheckedPaths())
            fromNested.push_back(s.str());
        std::sort(flat.begin(), flat.end());
        std::sort(fromNested.begin(), fromNested.end());
        EXPECT_EQ(fromNested, flat);
    }

    // A backup by the worker into a fresh folder; the files it stored, relative to the drive.
    std::set<std::wstring> BackUpNow(const CString& strTarget)
    {
        CXmlDocument settings;
        EXPECT_TRUE(WriteDefaultSettings(settings, GetDataFolder()));
        settings.ResetPosition();
        EXPECT_TRUE(settings.FindChildElement(L"CompressFile"));
        settings.SetChildData(L"0");
        EXPECT_TRUE(settings.SaveFile(JoinPath(GetDataFolder(), kSettingsFile)));
        MakeFolder(strTarget);
        CBackUpEngine engine;
        CCountingFailSink sink;
        HANDLE hPause = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        engine.Reset();
        engine.m_pFailList = &sink;
        engine.m_hPauseEvent = hPause;
        engine.m_strTargetRoot = strTarget;
        engine.m_bRestore = 0;
        RunBackUpOrRestore(engine, g_strAppDir, GetDataFolder());
        ::CloseHandle(hPause);
        EXPECT_TRUE(sink.lines.empty()) << (sink.lines.empty() ? "" : Narrow(sink.lines[0]));
        std::vector<std::wstring> stored = FilesBelow(strTarget + L"\\VEZORI\\" + m_strRoot.Left(1));
        return std::set<std::wstring>(stored.begin(), stored.end());
    }
};

} // namespace

TEST_F(SourceTreeTest, ChecksPropagateAndAreWrittenAtOnce)
{
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    Click(P(L"A\\a1.txt"));
    EXPECT_EQ(TCS_MIXED, Image(P(L"A")));
    EXPECT_EQ(TCS_MIXED, Image(P(L"")));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_EQ((std::vector<std::wstring>{W(L"A\\a1.txt")}), FlatEntries());

    // The last unchecked children checked: the folder is checked, its entry replaces theirs.
    Click(P(L"A\\a2.txt"));
    Click(P(L"A\\S"));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\S\\T\\t1.txt")));
    EXPECT_EQ((std::vector<std::wstring>{W(L"A")}), FlatEntries());

    // Every child of the drive checked: the drive is checked, the root stays mixed.
    Click(P(L"B"));
    Click(P(L"C.txt"));
    Click(P(L"D"));
    Click(P(L"F"));
    Click(P(L"temp"));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"")));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_EQ((std::vector<std::wstring>{W(L"")}), FlatEntries());
    EXPECT_EQ("<filepath>\r\n<path path=\"" + CStringA(P(L"")).str() + "\"/>\r\n</filepath>\r\n",
              ReadBytes(Files().NestedPath()));

    // A child of the checked drive unchecked: its siblings become separate entries.
    Click(P(L"A\\S\\T"));
    EXPECT_EQ(TCS_MIXED, Image(P(L"A\\S")));
    EXPECT_EQ(TCS_MIXED, Image(P(L"")));
    std::vector<std::wstring> flat = FlatEntries();
    std::sort(flat.begin(), flat.end());
    EXPECT_EQ((std::vector<std::wstring>{W(L"A\\S\\s1.txt"), W(L"A\\a1.txt"), W(L"A\\a2.txt"), W(L"B"),
                                         W(L"C.txt"), W(L"D"), W(L"F"), W(L"temp")}),
              flat);
    ExpectFilesAgree();

    // Unchecking the drive clears everything: no file is left and the root is fixed again.
    Click(P(L""));   // mixed -> checked
    Click(P(L""));   // checked -> unchecked
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_FALSE(FileExists(Files().NestedPath()));
    EXPECT_FALSE(FileExists(Files().FlatPath()));
    EXPECT_TRUE(m_reports.files.empty());
}

TEST_F(SourceTreeTest, ClicksOnRootLabelsAndFixedItemsChangeNothing)
{
    EXPECT_EQ(1, m_tree->ClickStateIcon(m_tree->m_hRootItem));
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_FALSE(FileExists(Files().NestedPath()));
    // A drive item whose letter is unknown has no path: a click on it writes nothing.
    HTREEITEM hBare = m_tree->InsertItem(TVIF_TEXT | TVIF_PARAM | TVIF_STATE, L"X", 0, 0,
                                         INDEXTOSTATEIMAGEMASK(TCS_UNCHECKED), TVIS_STATEIMAGEMASK, 0,
                                         m_tree->m_hRootItem, TVI_LAST);
    EXPECT_EQ(CString(), m_tree->GetItemPath(hBare));
    EXPECT_EQ(1, m_tree->ClickStateIcon(hBare));
    EXPECT_EQ(TCS_UNCHECKED, m_tree->GetCheck(hBare));
    EXPECT_FALSE(FileExists(Files().NestedPath()));
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
}

TEST_F(SourceTreeTest, DriveNamesWithAndWithoutTheirLetter)
{
    HTREEITEM hRoot = m_tree->m_hRootItem;
    m_shell.displayNames[W(L"")] = (L"(" + Drive() + L") X").str();
    HTREEITEM h1 = m_tree->InsertDriveItem(P(L""), hRoot, TCS_UNCHECKED);
    m_shell.displayNames[W(L"")] = L"X";
    HTREEITEM h2 = m_tree->InsertDriveItem(Drive(), hRoot, TCS_UNCHECKED);
    EXPECT_EQ(L"(" + Drive() + L") X", m_tree->GetItemText(h1));
    EXPECT_EQ(CString(L"X"), m_tree->GetItemText(h2));
    EXPECT_EQ(P(L""), m_tree->GetItemPath(h1));
    EXPECT_EQ(P(L""), m_tree->GetItemPath(h2));
    // The letter shown as "(D:) Name" is read when the item data does not carry it.
    HTREEITEM h3 = m_tree->InsertItem(TVIF_TEXT | TVIF_PARAM, L"(D:) Data", 0, 0, 0, 0, 0, hRoot, TVI_LAST);
    EXPECT_EQ(CString(L"D:\\"), m_tree->GetItemPath(h3));
    // A volume without a file system is fixed.
    m_shell.fileSystems[W(L"")] = L"";
    HTREEITEM h4 = m_tree->InsertDriveItem(Drive(), hRoot, TCS_UNCHECKED);
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(h4));
    EXPECT_EQ((DWORD_PTR)((m_strRoot[0] << 8) + 2), m_tree->GetItemData(h4));
}

TEST_F(SourceTreeTest, SortingAndTheRealTempFolder)
{
    HTREEITEM hRoot = m_tree->m_hRootItem;
    // Drives sort by letter whatever their names; the root's expansion keeps them all.
    m_shell.displayNames[L"C:\\"] = L"Zeta (C:)";
    m_tree->InsertDriveItem(L"C:", hRoot, TCS_UNCHECKED);
    m_tree->SortChildren(hRoot);
    std::vector<CString> paths;
    for (HTREEITEM h = m_tree->GetChildItem(hRoot); h; h = m_tree->GetNextSiblingItem(h))
        paths.push_back(m_tree->GetItemPath(h));
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ(CString(L"C:\\"), paths[0]);
    EXPECT_EQ(P(L""), paths[1]);

    // Folders first, then files, each by name; the real folder "temp" is a folder like others.
    HTREEITEM hQ = Open(P(L""));
    Expand(hQ);
    std::vector<CString> names;
    for (HTREEITEM h = m_tree->GetChildItem(hQ); h; h = m_tree->GetNextSiblingItem(h))
        names.push_back(m_tree->GetItemText(h));
    EXPECT_EQ((std::vector<CString>{L"A", L"B", L"D", L"F", L"temp", L"C.txt"}), names);
    HTREEITEM hTemp = Open(P(L"temp"));
    ASSERT_NE(nullptr, hTemp);
    EXPECT_FALSE(m_tree->IsPlaceholderItem(hTemp));
    EXPECT_NE(nullptr, Open(P(L"temp\\t.txt")));
    // Listing the drive again keeps the real "temp" and lists it lazily again.
    EXPECT_EQ(1, m_tree->RefreshSelFolder(P(L"")));
    hTemp = m_tree->FindListedItem(P(L"temp"));
    ASSERT_NE(nullptr, hTemp);
    EXPECT_FALSE(m_tree->IsItemListed(hTemp));
    EXPECT_NE(nullptr, Open(P(L"temp\\t.txt")));
}

TEST_F(SourceTreeTest, ExpandingShowsTheSelectionOfTheFile)
{
    Click(P(L"D\\E\\e1.txt"));
    Click(P(L"A"));
    m_expanded.clear();   // reload without expanding anything
    Reload();
    EXPECT_EQ(TCS_MIXED, Image(P(L"")));
    Expand(Open(P(L"")));
    HTREEITEM hD = m_tree->FindListedItem(P(L"D"));
    ASSERT_NE(nullptr, hD);
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(hD));
    EXPECT_FALSE(m_tree->IsItemListed(hD));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"D\\d1.txt")));
    EXPECT_EQ(TCS_MIXED, Image(P(L"D\\E")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"D\\E\\e1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"D\\E\\e2.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\S\\T\\t1.txt")));
}

TEST_F(SourceTreeTest, RandomClicksWithReloadsKeepTreeFilesAndBackupInStep)
{
    std::mt19937 rng(20261209);
    for (int nStep = 0; nStep < 160; ++nStep) {
        int nAction = (int)(rng() % 10);
        if (nAction == 0) {
            std::map<std::wstring, int> before = Images();
            Reload();
            std::map<std::wstring, int> after = Images();
            ASSERT_EQ(before, after) << "step " << nStep;
            continue;
        }
        std::vector<HTREEITEM> items = ListedItems(m_tree->m_hRootItem);
        ASSERT_FALSE(items.empty());
        HTREEITEM h = items[rng() % items.size()];
        if (nAction <= 3 && !m_tree->IsItemListed(h)) {
            Expand(h);
            continue;
        }
        ASSERT_EQ(1, m_tree->ClickStateIcon(h));
        ExpectFilesAgree();
        if (HasFailure())
            FAIL() << "step " << nStep;
    }
    ASSERT_TRUE(m_reports.files.empty());

    // What the worker stores is exactly what the tree shows checked.
    std::set<std::wstring> expected;
    SelectedFiles(m_tree->m_hRootItem, expected);
    CTempDir target(L"dst");
    std::set<std::wstring> stored = BackUpNow(target.Path());
    EXPECT_EQ(expected, stored);
}

TEST_F(SourceTreeTest, BackupCopiesACheckedFolderAndSingleFilesOnly)
{
    Click(P(L"A\\S"));
    Click(P(L"D\\E\\e2.txt"));
    Click(P(L"C.txt"));
    CTempDir target(L"dst");
    std::set<std::wstring> stored = BackUpNow(target.Path());
    EXPECT_EQ((std::set<std::wstring>{L"A\\S\\S1.TXT", L"A\\S\\T\\T1.TXT", L"C.TXT", L"D\\E\\E2.TXT"}), stored);
}

TEST_F(SourceTreeTest, DrivesWhoseStateIsNotTheUsersKeepTheirStoredSelection)
{
    // Stored: a folder on a drive now shown fixed (no readable file system), a file on a drive
    // that is not there now, and one on a drive that arrives fixed while the program runs.
    const CString strFixed = OtherRoot(0), strGone = OtherRoot(1), strLate = OtherRoot(2);
    CSelection stored;
    stored.Check(strFixed + L"Photos");
    stored.Check(strGone + L"Work\\a.txt");
    stored.Check(strLate + L"Music");
    ASSERT_TRUE(Files().Write(stored));
    m_shell.fileSystems[strFixed.str()] = L"";
    m_shell.fileSystems[strGone.str()] = L"NTFS";
    m_shell.driveTypes[strGone.str()] = DRIVE_NO_ROOT_DIR;
    HTREEITEM hRoot = m_tree->m_hRootItem;
    HTREEITEM hFixed = m_tree->InsertDriveItem(strFixed, hRoot, TCS_UNCHECKED);
    HTREEITEM hGone = m_tree->InsertDriveItem(strGone, hRoot, TCS_UNCHECKED);
    m_tree->ReloadCheckImages();
    ASSERT_EQ(TCS_FIXED, m_tree->GetCheck(hFixed));
    ASSERT_EQ(TCS_MIXED, m_tree->GetCheck(hGone));
    Expand(hGone);   // nothing can be listed
    ASSERT_TRUE(m_tree->IsItemListed(hGone));
    EXPECT_FALSE(m_tree->ShowsContents(hGone));
    IShellChangeSink* pSink = dynamic_cast<IShellChangeSink*>(CWnd::FromHandlePermanent(g_hSourceTreeWnd));
    ASSERT_NE(nullptr, pSink);
    pSink->AddDriveItem(strLate, L"Late", 1, ((DWORD_PTR)strLate[0] << 8) + 2, TCS_FIXED);
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->FindListedItem(strLate)));

    // A click on the test drive, then the same click undone: the other drives' entries stay in
    // both files throughout.
    const std::vector<std::wstring> kept = {W(L"B"), (strFixed + L"Photos").str(), (strGone + L"Work\\a.txt").str(),
                                            (strLate + L"Music").str()};
    Click(P(L"B"));
    std::vector<std::wstring> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, SortedFlatEntries());
    ExpectFilesAgree();
    Click(P(L"B"));
    expected.assign(kept.begin() + 1, kept.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, SortedFlatEntries());
    ExpectFilesAgree();
    CSelection sel;
    ASSERT_TRUE(Files().Read(sel));
    EXPECT_EQ(CSelection::CHECKED, sel.StateOf(strFixed + L"Photos"));
    EXPECT_EQ(CSelection::MIXED, sel.StateOf(strGone + L"Work"));
    EXPECT_EQ(CSelection::CHECKED, sel.StateOf(strLate + L"Music"));
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(hFixed));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(hGone));
    EXPECT_TRUE(m_reports.files.empty());
}

TEST_F(SourceTreeTest, ADriveThatArrivesAgainShowsAndKeepsItsSelection)
{
    Click(P(L"A\\a1.txt"));
    Click(P(L"D"));
    const std::vector<std::wstring> before = SortedFlatEntries();
    ASSERT_EQ((std::vector<std::wstring>{W(L"A\\a1.txt"), W(L"D")}), before);

    // The drive goes and comes back, as the main window reports it: unchecked, with its name.
    IShellChangeSink* pSink = dynamic_cast<IShellChangeSink*>(CWnd::FromHandlePermanent(g_hSourceTreeWnd));
    ASSERT_NE(nullptr, pSink);
    pSink->RemoveDriveItem(P(L""));
    ASSERT_EQ(nullptr, m_tree->FindListedItem(P(L"")));
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_EQ(before, SortedFlatEntries());
    m_expanded.clear();
    pSink->AddDriveItem(P(L""), L"(" + Drive() + L") Store", 1, (DWORD_PTR)m_strRoot[0] << 8, TCS_UNCHECKED);
    EXPECT_EQ(TCS_MIXED, Image(P(L"")));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(m_tree->m_hRootItem));
    EXPECT_EQ(TCS_MIXED, Image(P(L"A")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\a1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"A\\a2.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"D\\E\\e1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"B")));
    EXPECT_EQ(before, SortedFlatEntries());

    // A click on the arrived drive changes only what was clicked.
    Click(P(L"B"));
    EXPECT_EQ((std::vector<std::wstring>{W(L"A\\a1.txt"), W(L"B"), W(L"D")}), SortedFlatEntries());
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\a1.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"D")));
    ExpectFilesAgree();
    std::map<std::wstring, int> shown = Images();
    Reload();
    EXPECT_EQ(shown, Images());
}

TEST_F(SourceTreeTest, ShellEventsOnADriveListedWithoutItsMediumKeepItsSelection)
{
    Click(P(L"A\\a1.txt"));
    Click(P(L"B"));
    Click(P(L"D\\E\\e1.txt"));
    m_expanded.clear();
    Reload();
    // The drive is opened while its medium is out: nothing can be read, nothing is shown.
    HTREEITEM hDrive = m_tree->FindListedItem(P(L""));
    ASSERT_NE(nullptr, hDrive);
    m_shell.driveTypes[W(L"")] = DRIVE_NO_ROOT_DIR;
    Expand(hDrive);
    m_shell.driveTypes.erase(W(L""));
    ASSERT_FALSE(m_tree->ShowsContents(hDrive));
    ASSERT_EQ(TCS_MIXED, m_tree->GetCheck(hDrive));

    // The medium is back. A selected folder renamed keeps its selection under the new name; a
    // selected file deleted takes only its own entry with it.
    ASSERT_TRUE(::MoveFileW(P(L"B"), P(L"B2")));
    EXPECT_EQ(1, m_tree->RenameSelItem(P(L"B"), P(L"B2")));
    ASSERT_TRUE(::DeleteFileW(P(L"D\\E\\e1.txt")));
    EXPECT_EQ(1, m_tree->RemoveSelPath(P(L"D\\E\\e1.txt")));
    std::vector<std::wstring> expected = {W(L"A\\a1.txt"), W(L"B2")};
    EXPECT_EQ(expected, SortedFlatEntries());
    ExpectFilesAgree();
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(hDrive));

    // A file created there: the drive is listed with the images the files give, not shown
    // with the new file alone.
    ASSERT_TRUE(WriteBytes(P(L"new.txt"), "n"));
    EXPECT_EQ(1, m_tree->AddSelPath(P(L"new.txt")));
    EXPECT_TRUE(m_tree->ShowsContents(hDrive));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(hDrive));
    EXPECT_EQ(expected, SortedFlatEntries());
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"new.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\a1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"A\\a2.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"B2\\b1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"D")));

    // A click there changes only what was clicked.
    Click(P(L"new.txt"));
    expected.push_back(W(L"new.txt"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, SortedFlatEntries());
    ExpectFilesAgree();
    EXPECT_TRUE(m_reports.files.empty());
}

TEST_F(SourceTreeTest, ShellEventsBelowFoldersNotListed)
{
    Click(P(L"D\\E\\e1.txt"));
    Click(P(L"D\\d1.txt"));
    m_expanded.clear();
    Reload();
    Open(P(L"D"));   // the drive listed, D itself not
    HTREEITEM hD = m_tree->FindListedItem(P(L"D"));
    ASSERT_FALSE(m_tree->IsItemListed(hD));
    ASSERT_EQ(TCS_MIXED, m_tree->GetCheck(hD));

    // A file deleted inside the mixed, unlisted folder: only its own entry goes.
    ASSERT_TRUE(::DeleteFileW(P(L"D\\E\\e1.txt")));
    EXPECT_EQ(1, m_tree->RemoveSelPath(P(L"D\\E\\e1.txt")));
    EXPECT_EQ((std::vector<std::wstring>{W(L"D\\d1.txt")}), FlatEntries());
    CSelection sel;
    ASSERT_TRUE(Files().Read(sel));
    EXPECT_EQ(nullptr, sel.Find(P(L"D\\E")));
    EXPECT_EQ(TCS_MIXED, m_tree->GetCheck(hD));
    ExpectFilesAgree();

    // The last selected file goes: nothing is selected, the images follow.
    ASSERT_TRUE(::DeleteFileW(P(L"D\\d1.txt")));
    EXPECT_EQ(1, m_tree->RemoveSelPath(P(L"D\\d1.txt")));
    EXPECT_FALSE(FileExists(Files().FlatPath()));
    EXPECT_EQ(TCS_UNCHECKED, m_tree->GetCheck(hD));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"")));
    EXPECT_EQ(TCS_FIXED, m_tree->GetCheck(m_tree->m_hRootItem));
}

TEST_F(SourceTreeTest, ShellEventsCreateMoveAndRename)
{
    // Created in a checked, expanded folder: shown checked, the folder's entry stays.
    Click(P(L"A"));
    Expand(Open(P(L"A")));
    ASSERT_TRUE(WriteBytes(P(L"A\\new.txt"), "n"));
    // The main window reaches the tree through its window handle.
    IShellChangeSink* pSink = dynamic_cast<IShellChangeSink*>(CWnd::FromHandlePermanent(g_hSourceTreeWnd));
    ASSERT_NE(nullptr, pSink);
    pSink->ShellItemCreated(P(L"A\\new.txt"));
    EXPECT_TRUE(pSink->HasItemForPath(P(L"A\\new.txt")));
    EXPECT_EQ(0, m_tree->AddSelPath(P(L"A\\new.txt")));   // a second event adds nothing
    int nNamed = 0;
    for (HTREEITEM h = m_tree->GetChildItem(Open(P(L"A"))); h; h = m_tree->GetNextSiblingItem(h))
        nNamed += m_tree->GetItemText(h) == L"new.txt";
    EXPECT_EQ(1, nNamed);
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A\\new.txt")));
    EXPECT_EQ((std::vector<std::wstring>{W(L"A")}), FlatEntries());
    // Created inside a folder not listed yet: nothing to show now.
    ASSERT_TRUE(WriteBytes(P(L"D\\E\\late.txt"), "l"));
    EXPECT_EQ(0, m_tree->AddSelPath(P(L"D\\E\\late.txt")));

    // A move to another folder is a remove and an add.
    Expand(Open(P(L"B")));
    ASSERT_TRUE(::MoveFileW(P(L"A\\a1.txt"), P(L"B\\a1.txt")));
    m_tree->RenameSelFolder(P(L"A\\a1.txt"), P(L"B\\a1.txt"));
    EXPECT_EQ(nullptr, m_tree->FindListedItem(P(L"A\\a1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"B\\a1.txt")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A")));
    EXPECT_EQ((std::vector<std::wstring>{W(L"A")}), FlatEntries());

    // A checked folder renamed stays selected under its new name.
    Click(P(L"D"));
    ASSERT_TRUE(::MoveFileW(P(L"D"), P(L"D2")));
    EXPECT_EQ(1, m_tree->RenameSelItem(P(L"D"), P(L"D2")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"D2")));
    EXPECT_EQ(nullptr, m_tree->FindListedItem(P(L"D")));
    std::vector<std::wstring> flat = FlatEntries();
    std::sort(flat.begin(), flat.end());
    EXPECT_EQ((std::vector<std::wstring>{W(L"A"), W(L"D2")}), flat);

    // A mixed folder renamed keeps what is selected inside it.
    Click(P(L"A\\S"));   // A becomes mixed
    ASSERT_TRUE(::MoveFileW(P(L"A"), P(L"A2")));
    EXPECT_EQ(1, m_tree->RenameSelItem(P(L"A"), P(L"A2")));
    EXPECT_EQ(TCS_MIXED, Image(P(L"A2")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"A2\\S")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"A2\\a2.txt")));
    ExpectFilesAgree();
    std::map<std::wstring, int> before = Images();
    Reload();
    EXPECT_EQ(before, Images());
}

TEST_F(SourceTreeTest, FailedWritesAreReportedAndTheTreeFollowsTheFile)
{
    Click(P(L"B"));
    ASSERT_TRUE(FileExists(Files().FlatPath()));
    // The flat file held open without sharing cannot be replaced: the write fails, the tree
    // goes back to what the files hold.
    HANDLE hHold = ::CreateFileW(Files().FlatPath(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHold);
    Click(P(L"A\\a1.txt"));
    ::CloseHandle(hHold);
    ASSERT_EQ(1u, m_reports.files.size());
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"A\\a1.txt")));
    EXPECT_EQ(TCS_UNCHECKED, Image(P(L"A")));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"B")));
    ExpectFilesAgree();

    // A read-only nested file.
    Click(P(L"A\\a1.txt"));
    ASSERT_EQ(1u, m_reports.files.size());
    ASSERT_TRUE(::SetFileAttributesW(Files().NestedPath(), FILE_ATTRIBUTE_READONLY));
    const std::string strBefore = ReadBytes(Files().NestedPath());
    Click(P(L"C.txt"));
    if (ReadBytes(Files().NestedPath()) == strBefore) {
        EXPECT_EQ(2u, m_reports.files.size());
        EXPECT_EQ(TCS_UNCHECKED, Image(P(L"C.txt")));
    } else {
        // The platform replaced the read-only file (allowed under Wine): no failure to see.
        EXPECT_EQ(TCS_CHECKED, Image(P(L"C.txt")));
    }
    ::SetFileAttributesW(Files().NestedPath(), FILE_ATTRIBUTE_NORMAL);
    ExpectFilesAgree();

    // An unloadable nested file is kept aside and replaced by what the tree shows.
    ASSERT_TRUE(WriteBytes(Files().NestedPath(), "<filepath><path"));
    Click(P(L"F"));
    EXPECT_EQ("<filepath><path", ReadBytes(Files().NestedPath() + L".bad"));
    EXPECT_EQ(TCS_CHECKED, Image(P(L"F")));
    ExpectFilesAgree();
}

TEST_F(SourceTreeTest, SystemFoldersOfTheSystemDriveAreNeverListed)
{
    m_tree->InsertDriveItem(L"C:", m_tree->m_hRootItem, TCS_UNCHECKED);
    HTREEITEM hC = Open(L"C:\\");
    ASSERT_NE(nullptr, hC);
    Expand(hC);
    for (HTREEITEM h = m_tree->GetChildItem(hC); h; h = m_tree->GetNextSiblingItem(h)) {
        CString s = m_tree->GetItemText(h);
        EXPECT_NE(0, s.CompareNoCase(L"windows"));
        EXPECT_NE(0, s.CompareNoCase(L"program files"));
    }
    // On another drive a "Windows" folder is listed even with the system attribute.
    ASSERT_TRUE(MakeFolder(P(L"Windows")));
    ASSERT_TRUE(WriteBytes(P(L"sys.bin"), "s"));
    if (!DosAttributesWork(m_strDrive))
        GTEST_SKIP() << "this file system keeps no system attribute";
    ::SetFileAttributesW(P(L"Windows"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW(P(L"sys.bin"), FILE_ATTRIBUTE_SYSTEM);
    m_tree->RefreshSelFolder(P(L""));
    EXPECT_NE(nullptr, m_tree->FindListedItem(P(L"Windows")));
    EXPECT_EQ(nullptr, m_tree->FindListedItem(P(L"sys.bin")));
}

TEST_F(SourceTreeTest, PlainShellOperationsOfTheTreeBase)
{
    // The listing of the management trees: item data is the icon index, never 0 for a file.
    m_shell.icons[W(L"B\\B1.TXT")] = 0;
    m_shell.icons[W(L"C.TXT")] = 6;
    m_shell.shellAttributes[W(L"F")] = SFGAO_SHARE;
    HTREEITEM hQ = Open(P(L""));
    m_tree->ListFolder(hQ, Drive());
    EXPECT_EQ((DWORD_PTR)6, m_tree->GetItemData(m_tree->FindListedItem(P(L"C.txt"))));
    HTREEITEM hF = m_tree->FindListedItem(P(L"F"));
    EXPECT_EQ((DWORD_PTR)TREE_DATA_FOLDER, m_tree->GetItemData(hF));
    EXPECT_EQ(INDEXTOOVERLAYMASK(g_nShareOverlay), m_tree->GetItemState(hF, TVIS_OVERLAYMASK));
    CString strLower = P(L"f\\");   // any case, any trailing backslash
    strLower.MakeLower();
    EXPECT_EQ(1, m_tree->ToggleShareOverlay(strLower));
    EXPECT_EQ(0u, m_tree->GetItemState(hF, TVIS_OVERLAYMASK));
    HTREEITEM hB = m_tree->FindListedItem(P(L"B"));
    m_tree->ListFolder(hB, P(L"B"));
    EXPECT_EQ((DWORD_PTR)1, m_tree->GetItemData(m_tree->FindListedItem(P(L"B\\b1.txt"))));

    // Created, renamed, moved and deleted entries; nothing happens inside unlisted folders.
    ASSERT_TRUE(WriteBytes(P(L"B\\n.zip"), "z"));
    EXPECT_EQ(1, m_tree->AddPathItem(P(L"B\\n.zip")));
    EXPECT_EQ(0, m_tree->AddPathItem(P(L"B\\n.zip")));
    EXPECT_EQ((DWORD_PTR)1, m_tree->GetItemData(m_tree->FindListedItem(P(L"B\\n.zip"))));   // a file
    EXPECT_EQ(0, m_tree->AddPathItem(P(L"D\\E\\x.txt")));
    ASSERT_TRUE(::MoveFileW(P(L"B\\n.zip"), P(L"B\\m.zip")));
    EXPECT_EQ(1, m_tree->RenamePathItem(P(L"B\\n.zip"), P(L"B\\m.zip")));
    EXPECT_EQ(nullptr, m_tree->FindListedItem(P(L"B\\n.zip")));
    EXPECT_NE(nullptr, m_tree->FindListedItem(P(L"B\\m.zip")));
    ASSERT_TRUE(::MoveFileW(P(L"B\\m.zip"), P(L"m.zip")));
    m_tree->RenameFolderItems(P(L"B\\m.zip"), P(L"m.zip"));
    EXPECT_NE(nullptr, m_tree->FindListedItem(P(L"m.zip")));
    EXPECT_EQ(1, m_tree->RemovePathItem(P(L"m.zip")));
    EXPECT_EQ(0, m_tree->RemovePathItemIf(P(L"m.zip")));
    // A changed archive refreshes the folder that holds it.
    ASSERT_TRUE(WriteBytes(P(L"B\\pack.rar"), "r"));
    EXPECT_EQ(1, m_tree->RefreshPathItem(P(L"B\\pack.rar")));
    EXPECT_NE(nullptr, m_tree->FindListedItem(P(L"B\\pack.rar")));

    // The drive comparison is a consistent order.
    const LPARAM data[] = {0, (LPARAM)TREE_DATA_PLACEHOLDER, 5, 6, L'C' << 8, (L'C' << 8) + 2, L'Q' << 8, 0xFFFF};
    for (LPARAM a : data) {
        EXPECT_EQ(0, CInitTreeCtrl::CompareDriveLetters(a, a, 0));
        for (LPARAM b : data)
            EXPECT_EQ(-CInitTreeCtrl::CompareDriveLetters(b, a, 0), CInitTreeCtrl::CompareDriveLetters(a, b, 0));
    }
    EXPECT_LT(CInitTreeCtrl::CompareDriveLetters(L'C' << 8, L'Q' << 8, 0), 0);
    EXPECT_LT(CInitTreeCtrl::CompareDriveLetters(L'Q' << 8, 5, 0), 0);
}

TEST_F(SourceTreeTest, OnlyTheSpaceKeyIsSwallowed)
{
    MSG msg = {m_tree->m_hWnd, WM_KEYDOWN, VK_SPACE, 0, 0, {}};
    EXPECT_TRUE(m_tree->PreTranslateMessage(&msg));
    msg.message = WM_CHAR;
    EXPECT_TRUE(m_tree->PreTranslateMessage(&msg));
    msg.message = WM_TIMER;   // wParam 0x20, not a key
    EXPECT_FALSE(m_tree->PreTranslateMessage(&msg));
    msg.message = WM_KEYDOWN;
    msg.wParam = 'A';
    EXPECT_FALSE(m_tree->PreTranslateMessage(&msg));
}
