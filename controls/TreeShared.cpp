#include "TreeShared.h"

HIMAGELIST g_hNormalImageList = nullptr;
HIMAGELIST g_hStateImageList = nullptr;
int g_nDiskImage = 0;

int g_nShareOverlaySysImage = 0;
int g_nLinkOverlaySysImage = 1;
int g_nShareOverlay = 1;

HWND g_hSourceTreeWnd = nullptr;
HWND g_hDestTreeWnd = nullptr;
HWND g_hDestComboWnd = nullptr;
HWND g_hManageTreeWnd = nullptr;
HWND g_hManageTree2Wnd = nullptr;
HWND g_hDragSourceTree = nullptr;

static ITreeReporter* g_pTreeReporter = nullptr;
void SetTreeReporter(ITreeReporter* pReporter) { g_pTreeReporter = pReporter; }
ITreeReporter* GetTreeReporter() { return g_pTreeReporter; }
