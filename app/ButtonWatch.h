#pragma once
// The enclosure button watch: one polling thread per opened bridge raises g_bBackupButtonPressed
// once per new press; the backup page's timer consumes it.
#include <windows.h>

#include "ZedoUSBLib.h"

// One watcher thread of the set.
struct CButtonWatchThread {
    HANDLE m_hThread;   // owned by the slot; closed when the watch stops
    unsigned m_nThreadID;
};

// The bridges being watched; filled and emptied by the device library.
extern USBDevList_ g_usbDevList;
// Slot i holds the thread that watches entry i; null when empty.
extern CButtonWatchThread* g_pButtonWatchThread[ZEDOUSB_MAX_DEVICES];
// Non-zero while a press is waiting to be consumed. Each enclosure's watcher owns bit (1 << index),
// so a release on one enclosure never withdraws a press made on another. Take it with
// ConsumeBackupButtonPress(), which reads and clears it in one step.
extern volatile LONG g_bBackupButtonPressed;
// Non-zero tells every watcher to end; callers set it back to 0 right before StartButtonWatch.
extern volatile LONG g_bStopButtonWatch;
// Serialises the open step (manual reset, created signalled by the backup page); may be null.
extern HANDLE g_hOpenDevEvent;
// Mirrors the "USBHotKey" setting.
extern int g_bUSBHotKey;

// Opens the bridges into g_usbDevList and starts one watcher per entry; returns 1.
int StartButtonWatch();
// The watcher's procedure; exit code 0 when its device can no longer be read, 1 when told to stop.
unsigned __stdcall ButtonWatchThreadProc(void* pParam);
// Stops every watcher (bounded wait, no termination), then closes the devices; returns 1.
int StopButtonWatchAndClose();
// Stops every watcher and empties the slots; returns 1. Close the devices only after this.
int StopButtonWatchThreads();
// True when a press was waiting; the word is cleared in the same step.
bool ConsumeBackupButtonPress();
