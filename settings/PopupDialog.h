#pragma once
// The borderless modal pop-ups (time editor, hot key, password, confirmation) share their frame:
// 7 by 7 rounded corners, a band at the top by which the window is dragged, and a picture kept
// in a memory DC from which their skinned buttons copy their background.

#include "afxwin.h"
#include "atlimage.h"

// Rounded 7 by 7 corners for a borderless pop-up of its current size.
void SetRoundCorners(CWnd& wnd);

// Dragging a borderless pop-up by a band at its top: armed by a press inside the band, a move
// inside the band while armed hands the drag to the system; releasing the button disarms.
class CDragBand {
public:
    explicit CDragBand(int nHeight) : m_nHeight(nHeight) {}
    void OnButtonDown(CWnd& wnd, CPoint pt);
    void OnMouseMove(CWnd& wnd, CPoint pt, UINT nFlags);
    void OnButtonUp() { m_bArmed = false; }
    bool IsArmed() const { return m_bArmed; }
    bool InBand(CWnd& wnd, CPoint pt) const;

private:
    int m_nHeight;
    bool m_bArmed = false;
};

class CPopupDialog : public CDialog {
public:
    // nDragBand: the height of the band at the top by which the pop-up is dragged.
    CPopupDialog(UINT nIDTemplate, int nDragBand, CWnd* pParent = nullptr);
    ~CPopupDialog() override;

    // The left button went down in the drag band and the drag has not begun yet.
    bool IsDragging() const { return m_drag.IsArmed(); }

protected:
    // For OnInitDialog: loads the picture the pop-up draws (m_imgBk) and a second copy of
    // nButtonPicture into the buttons' memory DC (both premultiplied), rounds the corners and
    // centres the pop-up on the settings owner window.
    void OpenPopup(UINT nPicture, UINT nButtonPicture);
    // The DC the skinned buttons copy their background from: the memory DC with its picture,
    // or pFallback when that picture could not be loaded.
    CDC* ButtonBackground(CDC* pFallback);

    void OnSize(UINT nType, int cx, int cy);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    DECLARE_MESSAGE_MAP()

protected:
    CImage m_imgBk;   // the picture the pop-up draws

private:
    CDragBand m_drag;
    CDC m_dcMem;
    CImage m_imgMemBk;   // selected into m_dcMem
    HGDIOBJ m_hOldMemBitmap = nullptr;
};
