#pragma once
// Resource numbers of the main program.
#define IDR_MAINFRAME 128

// Cursor and icons
#define IDC_HAND_POINTER 131
#define IDI_APP 133

// Menus
#define IDR_TRAY_MENU 135
#define ID_TRAY_SHOW 32772
#define ID_TRAY_HELP 32773
#define ID_TRAY_ABOUT 32774
#define ID_TRAY_QUIT 32775

// Splash and About box
#define IDD_ABOUTBOX 3003
#define IDC_ABOUT_LINK 1048
#define IDC_ABOUT_PROGRESS 1059
#define IDB_SPLASH_BACKGROUND 280
#define IDB_SPLASH_TRACK 284
#define IDB_SPLASH_BAR_LEFT 285
#define IDB_SPLASH_BAR_BODY 286
#define IDB_SPLASH_BAR_RIGHT 287

// Each area keeps its numbers in a header of its own.
#include "res_main.h"
#include "res_trees.h"
#include "res_settings.h"
#include "res_manage.h"
