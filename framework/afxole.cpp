#include "afxole.h"

#include <shlobj.h>

namespace {

// A copy of a global memory block (the receiver of a drop frees it); null when it cannot be made.
HGLOBAL CopyGlobal(HGLOBAL hSource)
{
    SIZE_T n = ::GlobalSize(hSource);
    HGLOBAL hCopy = ::GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
    if (!hCopy)
        return nullptr;
    void* pSrc = ::GlobalLock(hSource);
    void* pDst = ::GlobalLock(hCopy);
    if (pSrc && pDst)
        memcpy(pDst, pSrc, n);
    if (pDst)
        ::GlobalUnlock(hCopy);
    if (pSrc)
        ::GlobalUnlock(hSource);
    if (!pSrc || !pDst) {
        ::GlobalFree(hCopy);
        return nullptr;
    }
    return hCopy;
}

// QueryInterface of an embedded COM object that offers one interface besides IUnknown.
template <class I>
HRESULT QueryOne(I* pThis, REFIID iid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid)) {
        *ppv = pThis;
        pThis->AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

} // namespace

// ---------------------------------------------------------------------------------------
// COleDataObject
// ---------------------------------------------------------------------------------------

void COleDataObject::Attach(IDataObject* p, BOOL bAutoRelease)
{
    if (p == m_p)
        return;
    Release();
    m_p = p;
    m_bAutoRelease = p && bAutoRelease;
    if (m_bAutoRelease)
        m_p->AddRef();
}

IDataObject* COleDataObject::Detach()
{
    IDataObject* p = m_p;
    m_p = nullptr;
    m_bAutoRelease = false;
    return p;
}

void COleDataObject::Release()
{
    if (m_p && m_bAutoRelease)
        m_p->Release();
    m_p = nullptr;
    m_bAutoRelease = false;
}

BOOL COleDataObject::IsDataAvailable(CLIPFORMAT cf) const
{
    if (!m_p)
        return FALSE;
    FORMATETC fmt = {cf, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return m_p->QueryGetData(&fmt) == S_OK;
}

HGLOBAL COleDataObject::GetGlobalData(CLIPFORMAT cf) const
{
    if (!m_p)
        return nullptr;
    FORMATETC fmt = {cf, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(m_p->GetData(&fmt, &medium)))
        return nullptr;
    HGLOBAL hCopy = medium.tymed == TYMED_HGLOBAL && medium.hGlobal ? CopyGlobal(medium.hGlobal) : nullptr;
    ::ReleaseStgMedium(&medium);
    return hCopy;
}

// ---------------------------------------------------------------------------------------
// COleDropTarget
// ---------------------------------------------------------------------------------------

COleDropTarget::COleDropTarget() { m_xDropTarget.m_pOwner = this; }

COleDropTarget::~COleDropTarget() { Revoke(); }

BOOL COleDropTarget::Register(CWnd* pWnd)
{
    if (!pWnd || !::IsWindow(pWnd->m_hWnd) || m_hWnd)
        return FALSE;
    if (FAILED(::RegisterDragDrop(pWnd->m_hWnd, &m_xDropTarget)))
        return FALSE;
    m_hWnd = pWnd->m_hWnd;
    return TRUE;
}

void COleDropTarget::Revoke()
{
    if (!m_hWnd)
        return;
    // A window already destroyed took its registration with it.
    if (::IsWindow(m_hWnd))
        ::RevokeDragDrop(m_hWnd);
    m_hWnd = nullptr;
    m_dataObject.Release();
    m_dwLastEffect = DROPEFFECT_NONE;
}

DROPEFFECT COleDropTarget::OnDragEnter(CWnd*, COleDataObject*, DWORD, CPoint) { return DROPEFFECT_NONE; }

DROPEFFECT COleDropTarget::OnDragOver(CWnd*, COleDataObject*, DWORD, CPoint) { return DROPEFFECT_NONE; }

BOOL COleDropTarget::OnDrop(CWnd*, COleDataObject*, DROPEFFECT, CPoint) { return FALSE; }

void COleDropTarget::OnDragLeave(CWnd*) {}

DROPEFFECT COleDropTarget::MaskEffect(DROPEFFECT decided, DROPEFFECT allowed)
{
    if (decided == DROPEFFECT_RUN)
        decided = DROPEFFECT_LINK;
    DROPEFFECT scroll = decided & DROPEFFECT_SCROLL;
    return (decided & allowed & (DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK)) | scroll;
}

CPoint COleDropTarget::ClientPoint(POINTL pt) const
{
    POINT p = {pt.x, pt.y};
    if (m_hWnd)
        ::ScreenToClient(m_hWnd, &p);
    return CPoint(p);
}

STDMETHODIMP COleDropTarget::XDropTarget::QueryInterface(REFIID riid, void** ppv)
{
    return QueryOne<IDropTarget>(this, IID_IDropTarget, riid, ppv);
}

STDMETHODIMP_(ULONG) COleDropTarget::XDropTarget::AddRef() { return (ULONG)::InterlockedIncrement(&m_nRef); }

STDMETHODIMP_(ULONG) COleDropTarget::XDropTarget::Release() { return (ULONG)::InterlockedDecrement(&m_nRef); }

HRESULT COleDropTarget::DragEnterOrOver(bool bEnter, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    if (!pdwEffect)
        return E_INVALIDARG;
    DROPEFFECT allowed = *pdwEffect;
    *pdwEffect = DROPEFFECT_NONE;
    CWnd* pWnd = GetRegisteredWnd();
    if (!pWnd)
        return S_OK;
    CPoint point = ClientPoint(pt);
    m_dwLastEffect = bEnter ? OnDragEnter(pWnd, &m_dataObject, grfKeyState, point)
                            : OnDragOver(pWnd, &m_dataObject, grfKeyState, point);
    *pdwEffect = MaskEffect(m_dwLastEffect, allowed);
    return S_OK;
}

STDMETHODIMP COleDropTarget::XDropTarget::DragEnter(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt,
                                                    DWORD* pdwEffect)
{
    if (pdwEffect)
        m_pOwner->m_dataObject.Attach(pDataObj, TRUE);
    return m_pOwner->DragEnterOrOver(true, grfKeyState, pt, pdwEffect);
}

STDMETHODIMP COleDropTarget::XDropTarget::DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    return m_pOwner->DragEnterOrOver(false, grfKeyState, pt, pdwEffect);
}

STDMETHODIMP COleDropTarget::XDropTarget::DragLeave()
{
    COleDropTarget* t = m_pOwner;
    if (CWnd* pWnd = t->GetRegisteredWnd())
        t->OnDragLeave(pWnd);
    t->m_dataObject.Release();
    t->m_dwLastEffect = DROPEFFECT_NONE;
    return S_OK;
}

STDMETHODIMP COleDropTarget::XDropTarget::Drop(IDataObject* pDataObj, DWORD, POINTL pt, DWORD* pdwEffect)
{
    if (!pdwEffect)
        return E_INVALIDARG;
    COleDropTarget* t = m_pOwner;
    DROPEFFECT allowed = *pdwEffect;
    *pdwEffect = DROPEFFECT_NONE;
    t->m_dataObject.Attach(pDataObj, TRUE);
    CWnd* pWnd = t->GetRegisteredWnd();
    // The effect the target itself decided last, not the one the drag loop masked.
    DROPEFFECT decided = t->m_dwLastEffect;
    if (pWnd) {
        if (MaskEffect(decided, allowed) == DROPEFFECT_NONE)
            t->OnDragLeave(pWnd);
        else if (t->OnDrop(pWnd, &t->m_dataObject, decided, t->ClientPoint(pt)))
            *pdwEffect = MaskEffect(decided, allowed);
    }
    t->m_dataObject.Release();
    t->m_dwLastEffect = DROPEFFECT_NONE;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// COleDropSource
// ---------------------------------------------------------------------------------------

COleDropSource::COleDropSource() { m_xDropSource.m_pOwner = this; }

SCODE COleDropSource::QueryContinueDrag(BOOL bEscapePressed, DWORD dwKeyState)
{
    DWORD other = (m_dwButtonDrop == MK_LBUTTON) ? MK_RBUTTON : MK_LBUTTON;
    if (bEscapePressed || (dwKeyState & other))
        return DRAGDROP_S_CANCEL;
    if (!(dwKeyState & m_dwButtonDrop))
        return DRAGDROP_S_DROP;
    return S_OK;
}

SCODE COleDropSource::GiveFeedback(DROPEFFECT) { return DRAGDROP_S_USEDEFAULTCURSORS; }

STDMETHODIMP COleDropSource::XDropSource::QueryInterface(REFIID riid, void** ppv)
{
    return QueryOne<IDropSource>(this, IID_IDropSource, riid, ppv);
}

STDMETHODIMP_(ULONG) COleDropSource::XDropSource::AddRef() { return (ULONG)::InterlockedIncrement(&m_nRef); }

STDMETHODIMP_(ULONG) COleDropSource::XDropSource::Release() { return (ULONG)::InterlockedDecrement(&m_nRef); }

STDMETHODIMP COleDropSource::XDropSource::QueryContinueDrag(BOOL fEscapePressed, DWORD grfKeyState)
{
    return m_pOwner->QueryContinueDrag(fEscapePressed, grfKeyState);
}

STDMETHODIMP COleDropSource::XDropSource::GiveFeedback(DWORD dwEffect) { return m_pOwner->GiveFeedback(dwEffect); }

// ---------------------------------------------------------------------------------------
// COleDataSource
// ---------------------------------------------------------------------------------------

COleDataSource::COleDataSource() { m_xDataObject.m_pOwner = this; }

COleDataSource::~COleDataSource() { Empty(); }

void COleDataSource::CacheGlobalData(CLIPFORMAT cf, HGLOBAL hGlobal)
{
    for (Entry& e : m_entries) {
        if (e.fmt.cfFormat == cf) {
            if (e.hGlobal && e.hGlobal != hGlobal)
                ::GlobalFree(e.hGlobal);
            e.hGlobal = hGlobal;
            return;
        }
    }
    Entry e;
    e.fmt = {cf, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    e.hGlobal = hGlobal;
    m_entries.push_back(e);
}

void COleDataSource::Empty()
{
    for (Entry& e : m_entries)
        if (e.hGlobal)
            ::GlobalFree(e.hGlobal);
    m_entries.clear();
}

const COleDataSource::Entry* COleDataSource::Find(const FORMATETC* pFmt) const
{
    if (!pFmt)
        return nullptr;
    for (const Entry& e : m_entries)
        if (e.fmt.cfFormat == pFmt->cfFormat && (pFmt->tymed & TYMED_HGLOBAL) &&
            (pFmt->dwAspect == DVASPECT_CONTENT))
            return &e;
    return nullptr;
}

DROPEFFECT COleDataSource::DoDragDrop(DROPEFFECT dwEffects, LPCRECT lpRectStartDrag, COleDropSource* pDropSource)
{
    COleDropSource defaultSource;
    COleDropSource* pSource = pDropSource ? pDropSource : &defaultSource;
    pSource->m_dwButtonDrop = (::GetKeyState(VK_RBUTTON) < 0 && ::GetKeyState(VK_LBUTTON) >= 0) ? MK_RBUTTON
                                                                                                 : MK_LBUTTON;

    // With a start rectangle (screen coordinates) the drag begins only once the cursor has
    // left it while the button is still held.
    if (lpRectStartDrag) {
        int vk = pSource->m_dwButtonDrop == MK_RBUTTON ? VK_RBUTTON : VK_LBUTTON;
        for (;;) {
            POINT pt;
            ::GetCursorPos(&pt);
            if (!::PtInRect(lpRectStartDrag, pt))
                break;
            if (::GetAsyncKeyState(vk) >= 0)
                return DROPEFFECT_NONE;
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            ::Sleep(10);
        }
    }

    DWORD dwResult = DROPEFFECT_NONE;
    HRESULT hr = ::DoDragDrop(&m_xDataObject, pSource->GetInterface(), dwEffects, &dwResult);
    if (hr != DRAGDROP_S_DROP)
        return DROPEFFECT_NONE;
    return dwResult & dwEffects;
}

STDMETHODIMP COleDataSource::XDataObject::QueryInterface(REFIID riid, void** ppv)
{
    return QueryOne<IDataObject>(this, IID_IDataObject, riid, ppv);
}

STDMETHODIMP_(ULONG) COleDataSource::XDataObject::AddRef() { return (ULONG)::InterlockedIncrement(&m_nRef); }

STDMETHODIMP_(ULONG) COleDataSource::XDataObject::Release() { return (ULONG)::InterlockedDecrement(&m_nRef); }

STDMETHODIMP COleDataSource::XDataObject::GetData(FORMATETC* pFmt, STGMEDIUM* pMedium)
{
    if (!pFmt || !pMedium)
        return E_INVALIDARG;
    const Entry* e = m_pOwner->Find(pFmt);
    if (!e || !e->hGlobal)
        return DV_E_FORMATETC;
    // The receiver gets its own copy and frees it.
    HGLOBAL h = CopyGlobal(e->hGlobal);
    if (!h)
        return E_OUTOFMEMORY;
    pMedium->tymed = TYMED_HGLOBAL;
    pMedium->hGlobal = h;
    pMedium->pUnkForRelease = nullptr;
    return S_OK;
}

STDMETHODIMP COleDataSource::XDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP COleDataSource::XDataObject::QueryGetData(FORMATETC* pFmt)
{
    return m_pOwner->Find(pFmt) ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP COleDataSource::XDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut)
{
    if (pOut)
        pOut->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleDataSource::XDataObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP COleDataSource::XDataObject::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppEnum)
{
    if (!ppEnum)
        return E_INVALIDARG;
    *ppEnum = nullptr;
    if (dwDirection != DATADIR_GET)
        return E_NOTIMPL;
    std::vector<FORMATETC> fmts;
    for (const Entry& e : m_pOwner->m_entries)
        fmts.push_back(e.fmt);
    return ::SHCreateStdEnumFmtEtc((UINT)fmts.size(), fmts.empty() ? nullptr : fmts.data(), ppEnum);
}

STDMETHODIMP COleDataSource::XDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*)
{
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP COleDataSource::XDataObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

STDMETHODIMP COleDataSource::XDataObject::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }
