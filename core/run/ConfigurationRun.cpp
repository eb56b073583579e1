#include "ConfigurationRun.h"

#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

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
// never write into a later attempt's storage; the run and the waiter each hold it, and
// the last to let go frees it.
//  - port, frame, sendLength, replyLength, event, stop: written by the run before the
//    waiter starts; only read by the waiter.
//  - sent, reply, received, replyResult: written by the waiter; read by the run only once
//    the waiter has ended (ended, under mutex).
struct WaiterShare {
    PortLink* port = nullptr;
    unsigned char frame[kFrameBufferSize] = {};
    int sendLength = 0;
    bool sent = false;
    unsigned char reply[kFrameBufferSize] = {};
    int replyLength = 0;
    int received = 0;
    int replyResult = 0;
    std::shared_ptr<ReplySignal> event;  // its attempt's reply event
    const StopSignal* stop = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;  // the waiter has done its last step
};

// The reply waiter: sends the frame, waits for the reply, stores the result and signals,
// on every path. It is stopped by a Close on the run's thread, which ends a blocked wait
// for the reply; after that it touches neither the port nor any shared state.
void ReplyWaiter(const std::shared_ptr<WaiterShare>& share)
{
    const bool stopped = share->stop != nullptr && share->stop->IsSet();  // then no frame goes out
    if (share->sendLength > 0 && share->replyLength > 0 && !stopped &&
        share->port->Send(share->frame, share->sendLength)) {
        share->sent = true;
        std::memset(share->reply, 0, sizeof share->reply);
        share->replyResult =
            share->port->WaitReply(share->reply, kFrameBufferSize, share->replyLength, &share->received) ? 1 : 0;
    }
    if (share->event)
        share->event->Set();
    {
        const std::lock_guard<std::mutex> lock(share->mutex);
        share->ended = true;
    }
    share->changed.notify_all();
}

enum class AttemptResult { Stopped, OpenFailed, ValidReply, InvalidReply, NoReply };

class Run {
public:
    Run(PortLink& port, RunView& view, RunState& state) : m_link(port), m_view(view), m_state(state) {}
    RunEnding Execute();

private:
    AttemptResult Attempt(int index);
    bool AwaitWaiter(std::thread& thread, WaiterShare& share);
    bool PollReply();
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
    if (m_state.replyEvent)
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

// One poll of the reply event; without one (the window could not make it), the poll waits
// all the same and sees no signal.
bool Run::PollReply()
{
    if (m_state.replyEvent)
        return m_state.replyEvent->WaitFor(kPoll);
    std::this_thread::sleep_for(kPoll);
    return false;
}

void Run::ReplaceReplyEvent()
{
    m_state.replyEvent = std::make_shared<ReplySignal>();
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
        std::this_thread::sleep_for(kNoReplyPause);
    else
        m_stopped = m_state.stop->WaitFor(kNoReplyPause);
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
    if (!m_link.Open(m_port, line)) {
        m_stopped = Stopping();  // an open that gave up for the stop ends the run as the stop does
        return m_stopped ? AttemptResult::Stopped : AttemptResult::OpenFailed;
    }
    CompleteFrame(m_frame, kFrameLength);
    m_view.SetStatusText("");
    m_view.AttemptStarted(index, line);

    const auto share = std::make_shared<WaiterShare>();
    share->port = &m_link;
    std::memcpy(share->frame, m_frame, sizeof m_frame);
    share->sendLength = kFrameLength;
    share->replyLength = kReplyLength;
    share->stop = m_state.stop;
    share->event = m_state.replyEvent;
    if (m_state.replyEvent)
        m_state.replyEvent->Reset();  // no earlier signal counts for this waiter
    std::thread thread;
    try {
        thread = std::thread(ReplyWaiter, share);
    } catch (const std::system_error&) {
        // No waiter: the attempt makes its eleven polls without a signal.
    }

    for (int polls = 1;; ++polls) {
        const bool waited = PollReply();
        ++m_waitCounter;
        char text[32];
        std::snprintf(text, sizeof text, "Please wait %d", m_waitCounter);
        m_view.SetStatusText(text);
        m_stopped = Stopping();
        if (polls >= kPollsPerAttempt || m_stopped) {
            // Stop the waiter: a Close ends a wait for the reply blocked on its thread.
            if (thread.joinable())
                m_link.Close();
            break;
        }
        if (waited)
            break;
    }

    AttemptReport report;
    report.index = index;
    report.line = line;
    std::memcpy(report.frame, m_frame, kFrameLength);
    if (thread.joinable() && AwaitWaiter(thread, *share)) {
        report.sent = share->sent;
        std::memcpy(report.reply, share->reply, sizeof report.reply);
        report.received = share->received;
        if (share->replyResult != 0)
            report.verdict = CheckReply(share->reply, kReplyLength) ? AttemptReport::Verdict::ValidReply
                                                                    : AttemptReport::Verdict::InvalidReply;
    }
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
// are read only once it has ended; true then.
bool Run::AwaitWaiter(std::thread& thread, WaiterShare& share)
{
    std::unique_lock<std::mutex> lock(share.mutex);
    const bool ended = share.changed.wait_for(lock, kWaiterEndBound, [&] { return share.ended; });
    lock.unlock();
    if (ended) {
        thread.join();  // it has only to return
        return true;
    }
    // Never seen: the waiter outlived its bound (it is stuck inside the port). It keeps its
    // own storage and its own reference to the old event, so its late result and signal
    // are never taken for a later attempt's; while it stays in the port, the port refuses
    // later transfers, which count as no reply.
    thread.detach();
    m_state.linkInUse = true;
    ReplaceReplyEvent();
    return false;
}

}  // namespace

RunEnding RunConfiguration(PortLink& port, RunView& view, RunState& state)
{
    return Run(port, view, state).Execute();
}
