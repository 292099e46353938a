#pragma once
// The backup/restore worker: the thread that carries out one file backup or one restore with
// the copy engine that the progress dialog prepared (restore flag, target root, file-type
// filter, fail list, pause event). It reads the two options it needs from the settings file and
// the user's selection from a selection file, lets the engine collect and copy, and marks the
// end of the run in the engine (m_bCancel and m_bDone both 1) and in g_bBackUpThreadDone. It has
// no window; the progress dialog polls the engine's fields. A run whose memory runs out while it
// collects or copies ends the same way, as failed, with the engine's fail line that says so
// (CBackUpEngine::EndOutOfMemory); the program goes on.

#include "afx.h"

#include <atomic>

class CBackUpEngine;

// 1 once a worker run has ended; cleared by the progress dialog before it starts one.
extern std::atomic<int> g_bBackUpThreadDone;

// Thread entry for the C run-time's thread start; pEngine is the CBackUpEngine to drive.
void __cdecl BackUpThreadProc(void* pEngine);

// One run on the calling thread, with the program folder (holding "restoreTempPath.xml") and
// the per-user data folder (holding "init.xml" and "backupfullpath.xml") given explicitly.
// BackUpThreadProc runs it with g_strAppDir and g_strAppDir + g_strUserName.
void RunBackUpOrRestore(CBackUpEngine& engine, const CString& strAppDir, const CString& strDataFolder);
