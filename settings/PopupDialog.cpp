#include "PopupDialog.h"

#include "SettingsHost.h"
#include "SharedFunctions.h"

void SetRoundCorners(CWnd& wnd)
{
    CRect rc;
    wnd.GetWindowRect(&rc);
    HRGN hRgn = ::CreateRoundRectRgn(0, 0, rc.Width() + 1, rc.Height() + 1, 7, 7);
    if (hRgn && !wnd.SetWindowRgn(hRgn, TRUE))
        ::DeleteObject(hRgn);
}

bool CDragBand::InBand(CWnd& wnd, CPoint pt) const
{
    CRect rc;
    wnd.GetClientRect(&rc);
    return pt.y >= 0 && pt.y < m_nHeight && pt.x >= 0 && pt.x < rc.right;
}

void CDragBand::OnButtonDown(CWnd& wnd, CPoint pt)
{
    m_bArmed = InBand(wnd, pt);
}

void CDragBand::OnMouseMove(CWnd& wnd, CPoint pt, UINT nFlags)
{
    // A release outside the window never reaches it: a move without the button ends the drag.
    if (!(nFlags & MK_LBUTTON))
        m_bArmed = false;
    if (!m_bArmed || !InBand(wnd, pt))
        return;
    m_bArmed = false;
    CPoint screen = pt;
    wnd.ClientToScreen(&screen);
    ::ReleaseCapture();
    wnd.SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
}

BEGIN_MESSAGE_MAP(CPopupDialog, CDialog)
    ON_WM_SIZE()
    ON_WM_LBUTTONDOWN()
    ON_WM_MOUSEMOVE()
    ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

CPopupDialog::CPopupDialog(UINT nIDTemplate, int nDragBand, CWnd* pParent)
    : CDialog(nIDTemplate, pParent), m_drag(nDragBand)
{
}

CPopupDialog::~CPopupDialog()
{
    if (m_dcMem.m_hDC && m_hOldMemBitmap)
        ::SelectObject(m_dcMem.m_hDC, m_hOldMemBitmap);
}

void CPopupDialog::OpenPopup(UINT nPicture, UINT nButtonPicture)
{
    if (!m_dcMem.m_hDC) {
        HDC hScreen = ::GetDC(nullptr);
        m_dcMem.Attach(::CreateCompatibleDC(hScreen));
        ::ReleaseDC(nullptr, hScreen);
    }
    if (LoadPngResource(nPicture, m_imgBk))
        PremultiplyAlpha(m_imgBk);
    if (!m_hOldMemBitmap && LoadPngResource(nButtonPicture, m_imgMemBk)) {
        PremultiplyAlpha(m_imgMemBk);
        m_hOldMemBitmap = ::SelectObject(m_dcMem.m_hDC, m_imgMemBk.GetHandle());
    }
    SetRoundCorners(*this);
    if (CWnd* pOwner = GetSettingsOwnerWindow())
        CenterWindow(pOwner);
}

CDC* CPopupDialog::ButtonBackground(CDC* pFallback) { return m_hOldMemBitmap ? &m_dcMem : pFallback; }

void CPopupDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    SetRoundCorners(*this);
}

void CPopupDialog::OnLButtonDown(UINT nFlags, CPoint point)
{
    m_drag.OnButtonDown(*this, point);
    CDialog::OnLButtonDown(nFlags, point);
}

void CPopupDialog::OnMouseMove(UINT nFlags, CPoint point)
{
    m_drag.OnMouseMove(*this, point, nFlags);
    CDialog::OnMouseMove(nFlags, point);
}

void CPopupDialog::OnLButtonUp(UINT nFlags, CPoint point)
{
    m_drag.OnButtonUp();
    CDialog::OnLButtonUp(nFlags, point);
}
