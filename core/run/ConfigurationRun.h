// The configuration run: what the OK button does. It shows the chosen CAD program's
// instructions, then in up to five attempts opens the port with the attempt's line
// setting, lets a reply waiter thread send the configuration frame and wait for the reply
// frame, counts "Please wait %d" while it polls, and judges the reply. It ends with
// "Status:OK!", with "Status:Error!" (error flag 1), or with the open-failure message.
// It runs on its caller's thread from start to end (at most about 8 s): the window's
// user-interface thread, or a thread of the console program per port. Standard C++ (its
// threads, mutexes and clocks), so that the console program builds for Linux too.
#ifndef QUILLANE_CONFIGURATIONRUN_H
#define QUILLANE_CONFIGURATIONRUN_H

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Frame.h"
#include "PortLink.h"
#include "StopSignal.h"

// What one attempt did, for a view that shows it (the console program; the window shows
// none of it).
struct AttemptReport {
    enum class Verdict { ValidReply, InvalidReply, NoReply };
    int index = 0;  // 0 to kAttempts-1
    LineSetting line = {};
    unsigned char frame[kFrameLength] = {};
    bool sent = false;                         // the frame was written
    unsigned char reply[kFrameBufferSize] = {};  // what came back
    int received = 0;                          // bytes of it that arrived; -1 when unknown
    Verdict verdict = Verdict::NoReply;
};

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
    virtual void AttemptStarted(int /*index*/, const LineSetting& /*line*/) {}  // after the open
    virtual void AttemptEnded(const AttemptReport& /*report*/) {}
};

// The reply event: auto-reset, set by an attempt's reply waiter, waited for by the run's
// polls.
class ReplySignal {
public:
    void Set()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_set = true;
        }
        m_changed.notify_all();
    }
    void Reset()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_set = false;
    }
    // True when it was set within the limit; the wait that sees it resets it.
    bool WaitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool set = m_changed.wait_for(lock, limit, [this] { return m_set; });
        m_set = false;
        return set;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

// Program-wide state of the runs, owned by the main window. Both are written on the
// user-interface thread only.
struct RunState {
    // Created by the window's initialisation, replaced by every run that passes the
    // selection checks, released by the window's destruction. A waiter holds its own
    // reference to the one of its attempt.
    std::shared_ptr<ReplySignal> replyEvent;
    // 1 when the last run ended with "Status:Error!"; read by the status line's colouring.
    unsigned char errorFlag = 0;
    // When set, the run opens and sends nothing more, stops its waiter and ends at its next
    // poll or pause (the console program's Ctrl+C). Null: the run is never stopped. It must
    // outlive every waiter, which may outlive the run.
    const StopSignal* stop = nullptr;
    // Set by a run whose waiter outlived its bound: that waiter may still be inside the
    // port link, which must then never be destroyed.
    bool linkInUse = false;
};

enum class RunEnding {
    NotStarted,  // a selection was missing; the message was shown
    Ok,          // "Status:OK!"
    Error,       // "Status:Error!"
    OpenFailed,  // the open-failure message
    Stopped,     // the stop was set; the port is closed
};

// Texts the run shows.
extern const char kSelectPortMessage[];
extern const char kSelectSoftwareMessage[];
extern const char kOpenFailureMessage[];
extern const char kStatusOk[];
extern const char kStatusError[];

// Timing of the run: without any answer it takes 5 x (11 x 100 ms + 500 ms) = 8 s.
constexpr int kAttempts = 5;
constexpr std::chrono::milliseconds kPoll{100};
constexpr int kPollsPerAttempt = 11;                  // the waiter is stopped at the eleventh poll
constexpr std::chrono::milliseconds kNoReplyPause{500};  // after an attempt without a reply
constexpr std::chrono::milliseconds kWaiterEndBound{1000};

RunEnding RunConfiguration(PortLink& port, RunView& view, RunState& state);

#endif
