#include "SetupAssistantDlg.h"

#include <cstdio>
#include <cstring>

#include "AboutDlg.h"
#include "App.h"
#include "Catalogue.h"
#include "resource.h"

namespace {

constexpr UINT_PTR kClockTimer = 1;
constexpr UINT kClockPeriodMs = 1000;
constexpr UINT kShowDeploymentFailure = WM_APP + 1;

constexpr char kStartInstructions[] =
    "Operating Instructions:\r\n"
    "1\xE3\x80\x81Please connect the serial cable,and then power;\r\n"
    "2\xE3\x80\x81Please select the serial port,CAD software,and then click OK;";
constexpr char kNoPortsMessage[] = "Serial port not exists!";

static_assert(IDR_PORT_LIBRARY == CPortLibrary::kResourceId, "the library's resource identifier");

}  // namespace

CSetupAssistantDlg::CSetupAssistantDlg()
    : CDialog(IDD_SETUPASSISTANT_DIALOG),
      m_icon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
}

INT_PTR CSetupAssistantDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kShowDeploymentFailure) {
        AfxMessageBox(m_library.FailureMessage());
        return TRUE;
    }
    return CDialog::OnMessage(message, wParam, lParam);
}

bool CSetupAssistantDlg::OnInitDialog()
{
    m_softwareList.Bind(m_hWnd, IDC_SOFTWARE_LIST);
    m_portList.Bind(m_hWnd, IDC_PORT_LIST);
    FillSoftwareList();

    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu != nullptr) {
        wchar_t about[128] = {};
        if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) > 0) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    if (!m_library.Deploy(GetModuleHandleW(nullptr))) {
        // Nothing may call through an entry that is not bound. The message waits until
        // the window is on the screen.
        EnableWindow(GetDlgItem(IDC_TEST), FALSE);
        EnableWindow(GetDlgItem(IDC_CONFIGURE), FALSE);
        PostMessageW(m_hWnd, kShowDeploymentFailure, 0, 0);
        return true;
    }
    SetDlgItemText(IDC_INSTRUCTIONS, kStartInstructions);
    m_portCount = 0;
    FillPortList();
    m_softwareList.SetCurSel(0);
    SetTimer(m_hWnd, kClockTimer, kClockPeriodMs, nullptr);
    if (!m_runState.replyEvent)
        m_runState.replyEvent = std::make_shared<ReplySignal>();
    return true;
}

// The catalogue's labels in one batch: room for all rows reserved at once, and the list
// does not update itself (scroll range, invalid area) after each row. The window is not
// shown yet, so nothing is drawn either way.
void CSetupAssistantDlg::FillSoftwareList()
{
    size_t bytes = 0;
    for (int row = 0; row < kCatalogueSize; ++row)
        bytes += (std::strlen(CatalogueLabel(row)) + 1) * sizeof(wchar_t);  // UTF-8 is never shorter
    m_softwareList.InitStorage(kCatalogueSize, bytes);
    m_softwareList.SetRedraw(false);
    for (int row = 0; row < kCatalogueSize; ++row)
        m_softwareList.AddString(CatalogueLabel(row));
    m_softwareList.SetRedraw(true);
}

void CSetupAssistantDlg::FillPortList()
{
    m_portCount = static_cast<unsigned short>(m_library.Entries().ListSerialComm(m_ports, kPortCapacity));
    if (m_portCount == 0)
        return;
    m_portList.ResetContent();
    for (unsigned short i = 0; i < m_portCount; ++i) {
        char name[20];
        std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(m_ports[i]));
        m_portList.AddString(name);
    }
    if (m_portList.GetCount() >= 1)
        m_portList.SetCurSel(0);
}

bool CSetupAssistantDlg::OnCommand(int id, int code)
{
    if (code == BN_CLICKED && id == IDC_TEST) {
        if (LibraryReady())
            OnTest();
        return true;
    }
    if (code == BN_CLICKED && id == IDC_CONFIGURE) {
        if (LibraryReady())
            RunConfiguration(m_link, *this, m_runState);
        return true;
    }
    return CDialog::OnCommand(id, code);
}

void CSetupAssistantDlg::OnTest()
{
    const PortEntryPoints& port = m_library.Entries();
    const int row = SelectedPortRow();
    if (row >= 0) {
        if (port.TestPort(m_ports[row])) {
            port.ClosePort();
            MessageBoxW(m_hWnd, L"OK", L"Information", MB_OK);
        } else {
            port.ClosePort();  // a failed open can leave the device held
            AfxMessageBox(kOpenFailureMessage);
        }
        return;
    }
    // No ports listed (or no row selected): look again, test on the next press.
    FillPortList();
    if (m_portCount == 0)
        AfxMessageBox(kNoPortsMessage);
}

bool CSetupAssistantDlg::OnTimer(UINT_PTR id)
{
    if (id == kClockTimer)
        ShowClock();
    return false;  // every timer message goes on to the default processing
}

void CSetupAssistantDlg::ShowClock()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
    SetDlgItemText(IDC_CLOCK, text);
}

HBRUSH CSetupAssistantDlg::OnCtlColor(HDC dc, HWND control, UINT type)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, control, type);
    if (control == GetDlgItem(IDC_STATUS))
        SetTextColor(dc, m_runState.errorFlag == 1 ? RGB(255, 0, 0) : RGB(0, 0, 0));
    return brush;
}

bool CSetupAssistantDlg::OnSysCommand(UINT id, LPARAM)
{
    if ((id & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about(m_hWnd);
    about.DoModal();
    return true;
}

bool CSetupAssistantDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_icon);
    EndPaint(m_hWnd, &paint);
    return true;
}

HICON CSetupAssistantDlg::OnQueryDragIcon()
{
    return m_icon;
}

void CSetupAssistantDlg::OnDestroy()
{
    m_runState.replyEvent.reset();
    m_library.Remove();
    CDialog::OnDestroy();
}

int CSetupAssistantDlg::SelectedPortRow()
{
    const int row = m_portList.GetCurSel();
    return row < m_portCount ? row : -1;  // never a row outside the port array
}

int CSetupAssistantDlg::SelectedSoftwareRow()
{
    return m_softwareList.GetCurSel();
}

unsigned short CSetupAssistantDlg::PortNumberAt(int row)
{
    return m_ports[row];
}

void CSetupAssistantDlg::SetStatusText(const char* text)
{
    SetDlgItemText(IDC_STATUS, text);
    UpdateWindow(GetDlgItem(IDC_STATUS));  // drawn now: the run holds the message loop
}

void CSetupAssistantDlg::SetInstructionText(const char* utf8)
{
    SetDlgItemText(IDC_INSTRUCTIONS, utf8);
    UpdateWindow(GetDlgItem(IDC_INSTRUCTIONS));
}

void CSetupAssistantDlg::EnableOkButton(bool enable)
{
    EnableWindow(GetDlgItem(IDC_CONFIGURE), enable ? TRUE : FALSE);
}

void CSetupAssistantDlg::ShowMessage(const char* text)
{
    AfxMessageBox(text);
}
