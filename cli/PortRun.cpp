#include "PortRun.h"

#include "Console.h"
#include "Report.h"

PortRun::PortRun(const PortInfo& port, int softwareRow, const StopSignal* stop, bool printAttempts)
    : m_port(port), m_row(softwareRow), m_print(printAttempts), m_link(MakeRunLink(port, stop))
{
    // The run replaces the reply event at its start; it must exist by then.
    m_state.replyEvent = std::make_shared<ReplySignal>();
    m_state.stop = stop;
}

RunEnding PortRun::Execute()
{
    const RunEnding ending = RunConfiguration(*m_link, *this, m_state);
    if (ending == RunEnding::OpenFailed)
        m_openError = m_link->OpenFailure();
    return ending;
}

void PortRun::AttemptStarted(int index, const LineSetting& line)
{
    if (m_print)
        Out().Line("Attempt " + std::to_string(index + 1) + " at " + LineText(line));
}

void PortRun::AttemptEnded(const AttemptReport& report)
{
    m_attempts.push_back(report);
    if (!m_print)
        return;
    if (report.sent)
        Out().Line("  sent " + HexText(report.frame, kFrameLength));
    Out().Line("  " + ReplyText(report));
}
