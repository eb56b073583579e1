// The configuration run: what the OK button does. It shows the chosen CAD program's
// instructions, then in up to five attempts opens the port with the attempt's line
// setting, lets a reply waiter thread send the configuration frame and wait for the reply
// frame, counts "Please wait %d" while it polls, and judges the reply. It ends with
// "Status:OK!", with "Status:Error!" (error flag 1), or with the open-failure message.
// It runs on the user-interface thread from start to end (at most about 8 s).
#ifndef QUILLANE_CONFIGURATIONRUN_H
#define QUILLANE_CONFIGURATIONRUN_H

#include <windows.h>

#include "PortEntryPoints.h"

// What the run reads from and shows in the window.
class RunView {
public:
    virtual ~RunView() = default;
    virtual int SelectedPortRow() = 0;      // negative when no row is selected
    virtual int SelectedSoftwareRow() = 0;  // negative when no row is selected
    virtual unsigned short PortNumberAt(int row) = 0;
    virtual void SetStatusText(const char* text) = 0;       // the status line
    virtual void SetInstructionText(const char* utf8) = 0;  // the instruction box
    virtual void EnableOkButton(bool enable) = 0;
    virtual void ShowMessage(const char* text) = 0;  // modal; returns when it is closed
};

// Program-wide state of the runs, owned by the main window. Both are written on the
// user-interface thread only.
struct RunState {
    // Auto-reset, unnamed; created by the window's initialisation, replaced by every run
    // that passes the selection checks, closed by the window's destruction.
    HANDLE replyEvent = nullptr;
    // 1 when the last run ended with "Status:Error!"; read by the status line's colouring.
    unsigned char errorFlag = 0;
};

// Texts the run shows.
extern const char kSelectPortMessage[];
extern const char kSelectSoftwareMessage[];
extern const char kOpenFailureMessage[];
extern const char kStatusOk[];
extern const char kStatusError[];

// Timing of the run: without any answer it takes 5 x (11 x 100 ms + 500 ms) = 8 s.
constexpr int kAttempts = 5;
constexpr DWORD kPollMs = 100;
constexpr int kPollsPerAttempt = 11;    // the waiter is stopped at the eleventh poll
constexpr DWORD kNoReplyPauseMs = 500;  // after an attempt without a reply
constexpr DWORD kWaiterEndBoundMs = 1000;

void RunConfiguration(const PortEntryPoints& entries, RunView& view, RunState& state);

#endif
