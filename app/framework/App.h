// The application object: the program's entry point, its instance handle, its main
// window and the application message box. Texts arrive as UTF-8 and are shown through
// the wide functions.
#ifndef QUILLANE_FRAMEWORK_APP_H
#define QUILLANE_FRAMEWORK_APP_H

#include <windows.h>

#include <string>

class CDialog;

// UTF-8 to UTF-16; a null pointer gives an empty string.
std::wstring Widen(const char* utf8);

// One global object of a class derived from CWinApp per program. The framework's WinMain
// (in App.cpp) records the instance handle, initialises the common controls and calls
// InitInstance, which does the program's work (typically a modal dialog).
class CWinApp {
public:
    explicit CWinApp(const char* appName);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returns true to run a message loop until WM_QUIT, false to end the program at once.
    virtual bool InitInstance() = 0;

    // Called by WinMain only; returns the program's exit code.
    int Run(HINSTANCE instance);

    HINSTANCE m_hInstance = nullptr;
    CDialog* m_pMainWnd = nullptr;  // not owned; the caption's owner for AfxMessageBox
    const std::wstring m_appName;   // caption of the application message box
};

CWinApp* AfxGetApp();  // the program's application object, or null

// A message box with the OK button only, owned by the main window while it exists and
// captioned with the application's name. Returns MessageBoxW's result (0 on failure).
int AfxMessageBox(const std::wstring& text);
int AfxMessageBox(const char* utf8);

#endif
