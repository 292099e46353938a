#pragma once
// The class layer's common header: strings, collections, windows, dialogs, controls and GDI objects.
#include "afxstr.h"
#include "afxcoll.h"
#include "afxtempl.h"
#include "afxwin.h"
