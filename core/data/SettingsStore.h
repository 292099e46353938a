#pragma once
// Settings of "init.xml" read and written one element at a time, without windows, by every
// part of the program that acts on them or changes them.
//
// Every writer loads the file afresh, changes its one element and saves the whole file, so
// that what other writers stored in the meantime survives. A file that is missing gets its
// defaults first and then the change; a file that exists but does not load (locked, damaged)
// is left exactly as it is and the write reports failure, so that no click ever replaces the
// stored settings with a document holding one element. A change to the value already stored
// writes nothing. A setting missing from a loaded file is added as a child of the root.

#include "afx.h"

class CXmlDocument;

// The outcome of one write.
enum class SettingsWrite {
    Saved,      // the file now holds the new value
    Unchanged,  // the file already held it; nothing was written
    Failed,     // the file could not be loaded or saved; it was left as it was
};

inline bool WriteSucceeded(SettingsWrite r) { return r != SettingsWrite::Failed; }

// Path of the per-user settings file, GetDataFolder() + "\init.xml".
CString GetSettingsPath();

// Loads the settings file for an edit. A missing file gets its defaults written first (the
// start-up rule); a file that exists but does not load is left alone and false is returned.
bool LoadSettingsForEdit(CXmlDocument& doc, const CString& strDataFolder);

// Finds the element directly under the root; when missing it is added as the root's last
// child (bFirst: first child) with the text. false when the document has no root. On success
// the root is current and the element is its current child.
bool FindOrAddSetting(CXmlDocument& doc, const wchar_t* pszName, const wchar_t* pszText = nullptr,
                      bool bFirst = false, bool* pbAdded = nullptr);

// The element's text (empty when missing), one write per call.
SettingsWrite SaveInitValue(const wchar_t* pszName, const wchar_t* pszValue);
SettingsWrite SaveInitValueIn(const CString& strDataFolder, const wchar_t* pszName, const wchar_t* pszValue);

// The stored backup hot key: virtual-key code and MOD_* flags of the "HotKey" element of the
// per-user settings file. When the file does not load or has no such element both outputs
// keep the values the caller set.
void ReadHotKey(int& nVirtualKey, int& nModifiers);
// The hot key's display text (attribute "Str"); empty when none is stored.
CString ReadHotKeyText();
// Stores the hot key: "Str" = text, "VirtualKeyCode" and "keyModifiers" as "%d", in that
// attribute order, on the "HotKey" element (which keeps its place in the file).
SettingsWrite SaveHotKey(const wchar_t* pszText, int nVirtualKey, int nModifiers);

// The weekly schedule. Day names are the English element names "Monday" to "Sunday".
extern const wchar_t* const kScheduleDays[7];
// "IsSet" of a day as "0" or "1".
SettingsWrite SaveDayIsSet(const wchar_t* pszDay, bool bSet);
// "IsSet" "1" and "Timing" (hour and minute clamped to 0-23 and 0-59, two digits each).
SettingsWrite SaveDayTiming(const wchar_t* pszDay, int nHour, int nMinute);
// The same time for several days in one write: every day is stored or none is (an unknown day
// name fails the whole write).
SettingsWrite SaveDaysTiming(const wchar_t* const* ppszDays, int nDays, int nHour, int nMinute);
// The stored "Timing" text of a day, and whether its "IsSet" is "1"; false when the file or
// the day is missing.
bool ReadDaySchedule(const wchar_t* pszDay, CString& strTiming, bool& bSet);
// "HH:MM" of clamped values.
CString FormatTiming(int nHour, int nMinute);

// The language choice in strAppDir\language.xml: "LanguageSelect" = the id. A missing or
// unloadable file is written anew with just the choice.
SettingsWrite SaveLanguageSelect(const CString& strAppDir, const wchar_t* pszId);
