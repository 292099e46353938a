#pragma once
// The copy engine's file primitives shared by its files (see EngineFiles.cpp).

#include <windows.h>

#include "afxhandle.h"
#include "afxstr.h"

namespace copyengine {

// Removes a temporary copy whose name is in the long-path form already (as CTempCopies makes
// it), without a call that allocates; a copy moved into place meanwhile is not there any more.
// True when it is gone.
bool DropTempCopy(const CString& strTemp);

// The last-write time and size of a file by a find, which reads the entry also of a file that
// someone holds open exclusively. False for a wildcard or a name that is not there.
bool TimeAndSizeOf(const CString& strPath, FILETIME& ft, ULONGLONG& nSize);

// A file (not a folder) of that name is there.
bool FileExists(const CString& strPath);

// The three ways the engine removes a file, each for its own callers:
//  - DropTempCopy: a temporary, on the way out of an exception; it never allocates.
//  - RemoveIfThere: a file of the temporaries' own (a long-path name); a file or folder that
//    is not there any more counts as removed, a folder of that name is never removed.
//  - RemoveFile: a copy in its final place or a run's temporary by any form of its name; clears
//    the attributes (so that read-only files go too) and deletes; only a missing file counts as
//    removed. On failure the file gets its attributes back and the error stays the deletion's.
bool RemoveFile(const CString& strPath);
bool RemoveIfThere(const CString& strPath);
// A file, or the folder it would be in, is not there.
bool IsGoneError(DWORD err);

// Moves the finished temporary copy over the final name in one step, so that the final name
// always holds either the old or the new complete file. A read-only (or hidden or system)
// old file refuses to be replaced until its attributes are cleared.
bool MoveIntoPlace(const CString& strTempPath, const CString& strFinalPath);

// Gives the finished temporary copy the source's times and attributes and moves it over the
// final name, through one handle where the file system allows it: per small file that is a
// fraction of the calls that setting them by name and moving by name take. Where the handle
// way is refused (an old file that is read-only, hidden or system, or a file system without
// renames by handle), the steps by name do it, with the same result.
// pEntry: the source's entry when the caller has read it already (before the copy, so that a
// source changed during the copy keeps a newer time than its stored copy and goes again).
// hTemp: the temporary copy's handle when the caller holds one with write-attribute and
// delete access, else empty; a handle opened here is kept in it too. It is closed here as soon
// as it has done its part, so the temporary can be removed by name if the move fails.
bool SettleIntoPlace(const CString& strSource, const CString& strTemp, const CString& strFinal,
                     const WIN32_FILE_ATTRIBUTE_DATA* pEntry, CKernelHandle& hTemp);

// True when the file has a data stream besides its main one (NTFS). A file system that cannot
// tell has none; bUnsupported is set then, so the caller need not ask again for that drive.
bool HasFurtherStreams(HANDLE h, bool& bUnsupported);

// The size, times and attributes of an open file. (Not GetFileInformationByHandle: it also
// asks for the volume's serial number, which some systems answer slowly.)
bool EntryOf(HANDLE h, WIN32_FILE_ATTRIBUTE_DATA& d);

// Puts what was written to a copy on the disk: the stream of the handle and, with bStreams,
// every further data stream of the file at strPath (each stream is flushed through a handle
// of its own). False with the error when any of them cannot be flushed.
bool FlushCopy(HANDLE h, const CString& strPath, bool bStreams);

} // namespace copyengine
