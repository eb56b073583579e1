// CAboutDlg: the About box of the system menu (template 100).
#ifndef QUILLANE_ABOUTDLG_H
#define QUILLANE_ABOUTDLG_H

#include "Dialog.h"
#include "resource.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUTBOX, parent) {}
};

#endif
