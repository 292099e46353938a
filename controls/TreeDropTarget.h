#pragma once
// Drag and drop between the file-management trees. A drag starts in one management tree
// (BeginDrag captures what is dragged) and ends on the same or the other tree, whose drop
// target copies or moves the dragged file or folder into the folder under the cursor,
// makes a shortcut to it there, or starts the program under the cursor with the dragged
// file. The drag's data object carries nothing: only the program's own trees take part.

#include "afxole.h"

#include <commctrl.h>
#include <string>

// What lies under the cursor, as the drop rules see it.
enum class DropSpot {
    Nothing,    // empty space, the computer root, or a shell node without a path
    Folder,     // a folder or a drive root: the dragged item can go into it
    Program,    // a program (".exe"), or a shortcut to one: it can be started with the file
    OtherFile,  // any other file: nothing can be dropped on it
};

// The item being dragged, as it was when the drag began.
struct TreeDragItem {
    HWND hSourceTree = nullptr;
    HTREEITEM hItem = nullptr;
    CString strPath;   // "X:\dir\name\" (a drive root "X:\")
    CString strLabel;  // the item's text
    bool bDrive = false;  // a drive root (a child of the computer root)
};

class CTreeDropTarget : public COleDropTarget, public COleDropSource {
public:
    static constexpr DWORD HOVER_EXPAND_MS = 800;  // a folder hovered this long opens
    static constexpr int SCROLL_MARGIN = 10;       // pixels from an edge that scroll the tree

    CTreeDropTarget();
    ~CTreeDropTarget() override;

    // The drag session. BeginDrag captures the item's path and text and sets
    // g_hDragSourceTree; FALSE (and no session) for the root, a shell node or anything
    // without an absolute drive path. EndDrag clears both.
    static BOOL BeginDrag(HWND hSourceTree, HTREEITEM hItem);
    static void EndDrag();
    static const TreeDragItem& CurrentDrag() { return s_drag; }

    DROPEFFECT OnDragEnter(CWnd* pWnd, COleDataObject* pDataObject, DWORD dwKeyState, CPoint point) override;
    DROPEFFECT OnDragOver(CWnd* pWnd, COleDataObject* pDataObject, DWORD dwKeyState, CPoint point) override;
    BOOL OnDrop(CWnd* pWnd, COleDataObject* pDataObject, DROPEFFECT dropEffect, CPoint point) override;
    void OnDragLeave(CWnd* pWnd) override;

    // The path of a tree item: "X:\dir\file.txt\" for a file, "X:\" for a drive root; empty
    // for no item, the root, and anything below the root that is not a drive "(X:)".
    static CString GetItemPath(HWND hTree, HTREEITEM hItem);
    // Makes, in the folder, a shortcut to the source named after the dragged item's label
    // (a drive's label loses its colons: "Local Disk (C:)" gives "Local Disk (C).lnk"). An
    // existing file of that name is kept and the new shortcut is numbered " (2)", " (3)"...
    // TRUE when the shortcut was written; its path goes to pstrLinkFile.
    static BOOL CreateShortcut(const CString& strSource, const CString& strLabel, const CString& strFolder,
                               bool bDrive, CString* pstrLinkFile = nullptr);
    // The target path of a shortcut file, empty when it cannot be read. Shows no window.
    static CString ResolveShortcut(const CString& strLinkFile);
    // Starts the program with the file as its one quoted argument, through the desktop
    // shell where it can (without the program's raised rights), else directly. TRUE when it
    // was started.
    static BOOL RunWithFile(const CString& strProgram, const CString& strFile);

    // --- The rules, without a tree ---
    // The effect of the keys held: move; Shift move; Ctrl copy; a dragged drive or Alt
    // link (the later rule wins).
    static DROPEFFECT EffectForKeys(bool bDraggedDrive, DWORD dwKeyState);
    // The effect of the keys on what lies under the cursor.
    static DROPEFFECT DecideEffect(bool bDraggedDrive, DWORD dwKeyState, DropSpot spot);
    // What a path from GetItemPath names; for a program the program's own path (a
    // shortcut's target) goes to pstrProgram.
    static DropSpot ClassifyPath(const CString& strPath, CString* pstrProgram = nullptr);
    // True for an absolute path on a drive: a letter, ":" and "\".
    static bool IsDrivePath(const CString& strPath);
    // A GetItemPath path as a file operation wants it: the trailing backslash dropped
    // unless it is a drive root.
    static CString OperationPath(const CString& strItemPath);
    // The double-terminated name list of one path, sized by its length.
    static std::wstring NameList(const CString& strPath);
    // The name of the shortcut file for a label in a folder, before any numbering.
    static CString ShortcutFileName(const CString& strFolder, const CString& strLabel, bool bDrive);
    // Copies (FO_COPY) or moves (FO_MOVE) the source into the folder through the shell's
    // file operation, owned by hwndOwner. FALSE, with nothing done, for a source or folder
    // that is not an absolute drive path, too long, a folder dropped into itself or a move
    // into the folder the item is in already; FALSE too when the operation failed or the
    // user aborted it.
    static BOOL TransferItem(UINT wFunc, const CString& strSource, const CString& strFolder, HWND hwndOwner);

private:
    HWND m_hTargetTree = nullptr;
    HTREEITEM m_hLastHover = nullptr;
    DWORD m_dwHoverTick = 0;
    // The item last classified and what it is (classifying reads the disk).
    HTREEITEM m_hSpotItem = nullptr;
    DropSpot m_spot = DropSpot::Nothing;

    static TreeDragItem s_drag;

    bool SourceTreeAlive() const;
    DropSpot SpotOf(HWND hTree, HTREEITEM hItem);
    void ResetHover();
    void AutoScroll(HWND hTree, CPoint point);
};
