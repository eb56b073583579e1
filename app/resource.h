// Resource and control identifiers, shared by the program and its resource script.
#ifndef QUILLANE_RESOURCE_H
#define QUILLANE_RESOURCE_H

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SETUPASSISTANT_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_PORT_LIBRARY 132  // resource type "DLL"

#define IDC_PORT_LIST 1000
#define IDC_TEST 1001
#define IDC_SOFTWARE_LIST 1002
#define IDC_CONFIGURE 1003  // the "OK" button; not the dialog's default OK command
#define IDC_INSTRUCTIONS 1004
#define IDC_STATUS 1005
#define IDC_CLOCK 1006

#define IDM_ABOUTBOX 0x0010  // system menu entry

#endif
