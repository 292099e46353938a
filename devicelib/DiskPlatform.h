#pragma once
// What the disk utilities need from the system besides the device requests of ZedoDeviceIo.h:
// the external tools (partitioning, formatting, labelling), the volumes behind drive letters,
// the device-tree rescan and the clock. The library always uses DiskPlatform(); a test may put a
// model of these in its place.
#include <windows.h>

#include <string>

struct ToolRun {
    bool bStarted = false;   // the process was created
    bool bFinished = false;  // it ended within the time allowed
    DWORD dwExitCode = 0;    // its exit code, when it ended
    bool Succeeded() const { return bStarted && bFinished && dwExitCode == 0; }
};

class CDiskPlatform {
public:
    virtual ~CDiskPlatform() {}
    // Runs a program hidden and waits for it at most dwTimeOutMs. A tool still running at the
    // time-out is left to finish on its own.
    virtual ToolRun RunTool(const char* pszFile, const char* pszParameters, DWORD dwTimeOutMs);

    // The root folder of a drive letter as files are reached through it ("E:\").
    virtual std::string DriveRoot(char cLetter);
    // GetDriveTypeA of the letter's root.
    virtual UINT DriveType(char cLetter);
    // GetVolumeInformationA of the letter's root: label and file-system name.
    virtual BOOL VolumeInformation(char cLetter, char* pszLabel, DWORD dwLabelChars, char* pszFileSystem,
                                   DWORD dwFileSystemChars);
    virtual BOOL SetLabel(char cLetter, const char* pszLabel);
    // GetDiskFreeSpaceA of the letter's root.
    virtual BOOL DiskFreeSpace(char cLetter, DWORD* pdwSectorsPerCluster, DWORD* pdwBytesPerSector,
                               DWORD* pdwFreeClusters, DWORD* pdwTotalClusters);
    // The folder holding the system ("C:\Windows").
    virtual std::string SystemFolder();
    // A folder private to the current user for short-lived files.
    virtual std::string TempFolder();
    // The process's current folder.
    virtual std::string CurrentFolder();

    // Asks the system to enumerate the device tree again.
    virtual bool RescanDevices();

    // The performance counter and its frequency; the local time; a pause.
    virtual long long Counter();
    virtual long long CounterFrequency();
    virtual void LocalTime(SYSTEMTIME* pTime);
    virtual void Sleep(DWORD dwMs);
};

CDiskPlatform& DiskPlatform();
// Installs another implementation (null puts the system's back); returns the previous one.
CDiskPlatform* SetDiskPlatform(CDiskPlatform* pPlatform);
