#pragma once
// The host side of the machine the tests run on, under Wine only: Unix paths of the test's files,
// and scripts of the host's shell (Debian's own tools, or a name that differs from another one
// only in letter case, which Wine itself never makes). Elsewhere these fail and say so.

#include "afxstr.h"

#include <string>

namespace testsupport {

// The Unix path of a Windows path; empty when there is none (not under Wine).
CString UnixPathOf(const CString& strPath);

// Runs the script with the host's /bin/sh and waits until it has ended, for at most nSeconds.
// Wine's handle of a host program does not tell when the program ends, so the script leaves its
// exit code in a file of its own. Its exit code, or -1 when it could not be run or did not end in
// time; pOutput, when given, receives the first 4 KiB of what it printed.
int RunUnixShell(const CString& strScript, std::string* pOutput = nullptr, DWORD nSeconds = 300);

} // namespace testsupport
