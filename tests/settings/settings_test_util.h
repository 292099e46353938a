#pragma once
// Helpers of the settings tests: a private program folder with a user folder and the
// language files, a recording host, message pumping and scripted modal dialogs.

#include "afxwin.h"
#include "LangTestFolder.h"
#include "ProgramWide.h"
#include "SettingsHost.h"
#include "test_pump.h"

#include <functional>
#include <string>
#include <vector>

class CSetDialog;

using testsupport::Pump;
using testsupport::PumpUntil;

// A plain visible top-level window: the main window of the tests and the parent of pages.
class CTestMainWnd : public CWnd {
public:
    BOOL CreateMain(int x, int y, int w, int h);
    int m_nHotKeys = 0;   // WM_HOTKEY messages of ID_BACKUP_HOTKEY seen

protected:
    void OnHotKey(UINT nID, UINT, UINT);
    BOOL OnEraseBkgnd(CDC* pDC);
    DECLARE_MESSAGE_MAP()
};

// The host double: records what the settings windows ask of the program above them.
class CRecordingHost : public ISettingsHost {
public:
    CWnd* GetMainWindow() override { return m_pMain; }
    void SetButtonWatch(bool bOn) override { m_watch.push_back(bOn); }
    void ApplyLanguage(const CString& strLanguageId) override;
    void UpdateBackupFolderHidden() override { ++m_nHiddenUpdates; }
    void ReportSettingsWriteFailure(const CString&) override
    {
        ++m_nWriteFailures;
        ++m_nReportsOpen;
        if (m_nReportsOpen > m_nMostReportsOpen)
            m_nMostReportsOpen = m_nReportsOpen;
        if (m_onWriteFailure)
            m_onWriteFailure();
        --m_nReportsOpen;
    }

    CWnd* m_pMain = nullptr;
    CSetDialog* m_pPage = nullptr;   // reloaded after a language change
    std::vector<bool> m_watch;
    std::vector<CString> m_languages;
    int m_nHiddenUpdates = 0;
    int m_nWriteFailures = 0;
    // Runs inside each report, as the program's message box would: pumping here stands for
    // its modal loop, in which the windows' timers go on.
    std::function<void()> m_onWriteFailure;
    int m_nReportsOpen = 0;
    int m_nMostReportsOpen = 0;   // reports open at once, at most
};

// A program folder (g_strAppDir) with the language files and the user "user", whose
// "init.xml" holds the defaults; the host double installed. Undone at the end.
class SettingsEnv {
public:
    SettingsEnv();
    ~SettingsEnv();
    CString SettingsPath() const;
    std::string SettingsBytes() const;
    void WriteSettingsBytes(const std::string& bytes) const;
    // The text of an element of the stored file; "<missing>" when absent, "<unloadable>" when
    // the file does not load.
    CString Stored(const wchar_t* pszName) const;
    CString StoredAttribute(const wchar_t* pszName, const wchar_t* pszAttr) const;
    FILETIME SettingsWriteTime() const;

    langtest::TempFolder m_root{L"settings"};
    CString m_strApp;
    CRecordingHost m_host;
    CTestMainWnd m_main;
};

// Runs script on the first visible dialog pop-up of this thread once it appears while a modal
// loop runs (the call that starts the loop follows this one). The script runs once.
void ScriptNextPopup(std::function<void(HWND)> script);
// The pop-up that ScriptNextPopup found last (null before).
HWND LastScriptedPopup();

// A click on a button as its parent sees it (BN_CLICKED with the button's handle).
void Click(HWND hButton);
// Keys into a window through the thread's queue, so that the dialogs' key handling runs.
void PostKey(HWND hWnd, UINT vk);
