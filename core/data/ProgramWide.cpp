#include "ProgramWide.h"

CString g_strLanguage;
CXmlDocument* g_pLanguageListDoc = nullptr;
