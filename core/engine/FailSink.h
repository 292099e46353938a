#pragma once
// Where the copy engine reports files it could not copy: one line per file, the path, ";"
// and the text of what went wrong. Lines come from the worker and its copy lanes: in the
// program the sink is the progress dialog's queue (CFailLineQueue), which the dialog's timer
// empties into its list box, so the worker never waits for the user-interface thread. Tests
// collect the lines with a sink of their own.

#include "afxstr.h"

class CFailSink {
public:
    virtual ~CFailSink() = default;
    // Appends the line at the end of the list and makes it the selected (visible) line.
    virtual void InsertStringAndSelect(const CString& strLine) = 0;
};
