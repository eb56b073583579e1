// The application object and the program's entry point.
#include "App.h"

#include <commctrl.h>

#include "Dialog.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

std::wstring Widen(const char* utf8)
{
    if (utf8 == nullptr || *utf8 == '\0')
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

CWinApp::CWinApp(const char* appName) : m_appName(Widen(appName))
{
    // A second application object is a programming error; the first one stays in charge.
    if (g_app == nullptr)
        g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run(HINSTANCE instance)
{
    m_hInstance = instance;
    // The program carries a common-controls v6 manifest; this registers their classes.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!InitInstance())
        return 0;
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

CWinApp* AfxGetApp()
{
    return g_app;
}

int AfxMessageBox(const std::wstring& text)
{
    HWND owner = nullptr;
    std::wstring caption;
    if (g_app != nullptr) {
        caption = g_app->m_appName;
        if (g_app->m_pMainWnd != nullptr && IsWindow(g_app->m_pMainWnd->m_hWnd))
            owner = g_app->m_pMainWnd->m_hWnd;
    }
    return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

int AfxMessageBox(const char* utf8)
{
    return AfxMessageBox(Widen(utf8));
}

// The entry point of every program built on the framework. It lives in this file so
// that a program's application object (which needs CWinApp's constructor) brings it in
// from the static library. Nothing thrown may leave it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (g_app == nullptr)
        return 1;
    try {
        return g_app->Run(instance);
    } catch (...) {
        return 1;
    }
}
