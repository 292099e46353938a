#pragma once
// Records of temporary copies that earlier versions of the program kept in a store:
// "TempCopies_<process id>_<process creation time>.log" (hex) at the top of the store folder,
// UTF-16 lines, each the full name of a temporary "~zu<id>_<counter>.tmp" beside its final
// name, after a "|" the final name a finished copy waits for. A store written by such a version
// may still hold them; they are cleared once, by the rules they were written under, and go.
// Nothing writes them any more.

#include "afxstr.h"

// Clears, in the store folder (long-path form or not), what the records of ended processes
// name and is still there, then those records; a record that cannot be read whole, or names a
// file that cannot be removed, is kept. A record of a process that may still run is left.
void ClearLegacyTempRecords(const CString& strStoreFolder);

// True for the name of such a record.
bool IsLegacyRecordName(const wchar_t* pszName);
