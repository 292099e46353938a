#pragma once
// CStringArray: an array of CString.

#include "afxstr.h"
#include "afxtempl.h"

class CStringArray : public CArray<CString, const CString&> {
public:
    INT_PTR Add(const wchar_t* psz) { return CArray::Add(CString(psz)); }
    INT_PTR Add(const CString& s) { return CArray::Add(s); }
};
