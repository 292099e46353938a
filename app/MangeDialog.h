#pragma once
// CMangeDialog: the file-management page of the page panel. Two management trees side by
// side, each showing the computer with its drives and its shell nodes without a file-system
// path, so that files can be copied, moved, linked, renamed and opened between them.
//
// The page owns the node records (_NODE_EXPAND) that both trees list, and frees each once:
// when a refresh finds its node gone, or when the page goes.

#include "ManageTreeCtrl.h"
#include "afxwin.h"
#include "atlimage.h"
#include "res_manage.h"

#include <vector>

class CMangeDialog : public CDialog {
public:
    enum { IDD = IDD_MANAGE_DIALOG };

    CMangeDialog();
    ~CMangeDialog() override;

    // Creates the page as a hidden child of the panel, placed in rcPage (panel coordinates).
    BOOL CreatePage(CWnd* pPanel, const CRect& rcPage);
    CWnd* PageWnd() { return this; }
    // After devices came or went: brings the shell nodes of both trees up to date with the
    // computer folder (the main window calls this about a second after the last change).
    void RefreshDriveTree();
    // The main window is closing: the drop targets are withdrawn and the nodes released.
    void OnMainWindowClosing();

    CManageTreeCtrl m_tree1;  // control 1008
    CManageTreeCtrl m_tree2;  // control 1009
    const std::vector<_NODE_EXPAND*>& Nodes() const { return m_nodes; }

    // Where the trees go in a page of the size: (10, 15) and ((W + 10) / 2 + 15, 15).
    static CRect TreeRect(int nTree, int cx, int cy);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void FillTrees();
    void LayoutTrees();
    void ReleaseNodes();

    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnSize(UINT nType, int cx, int cy);
    void OnDestroy();
    DECLARE_MESSAGE_MAP()

    CImage m_imgPanel;
    std::vector<_NODE_EXPAND*> m_nodes;  // owned
};
