#pragma once
// Program-wide objects that the folder trees share with the main window and the pages.
// The main window sets up the image lists and the overlay words at start-up; each page
// sets the window handle of the tree or drive list it owns.

#include <windows.h>
#include <commctrl.h>

// Check image of a tree item (state-image index, bits 12-15 of the item state).
enum TreeCheckState {
    TCS_NONE = 0,
    TCS_UNCHECKED = 1,
    TCS_MIXED = 2,
    TCS_CHECKED = 3,
    TCS_UNCHECKED_ALT = 4, // handled like TCS_UNCHECKED
    TCS_FIXED = 5,
};

// Item data of the folder-tree items.
constexpr DWORD_PTR TREE_DATA_FOLDER = 0;
constexpr DWORD_PTR TREE_DATA_FILE = 0xFFFF;
constexpr DWORD_PTR TREE_DATA_DEVICE_BASE = 3;        // device number + 3
constexpr DWORD_PTR TREE_DATA_DRIVE_MIN = 65u << 8;   // drive letter code << 8 (+2 without a file system)

extern HIMAGELIST g_hNormalImageList;  // the system's small-icon list (not owned)
extern HIMAGELIST g_hStateImageList;   // the check images (owned by the main window)
extern int g_nDiskImage;               // index of the program's disk icon in the normal list

// Overlay words (the main window changes them on Windows 6 and later).
extern int g_nShareOverlaySysImage;
extern int g_nLinkOverlaySysImage;
extern int g_nShareOverlay;

// Windows of the folder trees and of the destination drive list, set by their pages.
extern HWND g_hSourceTreeWnd;
extern HWND g_hDestTreeWnd;
extern HWND g_hDestComboWnd;
extern HWND g_hManageTreeWnd;
extern HWND g_hManageTree2Wnd;
// The management tree a drag started from; set only during a drag.
extern HWND g_hDragSourceTree;

// The placeholder child "temp" of a folder that has not been listed yet carries this item
// data, so that a real folder named "temp" is never taken for it.
constexpr DWORD_PTR TREE_DATA_PLACEHOLDER = 0xFFFE;
// The drive root item of the destination tree.
constexpr DWORD_PTR TREE_DATA_DEST_ROOT = 1;
constexpr DWORD_PTR TREE_DATA_DEVICE_MAX = 16639;

inline bool IsTreeDeviceData(DWORD_PTR d)
{
    return d >= TREE_DATA_DEVICE_BASE && d <= TREE_DATA_DEVICE_MAX && d != TREE_DATA_FILE;
}
inline bool IsTreeDriveData(DWORD_PTR d)
{
    return d >= TREE_DATA_DRIVE_MIN && d != TREE_DATA_FILE && d != TREE_DATA_PLACEHOLDER;
}
// The drive letter of a drive item's data (0 when the data is not a drive's).
inline wchar_t TreeDriveLetter(DWORD_PTR d)
{
    if (!IsTreeDriveData(d))
        return 0;
    wchar_t ch = static_cast<wchar_t>((d >> 8) & 0xFF);
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z') ? ch : 0;
}

// What the trees report upward (installed by the main window at start-up).
class ITreeReporter {
public:
    virtual ~ITreeReporter() = default;
    // A selection file could not be written; the tree has gone back to what the files hold.
    virtual void SelectionWriteFailed(HWND hTree, const wchar_t* pszFile, DWORD dwError) = 0;
};
void SetTreeReporter(ITreeReporter* pReporter);
ITreeReporter* GetTreeReporter();
