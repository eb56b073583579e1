// One configuration run on one port, exactly as the window runs it, over a link of vr7's
// own. It records what each attempt did and, when asked, prints each attempt as it
// happens. Each PortRun has its own reply event, so several can run side by side on
// threads of their own. Made by MakePortRun: a run whose reply waiter outlived its bound
// is kept to the process's end, as the waiter may still be inside its link.
#ifndef VR7_PORTRUN_H
#define VR7_PORTRUN_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConfigurationRun.h"
#include "KeptToProcessEnd.h"
#include "Ports.h"

class PortRun : private RunView {
public:
    // stop may be null; once it is set, the run stops and closes the port.
    PortRun(const PortInfo& port, int softwareRow, const StopSignal* stop, bool printAttempts);
    ~PortRun() override = default;
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    RunEnding Execute();

    const PortInfo& Port() const { return m_port; }
    const std::vector<AttemptReport>& Attempts() const { return m_attempts; }
    const std::string& Instructions() const { return m_instructions; }
    const std::optional<OpenError>& OpenFailure() const { return m_openError; }  // after an open failed
    bool InUse() const { return m_state.linkInUse; }  // a waiter may still be inside the link

private:
    int SelectedPortRow() override { return 0; }
    int SelectedSoftwareRow() override { return m_row; }
    unsigned short PortNumberAt(int) override { return static_cast<unsigned short>(m_port.number); }
    void SetStatusText(const char*) override {}
    void SetInstructionText(const char* utf8) override { m_instructions = utf8; }
    void EnableOkButton(bool) override {}
    void ShowMessage(const char*) override {}  // the ending tells the open failure
    void AttemptStarted(int index, const LineSetting& line) override;
    void AttemptEnded(const AttemptReport& report) override;

    const PortInfo m_port;
    const int m_row;
    const bool m_print;
    const std::unique_ptr<RunLink> m_link;
    RunState m_state;  // its reply event is owned here
    std::vector<AttemptReport> m_attempts;
    std::string m_instructions;
    std::optional<OpenError> m_openError;
};

// Frees a run unless a waiter may still be inside its link.
struct FreeUnlessInUse {
    void operator()(PortRun* run) const
    {
        if (run->InUse())
            KeptToProcessEnd::Keep(std::unique_ptr<PortRun>(run));
        else
            delete run;
    }
};
using PortRunPtr = std::unique_ptr<PortRun, FreeUnlessInUse>;

inline PortRunPtr MakePortRun(const PortInfo& port, int softwareRow, const StopSignal* stop, bool printAttempts)
{
    return PortRunPtr(new PortRun(port, softwareRow, stop, printAttempts));
}

#endif
