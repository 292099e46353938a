// Entry point of the main program "KVR ZUL".
#include "KelvariApp.h"

CKelvariApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPWSTR lpCmdLine, int nShow)
{
    return AfxWinMain(hInstance, hPrev, lpCmdLine, nShow);
}
