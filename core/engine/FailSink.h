#pragma once
// Where the copy engine reports files it could not copy: one line per file, the path,
// ";" and the system's text for the error. The progress dialog's list box implements it;
// anything else that wants the lines (a test, a log) can too.

#include "afxstr.h"

class CFailSink {
public:
    virtual ~CFailSink() = default;
    // Appends the line at the end of the list and makes it the selected (visible) line.
    virtual void InsertStringAndSelect(const CString& strLine) = 0;
};
