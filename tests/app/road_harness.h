#pragma once
// The main program end to end inside one test process: the real main window with its pages, a
// bridge disk whose volume is a drive letter of this Wine prefix mapped to a temporary folder,
// the enclosure with its backup button behind the device library, a system that records power
// off and restart and answers the clock the test sets, and a hand that answers the prompts
// through their own buttons.

#include "afxwin.h"
#include "BackUpTreeCtrl.h"
#include "KelvariDlg.h"
#include "UsbTreeCtrl.h"
#include "SystemIo.h"
#include "LangTestFolder.h"
#include "usb_fake_disk.h"
#include "road_enclosure.h"
#include "test_pump.h"
#include "tree_test_support.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace road {

using testsupport::Pump;
using testsupport::PumpUntil;

// A free drive letter of the running Wine prefix mapped to a folder for the life of the object:
// the prefix's own link under "dosdevices" (so files reach the folder) and the system's device
// name (so the letter is listed among the drives). Both are taken away again at the end.
class CPrefixDrive {
public:
    explicit CPrefixDrive(const CString& strFolder);
    ~CPrefixDrive();
    CPrefixDrive(const CPrefixDrive&) = delete;
    CPrefixDrive& operator=(const CPrefixDrive&) = delete;

    bool IsMapped() const { return m_chLetter != 0; }
    wchar_t Letter() const { return m_chLetter; }
    CString Drive() const;   // "Q:"
    CString Root() const;    // "Q:\"
    // Why the mapping failed, for the test's message.
    const CString& Error() const { return m_strError; }

private:
    bool RunUnix(const char* pszProgram, const std::string& args);
    wchar_t m_chLetter = 0;
    std::string m_strLink;   // unix path of the link
    CString m_strError;
};

// The system seam: records every power-off or restart instead of carrying it out, names the
// session user, and gives the local time the test sets (the real one until then).
class CRecordingSystem : public ISystemIo {
public:
    struct ShutDownCall {
        UINT uFlags;
        DWORD dwReason;
    };
    CRecordingSystem() { SetSystemIoForTesting(this); }
    ~CRecordingSystem() override { SetSystemIoForTesting(nullptr); }

    BOOL ShutDown(UINT uFlags, DWORD dwReason) override
    {
        calls.push_back({uFlags, dwReason});
        return TRUE;
    }
    BOOL QuerySessionUserName(CString& strUser) override
    {
        strUser = L"user";
        return TRUE;
    }
    void GetLocalTime(SYSTEMTIME* pst) override;

    // From now on the clock reads this time.
    void SetClock(WORD wYear, WORD wMonth, WORD wDay, WORD wDayOfWeek, WORD wHour, WORD wMinute);
    void UseRealClock() { m_bClockSet = false; }

    std::vector<ShutDownCall> calls;

private:
    bool m_bClockSet = false;
    SYSTEMTIME m_clock = {};
};

// Answers every start prompt, question and message that opens on the user-interface thread,
// through the prompt's own buttons. Each prompt is recorded once (heading and message) and given
// the answer the script returns for it.
class CPromptHand {
public:
    enum Answer { OK, CANCEL, LEAVE };
    struct Seen {
        CString heading, message;
        bool bCountDown;   // the prompt counts down
        HWND hWnd;
    };
    CPromptHand();
    ~CPromptHand();

    std::function<Answer(const Seen&)> script;   // null: OK to everything
    // Called on every tick while a prompt left open (LEAVE) is up, with the milliseconds since
    // it was seen: what a user does meanwhile (presses the enclosure button, waits).
    std::function<void(const Seen&, DWORD)> whileOpen;
    std::vector<Seen> seen;
    // The prompt left open last (LEAVE), or null when it has gone.
    HWND OpenPrompt() const;
    // Presses a button of the open prompt as a user would.
    static void Press(HWND hPrompt, UINT nId);
    bool Saw(const CString& strMessage) const;

    static CPromptHand* s_pCurrent;
    void Tick();

private:
    UINT_PTR m_nTimer = 0;
    HWND m_hLeft = nullptr;
    DWORD m_dwLeftAt = 0;
    std::vector<HWND> m_met;   // prompts met that are still windows
};

// Runs a prompt's countdown to its end by its own timer, as the seconds would.
void RunCountDown(HWND hPrompt);

// The backup page's two trees and its destination list, found through their published windows
// (null while the page is not there).
CBackUpTreeCtrl* SourceTree();
CUsbTreeCtrl* DestTree();
CString DestinationText();
using treetest::OpenTreePath;
// Clicks the check box of a path's item in the source tree (C:\... below the computer item).
bool CheckSourcePath(const CString& strPath);
// Clicks the check box of a path's item in the destination tree (below its drive root item).
bool CheckDestPath(const CString& strPath);
// Clicks the check box of a disk's item (device number) in a tree; false when it has none.
bool CheckDiskItem(CBackUpTreeCtrl& tree, int nDeviceNumber);

// Files of a folder tree below a root, relative names with their sizes, sorted.
std::vector<std::pair<CString, ULONGLONG>> ListFiles(const CString& strRoot);

// The store path of a source path on a target drive: "Q:\VEZORI\C\dir\file".
CString StorePath(const CString& strDrive, const CString& strSource);

// One whole scene: app folder, data folder with default settings, source files, one bridge disk
// with a mapped volume, a second bridge disk without a volume (a disk copy's target), the
// enclosure model with its button released, the recording system, the prompt hand. The main
// window is made by Open(), after a test has changed settings and the selection.
class CRoadScene {
public:
    CRoadScene();
    ~CRoadScene();

    // Changes one setting of "init.xml".
    bool SetSetting(const wchar_t* pszName, const wchar_t* pszValue);
    // Writes the selection as the source tree writes it (nested and flat files).
    bool Select(const std::vector<CString>& paths);
    // Makes nCount source files of nSize bytes in the source folder (a subfolder when named).
    void MakeSourceFiles(int nCount, size_t nSize, const wchar_t* pszSub = nullptr);

    // Creates the main window (hidden, as after a start at logon).
    bool Open();
    // Closes the main window: waits for the progress dialog's worker, destroys the window.
    void Close();

    // The enclosure button, as its register shows it.
    void PressButton();
    void ReleaseButton();
    // A full press and release, held long enough for the watcher to see it.
    void ClickButton();

    CKelvariDlg* Main() const { return m_pMain; }
    CPageBox* Panel() const { return m_pMain ? m_pMain->m_pPageBox : nullptr; }

    langtest::TempFolder root{L"road"};
    CString strApp, strData, strSource, strTargetFolder;
    std::unique_ptr<CPrefixDrive> drive;
    FakeDeviceStack disks;
    std::unique_ptr<CRoadEnclosure> enclosure;
    CRecordingSystem system;
    CPromptHand hand;
    static constexpr int kDiskNumber = 5;       // the bridge disk with the mapped volume
    static constexpr int kSpareDiskNumber = 6;  // a second bridge disk, no volume

private:
    CKelvariDlg* m_pMain = nullptr;
    CString m_strStartDir;
};

}  // namespace road
