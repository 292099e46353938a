#pragma once
// Resource numbers of the trees dialogs and menus.

// The destination tree's delete command (its menu is built in code).
#define IDM_TREE_DELETE_SELECTED 900
// The disk icon the trees add to their image list for device items (art.rc).
#define IDI_TREE_DISK 198
