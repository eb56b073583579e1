// CSetupAssistantApp: runs the main dialog modally; the program ends when it closes.
#include "App.h"
#include "SetupAssistantDlg.h"

class CSetupAssistantApp : public CWinApp {
public:
    CSetupAssistantApp() : CWinApp("quillane VR7") {}

    bool InitInstance() override
    {
        CSetupAssistantDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        return false;  // no message loop of our own
    }
};

CSetupAssistantApp theApp;
