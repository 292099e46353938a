// Drag and drop between file-management trees: the effect rules over real files, the file
// operations handed to the shell, real copies and moves, shortcuts, running a program with
// a dropped file, the hover expansion and the scrolling. The drop target's overrides are
// called directly, as the drag loop would call them.
#include <gtest/gtest.h>

#include "TreeDropTarget.h"
#include "TreeShared.h"
#include "shell_double.h"
#include "tree_fixture.h"
#include "wintest_util.h"

#include <map>
#include <string>

namespace {

std::wstring W(const CString& s) { return std::wstring(s.GetString()); }

class CTreeDropTest : public ::testing::Test {
protected:
    CShellDouble shell;
    CTempFolder temp;
    CHostWnd host;
    CTreeCtrl source, target;
    HTREEITEM srcRoot = nullptr, dstRoot = nullptr;
    CTreeDropTarget drop;
    CString fileA, folderSub, folderDst, program, programLink, plain, plainLink;

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        fileA = temp.MakeFile(L"a.txt", "hello");
        folderSub = temp.MakeFolder(L"sub");
        temp.MakeFile(L"sub\\inner.bin", std::string("\x01\x02\x00\x03", 4));
        folderDst = temp.MakeFolder(L"dst");
        program = temp.MakeFile(L"tool.exe", "MZ");
        plain = temp.MakeFile(L"notes.txt", "n");
        programLink = temp / L"tool.lnk";
        plainLink = temp / L"notes.lnk";
        ASSERT_TRUE(SUCCEEDED(SystemShellIo().CreateLink(program, programLink)));
        ASSERT_TRUE(SUCCEEDED(SystemShellIo().CreateLink(plain, plainLink)));

        ASSERT_TRUE(host.CreateHost(0, 0, 900, 700));
        DWORD style = WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
        ASSERT_TRUE(source.Create(style, CRect(0, 0, 440, 690), &host, 1008));
        ASSERT_TRUE(target.Create(style, CRect(450, 0, 890, 690), &host, 1009));
        srcRoot = source.InsertItem(L"Computer");
        dstRoot = target.InsertItem(L"Computer");
    }
    void TearDown() override
    {
        CTreeDropTarget::EndDrag();
        host.DestroyWindow();
        ::OleUninitialize();
    }

    HTREEITEM Src(const CString& path) { return TreeItemForPath(source, srcRoot, path); }
    HTREEITEM Dst(const CString& path) { return TreeItemForPath(target, dstRoot, path); }

    bool Highlighted(HTREEITEM h)
    {
        return (TreeView_GetItemState(target.m_hWnd, h, TVIS_DROPHILITED) & TVIS_DROPHILITED) != 0;
    }

    // Hovers the item and drops there with the keys, as the drag loop does.
    BOOL DropOn(HTREEITEM hItem, DWORD keys)
    {
        CPoint pt = ItemPoint(target, hItem);
        DROPEFFECT enter = drop.OnDragEnter(&target, nullptr, keys, pt);
        DROPEFFECT over = drop.OnDragOver(&target, nullptr, keys, pt);
        EXPECT_EQ(enter, over);
        if (over == DROPEFFECT_NONE) {
            drop.OnDragLeave(&target);
            return FALSE;
        }
        return drop.OnDrop(&target, nullptr, over, pt);
    }
};

// ---------------------------------------------------------------------------------------

TEST_F(CTreeDropTest, EffectTableOverRealFilesAndTreeItems)
{
    // The drive root of the temporary folder: the first child of the root.
    Dst(temp.Path());
    HTREEITEM hDrive = TreeView_GetChild(target.m_hWnd, dstRoot);
    HTREEITEM hNode = target.InsertItem(L"Phone", dstRoot);  // a shell node: no path
    std::map<std::string, HTREEITEM> spots = {
        {"folder", Dst(folderDst)}, {"drive", hDrive}, {"root", dstRoot}, {"node", hNode},
        {"program", Dst(program)},  {"link to program", Dst(programLink)}, {"plain file", Dst(plain)},
        {"link to file", Dst(plainLink)},
    };
    const DWORD C = DROPEFFECT_COPY, M = DROPEFFECT_MOVE, L = DROPEFFECT_LINK, R = DROPEFFECT_RUN, N = 0;
    const DWORD keys[4] = {0, MK_SHIFT, MK_CONTROL, MK_ALT};
    struct Row {
        const char* spot;
        DWORD file[4];   // none, Shift, Ctrl, Alt with a file dragged
        DWORD drive[4];  // the same with a drive dragged
    };
    const Row table[] = {
        {"folder", {M, M, C, L}, {L, L, L, L}},
        {"drive", {M, M, C, L}, {L, L, L, L}},
        {"root", {N, N, N, N}, {N, N, N, N}},
        {"node", {N, N, N, N}, {N, N, N, N}},
        {"program", {R, R, R, R}, {R, R, R, R}},
        {"link to program", {R, R, R, R}, {R, R, R, R}},
        {"plain file", {N, N, N, N}, {N, N, N, N}},
        {"link to file", {N, N, N, N}, {N, N, N, N}},
    };
    HTREEITEM hDraggedFile = Src(fileA);
    HTREEITEM hDraggedDrive = TreeView_GetChild(source.m_hWnd, srcRoot);
    for (int dragged = 0; dragged < 2; ++dragged) {
        ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, dragged ? hDraggedDrive : hDraggedFile));
        EXPECT_EQ(dragged == 1, CTreeDropTarget::CurrentDrag().bDrive);
        for (const Row& row : table) {
            for (int k = 0; k < 4; ++k) {
                CPoint pt = ItemPoint(target, spots[row.spot]);
                DWORD expected = dragged ? row.drive[k] : row.file[k];
                EXPECT_EQ(expected, drop.OnDragEnter(&target, nullptr, keys[k], pt))
                    << row.spot << " keys " << keys[k] << (dragged ? " drive" : " file");
                EXPECT_EQ(expected, drop.OnDragOver(&target, nullptr, keys[k], pt))
                    << row.spot << " keys " << keys[k] << (dragged ? " drive" : " file");
                drop.OnDragLeave(&target);
            }
        }
    }
    // Keys held together: the later rule wins.
    EXPECT_EQ(C, CTreeDropTarget::EffectForKeys(false, MK_SHIFT | MK_CONTROL));
    EXPECT_EQ(L, CTreeDropTarget::EffectForKeys(false, MK_CONTROL | MK_ALT));
    // Without a drag of this program's trees nothing can be dropped.
    CTreeDropTarget::EndDrag();
    EXPECT_EQ(N, drop.OnDragOver(&target, nullptr, 0, ItemPoint(target, spots["folder"])));
}

TEST_F(CTreeDropTest, CopyAndMoveHandTheShellExactNames)
{
    shell.forwardFileOps = false;
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(fileA)));
    EXPECT_TRUE(DropOn(Dst(folderDst), MK_CONTROL));
    EXPECT_TRUE(DropOn(Dst(folderDst), 0));
    ASSERT_EQ(2u, shell.fileOps.size());
    const CShellDouble::FileOp& copy = shell.fileOps[0];
    EXPECT_EQ((UINT)FO_COPY, copy.wFunc);
    EXPECT_EQ(W(fileA), copy.from);
    EXPECT_EQ(W(folderDst), copy.to);
    EXPECT_EQ(0x140, copy.flags);
    EXPECT_EQ(L"COPY", copy.title);
    EXPECT_EQ(target.m_hWnd, copy.hwnd);
    const CShellDouble::FileOp& move = shell.fileOps[1];
    EXPECT_EQ((UINT)FO_MOVE, move.wFunc);
    EXPECT_EQ(W(fileA), move.from);
    EXPECT_EQ(W(folderDst), move.to);
    EXPECT_EQ(L"MOVE", move.title);

    // A drive root as destination keeps its backslash.
    HTREEITEM hDrive = TreeView_GetChild(target.m_hWnd, dstRoot);
    EXPECT_TRUE(DropOn(hDrive, MK_CONTROL));
    EXPECT_EQ(W(fileA.Left(3)), shell.fileOps.back().to);

    // The user's abort, or a failure, is no success.
    shell.fileOpAborted = true;
    EXPECT_FALSE(DropOn(Dst(folderDst), MK_CONTROL));
    shell.fileOpAborted = false;
    shell.fileOpResult = 0x75;
    EXPECT_FALSE(DropOn(Dst(folderDst), 0));

    // The drop highlight is gone after a drop.
    EXPECT_FALSE(Highlighted(Dst(folderDst)));
}

TEST_F(CTreeDropTest, RealCopyAndMoveEndWithTheBytesInTheRightPlace)
{
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(fileA)));
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_CONTROL));
    EXPECT_EQ("hello", ReadBytes(folderDst + L"\\a.txt"));
    EXPECT_EQ("hello", ReadBytes(fileA));

    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(folderSub)));
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_SHIFT));
    EXPECT_EQ(std::string("\x01\x02\x00\x03", 4), ReadBytes(folderDst + L"\\sub\\inner.bin"));
    EXPECT_FALSE(FileExists(folderSub));
    // Nothing else appeared beside the source.
    EXPECT_FALSE(FileExists(temp / L"inner.bin"));
}

TEST_F(CTreeDropTest, NothingMovesAnywhereTheUserDidNotPoint)
{
    shell.forwardFileOps = false;
    // Dropped on a shell node, the root or empty space: refused, no operation.
    HTREEITEM hNode = target.InsertItem(L"Phone", dstRoot);
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(fileA)));
    EXPECT_FALSE(drop.OnDrop(&target, nullptr, DROPEFFECT_MOVE, ItemPoint(target, hNode)));
    EXPECT_FALSE(drop.OnDrop(&target, nullptr, DROPEFFECT_MOVE, ItemPoint(target, dstRoot)));
    EXPECT_FALSE(drop.OnDrop(&target, nullptr, DROPEFFECT_MOVE, CPoint(400, 680)));
    // A move or copy onto a plain file, a folder into itself, a move into its own folder.
    EXPECT_FALSE(drop.OnDrop(&target, nullptr, DROPEFFECT_MOVE, ItemPoint(target, Dst(plain))));
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(folderSub)));
    EXPECT_FALSE(DropOn(Dst(folderSub), MK_CONTROL));
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_COPY, folderSub + L"\\", folderSub + L"\\deeper\\", target));
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_MOVE, fileA + L"\\", temp.Path() + L"\\", target));
    // Relative or path-less names, and names too long for the shell.
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_MOVE, L"Phone\\a.txt\\", folderDst + L"\\", target));
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_MOVE, fileA + L"\\", L"dst\\", target));
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_MOVE, fileA + L"\\", L"\\dst\\", target));
    EXPECT_FALSE(CTreeDropTarget::TransferItem(FO_MOVE, fileA + L"\\", folderDst + L"\\" + CString(L'x', 300), target));
    EXPECT_TRUE(shell.fileOps.empty());
    // The root and shell nodes cannot be dragged at all.
    EXPECT_FALSE(CTreeDropTarget::BeginDrag(source, srcRoot));
    EXPECT_FALSE(CTreeDropTarget::BeginDrag(source, source.InsertItem(L"Phone", srcRoot)));
    EXPECT_EQ(nullptr, g_hDragSourceTree);
}

TEST_F(CTreeDropTest, TheDraggedItemIsWhatTheDragStartedWith)
{
    shell.forwardFileOps = false;
    HTREEITEM hA = Src(fileA);
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, hA));
    EXPECT_EQ(source.m_hWnd, g_hDragSourceTree);
    // Shell events change the source tree meanwhile: another selection, the item gone.
    source.SelectItem(Src(plain));
    source.DeleteItem(hA);
    EXPECT_TRUE(DropOn(Dst(folderDst), MK_CONTROL));
    ASSERT_EQ(1u, shell.fileOps.size());
    EXPECT_EQ(W(fileA), shell.fileOps[0].from);

    // The file itself went away: the drop is refused.
    ::DeleteFileW(fileA);
    EXPECT_FALSE(DropOn(Dst(folderDst), MK_CONTROL));
    EXPECT_EQ(1u, shell.fileOps.size());
}

TEST_F(CTreeDropTest, DroppingOnAProgramRunsItWithTheFile)
{
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(plain)));
    // No desktop shell: the program is started directly with the quoted file.
    EXPECT_TRUE(DropOn(Dst(program), 0));
    ASSERT_EQ(2u, shell.launches.size());
    EXPECT_EQ(L"desktop", shell.launches[0].how);
    EXPECT_EQ(W(program), shell.launches[0].file);
    EXPECT_EQ(L"\"" + W(plain) + L"\"", shell.launches[0].parameters);
    EXPECT_EQ(L"process", shell.launches[1].how);
    EXPECT_EQ(L"\"" + W(program) + L"\" \"" + W(plain) + L"\"", shell.launches[1].parameters);
    // Through a shortcut, and with the desktop shell taking it: one start, of the target.
    shell.launches.clear();
    shell.desktopResult = S_OK;
    EXPECT_TRUE(DropOn(Dst(programLink), MK_CONTROL));
    ASSERT_EQ(1u, shell.launches.size());
    EXPECT_EQ(0, CString(shell.launches[0].file.c_str()).CompareNoCase(program));
    // The run effect never makes a shortcut or moves anything.
    EXPECT_FALSE(FileExists(temp / L"tool.exe\\notes.txt.lnk"));
    EXPECT_TRUE(shell.fileOps.empty());
    EXPECT_EQ("n", ReadBytes(plain));
    // A run asked for on something that is not a program does nothing.
    EXPECT_FALSE(drop.OnDrop(&target, nullptr, DROPEFFECT_RUN, ItemPoint(target, Dst(plainLink))));
    EXPECT_EQ(1u, shell.launches.size());
}

TEST_F(CTreeDropTest, ShortcutsRoundTripAndNeverOverwrite)
{
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(fileA)));
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_ALT));
    CString first = folderDst + L"\\a.txt.lnk";
    ASSERT_TRUE(FileExists(first));
    EXPECT_EQ(0, CTreeDropTarget::ResolveShortcut(first).CompareNoCase(fileA));
    std::string firstBytes = ReadBytes(first);

    // The same again: a second, numbered shortcut; the first is untouched.
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_ALT));
    CString second = folderDst + L"\\a.txt (2).lnk";
    EXPECT_TRUE(FileExists(second));
    EXPECT_EQ(firstBytes, ReadBytes(first));
    // A file of that name that is no shortcut is kept as well.
    temp.MakeFile(L"dst\\a.txt (3).lnk", "mine");
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_ALT));
    EXPECT_EQ("mine", ReadBytes(folderDst + L"\\a.txt (3).lnk"));
    EXPECT_TRUE(FileExists(folderDst + L"\\a.txt (4).lnk"));
    // The seam itself refuses to replace.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), SystemShellIo().CreateLink(fileA, first));

    // A dragged drive always links, named after its label without the colon.
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, TreeView_GetChild(source.m_hWnd, srcRoot)));
    ASSERT_TRUE(DropOn(Dst(folderDst), MK_CONTROL));
    CString driveLink;
    driveLink.Format(L"%ls\\Local Disk (%lc).lnk", folderDst.GetString(), fileA[0]);
    ASSERT_TRUE(FileExists(driveLink));
    EXPECT_EQ(0, CTreeDropTarget::ResolveShortcut(driveLink).CompareNoCase(fileA.Left(3)));
    EXPECT_EQ(CString(L"C:\\x\\a_b.lnk"), CTreeDropTarget::ShortcutFileName(L"C:\\x", L"a/b", false));
    EXPECT_EQ(CString(L"C:\\Data (E).lnk"), CTreeDropTarget::ShortcutFileName(L"C:\\", L"Data (E:)", true));
}

TEST_F(CTreeDropTest, HoveringOpensAFolderAfterAWhileAndEdgesScroll)
{
    ASSERT_TRUE(CTreeDropTarget::BeginDrag(source, Src(fileA)));
    HTREEITEM hFolder = Dst(folderDst);
    target.InsertItem(L"inside", hFolder);
    CPoint pt = ItemPoint(target, hFolder);
    auto expanded = [&] { return (TreeView_GetItemState(target.m_hWnd, hFolder, TVIS_EXPANDED) & TVIS_EXPANDED) != 0; };

    drop.OnDragEnter(&target, nullptr, 0, pt);
    drop.OnDragOver(&target, nullptr, 0, pt);
    EXPECT_TRUE(Highlighted(hFolder));
    ::Sleep(300);
    drop.OnDragOver(&target, nullptr, 0, pt);
    EXPECT_FALSE(expanded());
    // Leaving and coming back starts the wait again.
    ::Sleep(600);
    drop.OnDragLeave(&target);
    EXPECT_FALSE(Highlighted(hFolder));
    drop.OnDragEnter(&target, nullptr, 0, pt);
    drop.OnDragOver(&target, nullptr, 0, pt);
    drop.OnDragOver(&target, nullptr, 0, pt);
    EXPECT_FALSE(expanded());
    ::Sleep(CTreeDropTarget::HOVER_EXPAND_MS + 50);
    drop.OnDragOver(&target, nullptr, 0, pt);
    EXPECT_TRUE(expanded());
    drop.OnDragLeave(&target);

    // A long list in a short tree: the bottom edge scrolls down, the top edge back up.
    target.MoveWindow(450, 0, 300, 120);
    HTREEITEM hLong = target.InsertItem(L"long", dstRoot);
    for (int i = 0; i < 60; ++i) {
        CString s;
        s.Format(L"item %d", i);
        target.InsertItem(s, hLong);
    }
    target.Expand(hLong, TVE_EXPAND);
    TreeView_EnsureVisible(target.m_hWnd, dstRoot);
    HTREEITEM hTop = TreeView_GetFirstVisible(target.m_hWnd);
    CRect rc;
    target.GetClientRect(&rc);
    drop.OnDragEnter(&target, nullptr, 0, CPoint(rc.Width() / 2, rc.bottom - 3));
    for (int i = 0; i < 3; ++i)
        drop.OnDragOver(&target, nullptr, 0, CPoint(rc.Width() / 2, rc.bottom - 3));
    EXPECT_NE(hTop, TreeView_GetFirstVisible(target.m_hWnd));
    for (int i = 0; i < 10; ++i)
        drop.OnDragOver(&target, nullptr, 0, CPoint(rc.Width() / 2, 2));
    EXPECT_EQ(hTop, TreeView_GetFirstVisible(target.m_hWnd));
    drop.OnDragLeave(&target);
}

} // namespace
