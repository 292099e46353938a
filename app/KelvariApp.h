#pragma once
// CKelvariApp: the application object of the main program. Its initialisation runs the whole
// program: one start per session, the process set-up, the program and data folders, then the
// main dialog modally. It returns FALSE so that the process ends with the main dialog.

#include "afxwin.h"

class CKelvariApp : public CWinApp {
public:
    CKelvariApp() : CWinApp(nullptr) {}
    BOOL InitInstance() override;
};
