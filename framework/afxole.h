#pragma once
// OLE drag and drop of the class layer: a drop target bound to one window, a data source
// that starts a modal drag, the drop source that steers the drag loop, and a wrapper of
// the data object a drop target is handed.
//
// Each class owns one COM object embedded in it. The COM object counts its references but
// never deletes its owner: the C++ object's lifetime is the owner's business, and the
// destructor revokes or releases what the platform still holds.

#include "afxwin.h"
#include "afxwait.h"

#include <ole2.h>

#include <vector>

typedef DWORD DROPEFFECT;

// The effect a drop target reports when a drop would start the program under the cursor
// with the dragged file. Not a platform effect: the drag loop only ever sees "link" for it,
// while the target's own OnDrop is handed this value.
constexpr DROPEFFECT DROPEFFECT_RUN = 0x1234;

// ---------------------------------------------------------------------------------------
// Data object handed to a drop target
// ---------------------------------------------------------------------------------------

class COleDataObject {
public:
    COleDataObject() = default;
    ~COleDataObject() { Release(); }
    COleDataObject(const COleDataObject&) = delete;
    COleDataObject& operator=(const COleDataObject&) = delete;

    // Takes the object; with bAutoRelease the wrapper releases it (it adds a reference).
    void Attach(IDataObject* p, BOOL bAutoRelease = TRUE);
    IDataObject* Detach();
    void Release();
    IDataObject* GetIDataObject() const { return m_p; }
    BOOL IsDataAvailable(CLIPFORMAT cf) const;
    // A copy of the format's global memory (caller frees it with GlobalFree), or null.
    HGLOBAL GetGlobalData(CLIPFORMAT cf) const;

private:
    IDataObject* m_p = nullptr;
    bool m_bAutoRelease = false;
};

// ---------------------------------------------------------------------------------------
// Drop target
// ---------------------------------------------------------------------------------------

class COleDropTarget : public CCmdTarget {
public:
    COleDropTarget();
    ~COleDropTarget() override;

    // Makes this object the drop target of the window (OLE must be initialised on the
    // thread). FALSE when the window is not a window or already has a target.
    BOOL Register(CWnd* pWnd);
    // Withdraws the target from its window; harmless when not registered.
    void Revoke();
    CWnd* GetRegisteredWnd() const { return m_hWnd ? CWnd::FromHandle(m_hWnd) : nullptr; }

    // Overrides. Points are client coordinates of the registered window; key states are the
    // MK_* bits. The effect the target decides (DROPEFFECT_RUN included) is what OnDrop is
    // handed: the drag loop masks the effects it is shown down to the ones the source allows.
    virtual DROPEFFECT OnDragEnter(CWnd* pWnd, COleDataObject* pDataObject, DWORD dwKeyState, CPoint point);
    virtual DROPEFFECT OnDragOver(CWnd* pWnd, COleDataObject* pDataObject, DWORD dwKeyState, CPoint point);
    virtual BOOL OnDrop(CWnd* pWnd, COleDataObject* pDataObject, DROPEFFECT dropEffect, CPoint point);
    virtual void OnDragLeave(CWnd* pWnd);

    // The effect the last enter or over decided (before masking); none outside a drag.
    DROPEFFECT GetLastEffect() const { return m_dwLastEffect; }

    // What the drag loop is shown for a decided effect: DROPEFFECT_RUN as link, and
    // nothing outside the effects the source allows.
    static DROPEFFECT MaskEffect(DROPEFFECT decided, DROPEFFECT allowed);

private:
    struct XDropTarget : IDropTarget {
        COleDropTarget* m_pOwner = nullptr;
        LONG m_nRef = 0;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP DragEnter(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
        STDMETHODIMP DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
        STDMETHODIMP DragLeave() override;
        STDMETHODIMP Drop(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    };
    XDropTarget m_xDropTarget;
    HWND m_hWnd = nullptr;
    COleDataObject m_dataObject;  // the object of the drag in progress
    DROPEFFECT m_dwLastEffect = DROPEFFECT_NONE;

    CPoint ClientPoint(POINTL pt) const;
    // Drag enter (bEnter) or over: asks the target for its effect and shows the drag loop
    // that effect masked to the allowed ones.
    HRESULT DragEnterOrOver(bool bEnter, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect);
};

// ---------------------------------------------------------------------------------------
// Drop source
// ---------------------------------------------------------------------------------------

class COleDropSource : public CCmdTarget {
public:
    COleDropSource();
    ~COleDropSource() override = default;

    // S_OK to go on, DRAGDROP_S_DROP to drop, DRAGDROP_S_CANCEL to end without a drop.
    // Default: Esc or the other mouse button cancels; the drop happens when the mouse
    // button that started the drag is no longer held.
    virtual SCODE QueryContinueDrag(BOOL bEscapePressed, DWORD dwKeyState);
    // Default: the platform's own cursors.
    virtual SCODE GiveFeedback(DROPEFFECT dropEffect);

    IDropSource* GetInterface() { return &m_xDropSource; }

    // The mouse button that started the drag (MK_LBUTTON or MK_RBUTTON); set by DoDragDrop
    // from the buttons held when the drag starts.
    DWORD m_dwButtonDrop = MK_LBUTTON;

private:
    struct XDropSource : IDropSource {
        COleDropSource* m_pOwner = nullptr;
        LONG m_nRef = 0;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP QueryContinueDrag(BOOL fEscapePressed, DWORD grfKeyState) override;
        STDMETHODIMP GiveFeedback(DWORD dwEffect) override;
    };
    XDropSource m_xDropSource;
};

// ---------------------------------------------------------------------------------------
// Data source
// ---------------------------------------------------------------------------------------

class COleDataSource : public CCmdTarget {
public:
    COleDataSource();
    ~COleDataSource() override;

    // Offers a copy-free global memory block in a clipboard format; the source owns and
    // frees it. A second block of the same format replaces the first.
    void CacheGlobalData(CLIPFORMAT cf, HGLOBAL hGlobal);
    void Empty();

    // Runs the modal drag loop with this object as the data. Returns the effect the drop
    // target reported (masked to the allowed effects), or DROPEFFECT_NONE when the drag was
    // cancelled or dropped on nothing.
    DROPEFFECT DoDragDrop(DROPEFFECT dwEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK,
                          LPCRECT lpRectStartDrag = nullptr, COleDropSource* pDropSource = nullptr);

    IDataObject* GetInterface() { return &m_xDataObject; }

private:
    struct Entry {
        FORMATETC fmt;
        HGLOBAL hGlobal;
    };
    struct XDataObject : IDataObject {
        COleDataSource* m_pOwner = nullptr;
        LONG m_nRef = 0;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP GetData(FORMATETC* pFmt, STGMEDIUM* pMedium) override;
        STDMETHODIMP GetDataHere(FORMATETC* pFmt, STGMEDIUM* pMedium) override;
        STDMETHODIMP QueryGetData(FORMATETC* pFmt) override;
        STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* pIn, FORMATETC* pOut) override;
        STDMETHODIMP SetData(FORMATETC* pFmt, STGMEDIUM* pMedium, BOOL fRelease) override;
        STDMETHODIMP EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppEnum) override;
        STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override;
        STDMETHODIMP DUnadvise(DWORD) override;
        STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override;
    };
    XDataObject m_xDataObject;
    std::vector<Entry> m_entries;

    const Entry* Find(const FORMATETC* pFmt) const;
};
