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

struct LineSetting {
    int baud;
    int parity;  // passed as its character code
    int dataBits;
    int stopBits;
};

// Attempts 3 and 4 repeat the setting of attempt 0.
constexpr LineSetting kAttemptSettings[kAttempts] = {
    {9600, 'N', 8, 1}, {9600, 'E', 8, 1}, {19200, 'N', 8, 1}, {9600, 'N', 8, 1}, {9600, 'N', 8, 1},
};

// What one attempt's reply waiter works on. Each attempt has its own, so a waiter can
// never write into a later attempt's storage.
//  - entries, frame, sendLength, replyLength, event: written by the run before the waiter
//    starts; only read by the waiter.
//  - reply, replyResult: written by the waiter; read by the run only after the waiter's
//    thread has ended.
//  - refs: the run and the waiter each hold one; the last to let go frees it.
struct WaiterShare {
    const PortEntryPoints* entries = nullptr;
    unsigned char frame[kFrameBufferSize] = {};
    int sendLength = 0;
    unsigned char reply[kFrameBufferSize] = {};
    int replyLength = 0;
    int replyResult = 0;
    HANDLE event = nullptr;  // the waiter's own duplicate of the reply event
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
// on every path. It is stopped by ClosePort on the run's thread, which ends a blocked
// WaitRecvdata with 0; after that it touches neither the port nor any shared state.
DWORD WINAPI ReplyWaiter(LPVOID parameter)
{
    WaiterShare* share = static_cast<WaiterShare*>(parameter);
    if (share->sendLength > 0 && share->replyLength > 0 &&
        share->entries->senddata(share->frame, share->sendLength)) {
        std::memset(share->reply, 0, sizeof share->reply);
        share->replyResult = share->entries->WaitRecvdata(share->reply, kFrameBufferSize, share->replyLength);
    }
    SetEvent(share->event);
    Release(share);
    return 0;
}

HANDLE NewReplyEvent()
{
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

enum class AttemptResult { OpenFailed, ValidReply, InvalidReply, NoReply };

class Run {
public:
    Run(const PortEntryPoints& entries, RunView& view, RunState& state)
        : m_entries(entries), m_view(view), m_state(state)
    {
    }
    void Execute();

private:
    AttemptResult Attempt(int index);
    void Finish(const char* status);

    const PortEntryPoints& m_entries;
    RunView& m_view;
    RunState& m_state;
    unsigned short m_port = 0;
    unsigned char m_frame[kFrameBufferSize] = {};
    int m_waitCounter = 0;  // polls made so far in the whole run
};

void Run::Execute()
{
    m_state.errorFlag = 0;
    const int portRow = m_view.SelectedPortRow();
    if (portRow < 0) {
        m_view.ShowMessage(kSelectPortMessage);
        return;
    }
    m_port = m_view.PortNumberAt(portRow);
    const int softwareRow = m_view.SelectedSoftwareRow();
    if (softwareRow < 0) {
        m_view.ShowMessage(kSelectSoftwareMessage);
        return;
    }
    // A signal left from an earlier run goes with the old event.
    if (m_state.replyEvent != nullptr)
        CloseHandle(m_state.replyEvent);
    m_state.replyEvent = NewReplyEvent();

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
            m_entries.ClosePort();
            m_view.ShowMessage(kOpenFailureMessage);
            m_view.EnableOkButton(true);
            return;
        }
        if (result == AttemptResult::ValidReply) {
            Finish(kStatusOk);
            return;
        }
        if (result == AttemptResult::NoReply)
            Sleep(kNoReplyPauseMs);
    }
    m_state.errorFlag = 1;  // before the text, so the status line is drawn red
    Finish(kStatusError);
}

void Run::Finish(const char* status)
{
    m_view.SetStatusText(status);
    m_entries.ClosePort();
    m_view.EnableOkButton(true);
}

AttemptResult Run::Attempt(int index)
{
    const LineSetting& line = kAttemptSettings[index];
    m_entries.ClosePort();
    if (!m_entries.OpenPort(m_port, line.baud, line.parity, line.dataBits, line.stopBits))
        return AttemptResult::OpenFailed;
    CompleteFrame(m_frame, kFrameLength);
    m_view.SetStatusText("");

    WaiterShare* share = new WaiterShare;
    share->entries = &m_entries;
    std::memcpy(share->frame, m_frame, sizeof m_frame);
    share->sendLength = kFrameLength;
    share->replyLength = kReplyLength;
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
        if (polls >= kPollsPerAttempt) {
            // Stop the waiter: ClosePort ends a WaitRecvdata blocked on its thread.
            if (thread != nullptr)
                m_entries.ClosePort();
            break;
        }
        if (waited == WAIT_OBJECT_0)
            break;
    }

    // The waiter has signalled or has been stopped: it ends within milliseconds.
    int replyResult = 0;
    if (thread != nullptr) {
        if (WaitForSingleObject(thread, kWaiterEndBoundMs) == WAIT_OBJECT_0) {
            replyResult = share->replyResult;
        } else {
            // Never seen: the waiter outlived its bound (it is stuck inside the library).
            // It keeps its own storage and its own handle of the old event, so its late
            // result and signal are never taken for a later attempt's; while it stays in
            // the library, the library refuses later transfers, which count as no reply.
            CloseHandle(m_state.replyEvent);
            m_state.replyEvent = NewReplyEvent();
        }
        CloseHandle(thread);
    }
    AttemptResult result = AttemptResult::NoReply;
    if (replyResult != 0)
        result = CheckReply(share->reply, kReplyLength) ? AttemptResult::ValidReply : AttemptResult::InvalidReply;
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): the analyzer does not follow the count through InterlockedDecrement
    Release(share);
    return result;
}

}  // namespace

void RunConfiguration(const PortEntryPoints& entries, RunView& view, RunState& state)
{
    Run(entries, view, state).Execute();
}
