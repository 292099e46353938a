#pragma once
// The long-path form of file-system paths.
//
// An ordinary path is normalised by the system before it is used: trailing dots and spaces are
// cut from its last name ("foo." opens "foo"), device names ("aux", "con.txt", "nul.dat",
// "com1.log") open the device, and a path of MAX_PATH characters or more is refused. The
// long-path form ("\\?\C:\dir\name", "\\?\UNC\server\share\dir\name") is taken as it stands,
// so every name a file system allows can be listed, opened, created, stamped, renamed and
// removed through it.

#include "afxstr.h"

// The long-path form of an absolute path: "C:\x" gives "\\?\C:\x" and "\\server\share\x"
// gives "\\?\UNC\server\share\x". Forward slashes become backslashes, doubled backslashes
// after the root are made single, and "." and ".." names are resolved (no file can carry
// them); every other name is kept exactly, trailing dots and spaces included. A path already
// in that form, a device path ("\\.\...") and a path that is not absolute ("dir\x", "C:x", "")
// are returned unchanged. "C:" alone is taken for the root "C:\".
CString ExtendedPath(const CString& strPath);

// The path as the user knows it: the long-path prefix taken away ("\\?\C:\x" gives "C:\x",
// "\\?\UNC\server\share\x" gives "\\server\share\x"); any other path is returned unchanged.
CString DisplayPath(const CString& strPath);
