#pragma once
// Last-write times as a backup disk keeps them.
//
// USB disks come formatted FAT32 or exFAT more often than NTFS, and those file systems keep a
// file's last-write time coarser than the 100 ns of a FILETIME: FAT32 to 2 seconds (Windows
// rounds a time up to the next even second), exFAT to 10 ms. A stored copy given its source's
// time therefore reads back a little off it, and "skip unchanged" must still know it for the
// same time. That leeway also lets an edit within it pass, so the time is never the whole
// compare: a plain copy must have its source's size too, and only a compressed copy, whose
// size says nothing of its source's, is judged by the time alone (CBackUpEngine's
// IsStoredCopyCurrent and IsRestoreTargetCurrent). The resolution is told from the stored time
// itself, not from the volume's file system name: Wine reports its folders as NTFS, and a store
// reached through a mounted folder may not say what it is.

#include <windows.h>

// True when a stored copy's last-write time stands for the source's:
//  - a stored time on FAT's grid (a whole even second) matches a source time less than 2 s
//    from it, earlier or later;
//  - a stored time on exFAT's grid (a whole 10 ms) matches a source time less than 10 ms from it;
//  - any other stored time (NTFS keeps the time as it was given) matches only itself.
// A source moved by 2 s or more from its stored copy never matches, on any file system.
bool StoredTimeMatches(const FILETIME& ftStored, const FILETIME& ftSource);
