// One configuration run on one port, exactly as the window runs it, over a channel of the
// console program's own. It records what each attempt did and, when asked, prints each
// attempt as it happens. Each PortRun has its own reply event, so several can run side
// by side on threads of their own.
#ifndef VR7_PORTRUN_H
#define VR7_PORTRUN_H

#include <windows.h>

#include <string>
#include <vector>

#include "ConfigurationRun.h"
#include "DriverPortLink.h"

class PortRun : private RunView {
public:
    // stopEvent: manual-reset, may be null; once set, the run stops and closes the port.
    PortRun(unsigned short port, int softwareRow, HANDLE stopEvent, bool printAttempts);
    ~PortRun() override;
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    RunEnding Execute();

    unsigned short Port() const { return m_port; }
    const std::vector<AttemptReport>& Attempts() const { return m_attempts; }
    const std::string& Instructions() const { return m_instructions; }

private:
    int SelectedPortRow() override { return 0; }
    int SelectedSoftwareRow() override { return m_row; }
    unsigned short PortNumberAt(int) override { return m_port; }
    void SetStatusText(const char*) override {}
    void SetInstructionText(const char* utf8) override { m_instructions = utf8; }
    void EnableOkButton(bool) override {}
    void ShowMessage(const char*) override {}  // the ending tells the open failure
    void AttemptStarted(int index, const LineSetting& line) override;
    void AttemptEnded(const AttemptReport& report) override;

    const unsigned short m_port;
    const int m_row;
    const bool m_print;
    DriverPortLink m_link;
    RunState m_state;  // its reply event is owned here
    std::vector<AttemptReport> m_attempts;
    std::string m_instructions;
};

#endif
