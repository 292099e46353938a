#include "ProgramWide.h"

CString g_strLanguage;
CXmlDocument* g_pLanguageListDoc = nullptr;

namespace {
IMainWindowLink* g_pMainWindowLink = nullptr;
}

IMainWindowLink* GetMainWindowLink() { return g_pMainWindowLink; }
void SetMainWindowLink(IMainWindowLink* pLink) { g_pMainWindowLink = pLink; }
