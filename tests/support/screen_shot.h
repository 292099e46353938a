#pragma once
// Shared by the programs that take the README's pictures: a backdrop window in the pictures'
// blue, and saving a piece of the screen as a PNG.

#include "afxwin.h"

namespace testsupport {

// A plain window painted in the pictures' backdrop colour, for a page shown on its own.
class CShotBackdrop : public CWnd {
protected:
    BOOL OnEraseBkgnd(CDC* pDC);
    DECLARE_MESSAGE_MAP()
};

// Saves what the screen shows in the rectangle as a PNG; false when it could not be saved.
// GDI+ must be started.
bool SaveScreenPng(const RECT& rc, const CString& strPath);

} // namespace testsupport
