// How vr7 tells what a configuration run did: the attempts as lines for people and as
// JSON for scripts, the CAD program, the endings and their exit statuses.
#ifndef VR7_REPORT_H
#define VR7_REPORT_H

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "ConfigurationRun.h"
#include "PortInfo.h"
#include "Ports.h"

std::string SoftwareText(int row);  // Lectra (row 33, mode code 14)
nlohmann::ordered_json SoftwareJson(int row);

std::string LineText(const LineSetting& line);  // 9600 baud, parity N, 8 data bits, 1 stop bit
std::string ReplyText(const AttemptReport& report);  // what came back, and the verdict
nlohmann::ordered_json AttemptsJson(const std::vector<AttemptReport>& attempts);

// A port's device: "0403:6001 serial A50285BI", and the whole line of vr7 ports
// ("COM5  USB Serial Port  FTDI  USB 0403:6001 serial A50285BI"); its JSON fields.
std::string UsbText(const UsbIds& usb);
std::string PortLine(const PortInfo& port);
nlohmann::ordered_json PortJson(const PortInfo& port, const char* nameField = "name");

// Why a port could not be opened, for people (a clause, and a whole sentence) and for scripts.
std::string OpenErrorDetail(const PortInfo& port, const OpenError& error);
std::string OpenErrorText(const PortInfo& port, const OpenError& error);
nlohmann::ordered_json OpenErrorJson(const std::optional<OpenError>& error);

// Names of endings in JSON ("ok", "error", "open-failed", "stopped"), and exit statuses.
const char* EndingName(RunEnding ending);
int ExitStatusOf(RunEnding ending, int stoppedStatus);

// One JSON object on standard output.
void PrintJson(const nlohmann::ordered_json& object);

#endif
