#include "XmlDocument.h"

// Skeleton: the members are filled in by the following commits.

struct CXmlPosRecord { int nStart; };
class CXmlPosTree {};

CXmlDocument::CXmlDocument() {}
CXmlDocument::CXmlDocument(const wchar_t* pszText) { SetDocText(pszText); }
CXmlDocument::~CXmlDocument() { delete m_pPosTree; }
bool CXmlDocument::SetDocText(const wchar_t* pszText) { m_strDocText = pszText; return ParseDocument(); }
bool CXmlDocument::LoadFile(const wchar_t*) { return false; }
bool CXmlDocument::SaveFile(const wchar_t* pszPath) { return WriteTextFile(pszPath, m_strDocText, m_strResultLog, m_nFlags); }
bool CXmlDocument::ParseDocument() { return false; }
bool CXmlDocument::IsWellFormed() const { return false; }
bool CXmlDocument::ReadTextFile(const wchar_t*, CString&, CString&, int&) { return false; }
bool CXmlDocument::WriteTextFile(const wchar_t*, const CString&, CString&, int&) { return false; }
void CXmlDocument::ResetPosition() { m_posParent = m_posCurrent = m_posChild = 0; m_nNodeKind = 0; }
bool CXmlDocument::FindElement(const wchar_t*) { return false; }
bool CXmlDocument::FindChildElement(const wchar_t*) { return false; }
bool CXmlDocument::EnterElement() { return false; }
bool CXmlDocument::LeaveElement() { return false; }
CString CXmlDocument::GetTagNameAt(int) const { return CString(); }
CString CXmlDocument::GetAttributeAt(int, const wchar_t*) const { return CString(); }
CString CXmlDocument::GetDataAt(int) const { return CString(); }
bool CXmlDocument::AddElement(const wchar_t*, const wchar_t*, int) { return false; }
int CXmlDocument::RemoveElementAt(int) { return 0; }
bool CXmlDocument::RemoveChildElement() { return false; }
bool CXmlDocument::SetAttributeAt(int, const wchar_t*, const wchar_t*, int) { return false; }
bool CXmlDocument::SetAttributeInt(const wchar_t*, int) { return false; }
bool CXmlDocument::SetDataAt(int, const wchar_t*) { return false; }
CString CXmlDocument::EscapeText(const wchar_t* p, int) { return CString(p); }
CString CXmlDocument::UnescapeText(const wchar_t* p, int) { return CString(p); }
