#include "BackUpThread.h"

#include "BackUpEngine.h"
#include "DataFiles.h"
#include "LongPath.h"
#include "StoreNames.h"
#include "XmlDocument.h"

#include <new>
#include <windows.h>

std::atomic<int> g_bBackUpThreadDone{0};

namespace {

// A backup source the trees can produce: a drive letter and a colon, then the path on it.
// Anything else (an empty, relative or network path from a damaged or edited file) would be
// walked from the process's current folder or land in the store under a wrong name.
bool IsSourcePath(const CString& strPath)
{
    if (strPath.GetLength() < 2 || strPath[1] != L':')
        return false;
    wchar_t ch = strPath[0];
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
}

// A restore selection must be the store folder itself or lie inside it: the engine maps every
// collected file back to its source through the store's layout, and a path outside the store
// would give files no place to go back to.
bool IsStorePath(const CString& strPath, const CString& strStore)
{
    if (strPath.CompareNoCase(strStore) == 0)
        return true;
    return strPath.GetLength() > strStore.GetLength() + 1 &&
           strPath.Left(strStore.GetLength()).CompareNoCase(strStore) == 0 &&
           strPath[strStore.GetLength()] == L'\\';
}

// The source location a restored store path stands for: the store's folder C gives C:\, its
// folder C\Users gives C:\Users.
CString DriveRootOfStorePath(const CString& strPath, const CString& strStore)
{
    CString strRoot = strPath.Mid(strStore.GetLength() + 1);
    if (strRoot.GetLength() < 2)
        strRoot += L":\\";
    else
        strRoot.Insert(1, L':');
    return strRoot;
}

// Text of a setting directly under the root; false when the element is missing.
bool ReadSetting(CXmlDocument& doc, const wchar_t* pszName, CString& strValue)
{
    doc.ResetPosition();
    if (!doc.FindChildElement(pszName))
        return false;
    strValue = doc.GetChildData();
    return true;
}

// The end of every run, stopped or not: the run's temporaries ended, the engine's end flags,
// and the restore list deleted (it is only valid for the run it was written for, whichever
// branch ran). strRestoreList is its name in the long-path form when the run could make it,
// else it is made here as far as memory allows.
void EndRun(CBackUpEngine& engine, const CString& strAppDir, const CString& strRestoreList)
{
    engine.m_bScanning = 0;
    engine.m_bCancel = 1;
    // Before the end is seen: the user may take the disk away the moment it is, and a run
    // cancelled while it collected has not reached the list loops that end them otherwise.
    try {
        engine.EndTempRecord();
    } catch (const std::bad_alloc&) {
        // What is left stays for a later run to clear.
    }
    if (!strRestoreList.IsEmpty()) {
        ::DeleteFileW(strRestoreList);
    } else {
        try {
            ::DeleteFileW(ExtendedPath(JoinPath(strAppDir, kRestoreListFile)));
        } catch (const std::bad_alloc&) {
        }
    }
    engine.m_bDone = 1;
    g_bBackUpThreadDone = 1;
}

void CollectAndCopy(CBackUpEngine& engine, const CString& strAppDir, const CString& strDataFolder);

} // namespace

void RunBackUpOrRestore(CBackUpEngine& engine, const CString& strAppDir, const CString& strDataFolder)
{
    // A selection too large for the memory ends the run as failed, with a fail line that says
    // so, instead of ending the program. The copy under way has removed its temporary file and
    // the copy threads have ended when the exception arrives here. The restore list's name is
    // made first, so that its deletion at the end needs no memory.
    CString strRestoreList;
    try {
        strRestoreList = ExtendedPath(JoinPath(strAppDir, kRestoreListFile));
        // The record of a restore's temporary copies stays on this computer, with the user's data.
        engine.m_strTempRecordFolder = strDataFolder;
        CollectAndCopy(engine, strAppDir, strDataFolder);
    } catch (const std::bad_alloc&) {
        engine.EndOutOfMemory();
    }
    EndRun(engine, strAppDir, strRestoreList);
}

namespace {

void CollectAndCopy(CBackUpEngine& engine, const CString& strAppDir, const CString& strDataFolder)
{
    // The settings and selection files are replaced whole in one move by their writers, so a
    // load here sees either the old or the new file. A file that does not load counts as
    // missing: the options keep the engine's reset values, the selection is empty.
    CXmlDocument settings;
    bool bSettings = settings.LoadFile(JoinPath(strDataFolder, kSettingsFile));
    CString strValue;
    if (bSettings && ReadSetting(settings, L"BackupStatus", strValue))
        engine.m_bChangedOnly = strValue == L"1" ? 1 : 0;

    const CString strStore = engine.m_strTargetRoot + L"\\" + copyengine::kStoreName;
    const CString strRestoreList = JoinPath(strAppDir, kRestoreListFile);
    bool bCancelled = false;

    if (engine.m_bRestore) {
        CXmlDocument list;
        bool bList = list.LoadFile(strRestoreList);
        engine.m_bRestore = 1;
        list.ResetPosition();
        while (bList && list.FindChildElement(L"path")) {
            CString strPath = list.GetChildAttribute(L"path");
            if (!IsStorePath(strPath, strStore))
                continue;
            engine.CollectFolderFiles(strPath);
            if (engine.m_bCancel) {
                bCancelled = true;   // nothing is restored
                break;
            }
            // Remember which source locations the restore touches so their trees get refreshed.
            if (strPath.CompareNoCase(strStore) == 0)
                engine.ListStoreDrives(strStore);
            else
                engine.m_arrDriveRoots.Add(DriveRootOfStorePath(strPath, strStore));
        }
        if (!bCancelled) {
            engine.m_bScanning = 0;
            engine.RestoreFileList();
        }
    } else {
        if (bSettings && ReadSetting(settings, L"CompressFile", strValue) && strValue == L"1")
            engine.m_bCompress = 1;
        CXmlDocument list;
        bool bList = list.LoadFile(JoinPath(strDataFolder, kFullPathFile));
        engine.m_bScanning = 1;
        list.ResetPosition();
        while (bList && list.FindChildElement(L"path")) {
            CString strPath = list.GetChildAttribute(L"path");
            if (!IsSourcePath(strPath))
                continue;
            engine.CollectBackUpFiles(strPath, strStore);
            if (engine.m_bCancel) {
                bCancelled = true;   // nothing is copied
                break;
            }
        }
        if (!bCancelled) {
            engine.m_bScanning = 0;
            engine.BackUpFileList(strStore);
        }
    }
}

} // namespace

void __cdecl BackUpThreadProc(void* pEngine)
{
    if (!pEngine)
        return;
    CBackUpEngine& engine = *static_cast<CBackUpEngine*>(pEngine);
    CString strDataFolder;
    try {
        strDataFolder = GetDataFolder();
    } catch (const std::bad_alloc&) {
        // Nothing is collected: the run ends at once, as failed.
        engine.EndOutOfMemory();
        EndRun(engine, g_strAppDir, CString());
        return;
    }
    RunBackUpOrRestore(engine, g_strAppDir, strDataFolder);
}
