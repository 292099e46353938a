#pragma once
// The picture of the parent under a see-through control, kept in a memory DC so that the
// control can lay it down again under its own drawing on every paint.

#include "afxwin.h"

// Lets go of the kept picture; the memory DC gets its own bitmap back before it goes.
void FreeParentBackground(CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk);

// Keeps cx by cy pixels of pFrom, from its point (xFrom, yFrom), in a new memory DC.
void KeepBackground(CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk, CDC* pFrom, int xFrom, int yFrom, int cx,
                    int cy);

// The top-left corner of the control in its parent's client coordinates.
CPoint OriginInParent(const CWnd& wnd);

// Keeps cx by cy pixels of what the parent shows under the control, read from the parent's
// own device context.
void KeepParentBackground(const CWnd& wnd, CDC& dcBk, CBitmap& bmpBk, HGDIOBJ& hOldBk, int cx, int cy);
