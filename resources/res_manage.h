#pragma once
// Resource numbers of the manage dialogs and menus.

// File-management page: two management trees side by side over the page panel picture.
#define IDD_MANAGE_DIALOG 141
#define IDC_MANAGE_TREE1 1008
#define IDC_MANAGE_TREE2 1009
#define IDB_MANAGE_PANEL 217
