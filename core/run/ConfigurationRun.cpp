#include "ConfigurationRun.h"

#include <cstdio>
#include <cstring>

#include "Catalogue.h"
#include "Frame.h"

const char kSelectPortMessage[] = "Please select the communication port!";
const char kSelectSoftwareMessage[] = "Please select the software!";
const char kOpenFailureMessage[] = "Failed to open serial port! Please check the serial port is already open";
const char kStatusOk[] = "Status:OK!";
const char kStatusError[] = "Status:Error!";

namespace {

// Attempts 3 and 4 repeat the setting of attempt 0.
constexpr LineSetting kAttemptSettings[kAttempts] = {
    {9600, 'N', 8, 1}, {9600, 'E', 8, 1}, {19200, 'N', 8, 1}, {9600, 'N', 8, 1}, {9600, 'N', 8, 1},
};

// What one attempt's reply waiter works on. Each attempt has its own, so a waiter can
// never write into a later attempt's storage.
//  - port, frame, sendLength, replyLength, event, stop: written by the run before the
//    waiter starts; only read by the waiter.
//  - sent, reply, received, replyResult: written by the waiter; read by the run only after
//    the waiter's thread has ended.
//  - refs: the run and the waiter each hold one; the last to let go frees it.
struct WaiterShare {
    PortLink* port = nullptr;
    unsigned char frame[kFrameBufferSize] = {};
    int sendLength = 0;
    bool sent = false;
    unsigned char reply[kFrameBufferSize] = {};
    int replyLength = 0;
    int received = 0;
    int replyResult = 0;
    HANDLE event = nullptr;  // the waiter's own duplicate of the reply event
    const StopSignal* stop = nullptr;
    LONG refs = 2;
};

void Release(WaiterShare* share)
{
    if (InterlockedDecrement(&share->refs) == 0) {
        if (share->event != nullptr)
            CloseHandle(share->event);
        delete share;
    }
}

// The reply waiter: sends the frame, waits for the reply, stores the result and signals,
// on every path. It is stopped by a Close on the run's thread, which ends a blocked wait
// for the reply; after that it touches neither the port nor any shared state.
DWORD WINAPI ReplyWaiter(LPVOID parameter)
{
    WaiterShare* share = static_cast<WaiterShare*>(parameter);
    const bool stopped = share->stop != nullptr && share->stop->IsSet();  // then no frame goes out
    if (share->sendLength > 0 && share->replyLength > 0 && !stopped &&
        share->port->Send(share->frame, share->sendLength)) {
        share->sent = true;
        std::memset(share->reply, 0, sizeof share->reply);
        share->replyResult =
            share->port->WaitReply(share->reply, kFrameBufferSize, share->replyLength, &share->received) ? 1 : 0;
    }
    SetEvent(share->event);
    Release(share);
    return 0;
}

HANDLE NewReplyEvent()
{
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

enum class AttemptResult { Stopped, OpenFailed, ValidReply, InvalidReply, NoReply };

class Run {
public:
    Run(PortLink& port, RunView& view, RunState& state) : m_link(port), m_view(view), m_state(state) {}
    RunEnding Execute();

private:
    AttemptResult Attempt(int index);
    int AwaitWaiter(HANDLE thread);
    void Pause();
    bool Stopping() const;
    void Finish(const char* status);
    void ReplaceReplyEvent();

    PortLink& m_link;
    RunView& m_view;
    RunState& m_state;
    unsigned short m_port = 0;
    unsigned char m_frame[kFrameBufferSize] = {};
    int m_waitCounter = 0;  // polls made so far in the whole run
    bool m_stopped = false;  // the stop ended the run
};

RunEnding Run::Execute()
{
    m_state.errorFlag = 0;
    const int portRow = m_view.SelectedPortRow();
    if (portRow < 0) {
        m_view.ShowMessage(kSelectPortMessage);
        return RunEnding::NotStarted;
    }
    m_port = m_view.PortNumberAt(portRow);
    const int softwareRow = m_view.SelectedSoftwareRow();
    if (softwareRow < 0) {
        m_view.ShowMessage(kSelectSoftwareMessage);
        return RunEnding::NotStarted;
    }
    // A signal left from an earlier run goes with the old event.
    if (m_state.replyEvent != nullptr)
        ReplaceReplyEvent();

    m_view.EnableOkButton(false);
    m_view.SetInstructionText("");
    const CatalogueEntry entry = LookUpCatalogue(softwareRow);
    if (entry.instructions[0] != '\0')
        m_view.SetInstructionText(entry.instructions);

    m_frame[0] = kFrameStart;
    m_frame[1] = kFrameFixed;
    m_frame[2] = entry.modeCode;
    m_waitCounter = 0;

    for (int index = 0; index < kAttempts; ++index) {
        const AttemptResult result = Attempt(index);
        if (result == AttemptResult::OpenFailed) {
            m_link.Close();
            m_view.ShowMessage(kOpenFailureMessage);
            m_view.EnableOkButton(true);
            return RunEnding::OpenFailed;
        }
        if (result == AttemptResult::ValidReply) {
            Finish(kStatusOk);
            return RunEnding::Ok;
        }
        if (result == AttemptResult::NoReply && !m_stopped)
            Pause();
        if (m_stopped)
            break;
    }
    if (m_stopped) {
        m_link.Close();
        m_view.EnableOkButton(true);
        return RunEnding::Stopped;
    }
    m_state.errorFlag = 1;  // before the text, so the status line is drawn red
    Finish(kStatusError);
    return RunEnding::Error;
}

// The field holds the new event before the old one is closed, never a closed handle.
void Run::ReplaceReplyEvent()
{
    const HANDLE old = m_state.replyEvent;
    m_state.replyEvent = NewReplyEvent();
    CloseHandle(old);
}

void Run::Finish(const char* status)
{
    m_view.SetStatusText(status);
    m_link.Close();
    m_view.EnableOkButton(true);
}

// The pause after an attempt without a reply; a stop ends it early.
void Run::Pause()
{
    if (m_state.stop == nullptr)
        Sleep(kNoReplyPauseMs);
    else
        m_stopped = m_state.stop->WaitFor(std::chrono::milliseconds(kNoReplyPauseMs));
}

bool Run::Stopping() const
{
    return m_state.stop != nullptr && m_state.stop->IsSet();
}

AttemptResult Run::Attempt(int index)
{
    const LineSetting& line = kAttemptSettings[index];
    m_link.Close();
    m_stopped = Stopping();  // once the stop is set, no open and no send begins
    if (m_stopped)
        return AttemptResult::Stopped;
    if (!m_link.Open(m_port, line))
        return AttemptResult::OpenFailed;
    CompleteFrame(m_frame, kFrameLength);
    m_view.SetStatusText("");
    m_view.AttemptStarted(index, line);

    WaiterShare* share = new WaiterShare;
    share->port = &m_link;
    std::memcpy(share->frame, m_frame, sizeof m_frame);
    share->sendLength = kFrameLength;
    share->replyLength = kReplyLength;
    share->stop = m_state.stop;
    // Should the duplicate fail, the waiter cannot signal: the attempt then makes its
    // eleven polls, and a reply the waiter stored is still judged after it has ended.
    DuplicateHandle(GetCurrentProcess(), m_state.replyEvent, GetCurrentProcess(), &share->event, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    ResetEvent(m_state.replyEvent);  // no earlier signal counts for this waiter
    HANDLE thread = CreateThread(nullptr, 0, ReplyWaiter, share, 0, nullptr);
    if (thread == nullptr)
        Release(share);  // the waiter's reference: it never runs

    for (int polls = 1;; ++polls) {
        const DWORD waited = WaitForSingleObject(m_state.replyEvent, kPollMs);
        ++m_waitCounter;
        char text[32];
        std::snprintf(text, sizeof text, "Please wait %d", m_waitCounter);
        m_view.SetStatusText(text);
        m_stopped = Stopping();
        if (polls >= kPollsPerAttempt || m_stopped) {
            // Stop the waiter: a Close ends a wait for the reply blocked on its thread.
            if (thread != nullptr)
                m_link.Close();
            break;
        }
        if (waited == WAIT_OBJECT_0)
            break;
    }

    AttemptReport report;
    report.index = index;
    report.line = line;
    std::memcpy(report.frame, m_frame, kFrameLength);
    if (thread != nullptr && AwaitWaiter(thread) == WAIT_OBJECT_0) {
        report.sent = share->sent;
        std::memcpy(report.reply, share->reply, sizeof report.reply);
        report.received = share->received;
        if (share->replyResult != 0)
            report.verdict = CheckReply(share->reply, kReplyLength) ? AttemptReport::Verdict::ValidReply
                                                                    : AttemptReport::Verdict::InvalidReply;
    }
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): the analyzer does not follow the count through InterlockedDecrement
    Release(share);
    m_view.AttemptEnded(report);
    switch (report.verdict) {
    case AttemptReport::Verdict::ValidReply:
        return AttemptResult::ValidReply;
    case AttemptReport::Verdict::InvalidReply:
        return AttemptResult::InvalidReply;
    default:
        return AttemptResult::NoReply;
    }
}

// The waiter has signalled or has been stopped: it ends within milliseconds. Its results
// are read only once its thread has ended.
int Run::AwaitWaiter(HANDLE thread)
{
    const DWORD ended = WaitForSingleObject(thread, kWaiterEndBoundMs);
    if (ended != WAIT_OBJECT_0) {
        // Never seen: the waiter outlived its bound (it is stuck inside the port). It keeps
        // its own storage and its own handle of the old event, so its late result and
        // signal are never taken for a later attempt's; while it stays in the port, the
        // port refuses later transfers, which count as no reply.
        m_state.linkInUse = true;
        ReplaceReplyEvent();
    }
    CloseHandle(thread);
    return static_cast<int>(ended);
}

}  // namespace

RunEnding RunConfiguration(PortLink& port, RunView& view, RunState& state)
{
    return Run(port, view, state).Execute();
}
