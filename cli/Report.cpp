#include "Report.h"

#include <algorithm>

#include "Catalogue.h"
#include "Commands.h"
#include "Console.h"

namespace {

int ReceivedCount(const AttemptReport& report)
{
    return std::clamp(report.received, 0, kFrameBufferSize);
}

// Why a complete reply was not taken: the first rule it breaks.
const char* RejectionReason(const unsigned char* reply)
{
    if (reply[0] != kReplyStart)
        return "it does not start with EA";
    if (reply[kReplyLength - 1] != kReplyEnd)
        return "it does not end with DD";
    return "its check sum is not zero";
}

const char* VerdictName(AttemptReport::Verdict verdict)
{
    switch (verdict) {
    case AttemptReport::Verdict::ValidReply:
        return "valid";
    case AttemptReport::Verdict::InvalidReply:
        return "invalid";
    default:
        return "none";
    }
}

nlohmann::ordered_json AttemptJson(const AttemptReport& report)
{
    return {{"attempt", report.index + 1},
            {"baud", report.line.baud},
            {"parity", std::string(1, static_cast<char>(report.line.parity))},
            {"dataBits", report.line.dataBits},
            {"stopBits", report.line.stopBits},
            {"sent", report.sent ? HexText(report.frame, kFrameLength) : ""},
            {"received", HexText(report.reply, static_cast<std::size_t>(ReceivedCount(report)))},
            {"verdict", VerdictName(report.verdict)}};
}

}  // namespace

std::string SoftwareText(int row)
{
    return std::string(CatalogueLabel(row)) + " (row " + std::to_string(row) + ", mode code " +
           std::to_string(LookUpCatalogue(row).modeCode) + ")";
}

nlohmann::ordered_json SoftwareJson(int row)
{
    return {{"row", row}, {"label", CatalogueLabel(row)}, {"mode", LookUpCatalogue(row).modeCode}};
}

std::string LineText(const LineSetting& line)
{
    return std::to_string(line.baud) + " baud, parity " + static_cast<char>(line.parity) + ", " +
           std::to_string(line.dataBits) + " data bits, " + std::to_string(line.stopBits) + " stop bit" +
           (line.stopBits == 1 ? "" : "s");
}

std::string ReplyText(const AttemptReport& report)
{
    const int received = ReceivedCount(report);
    if (!report.sent)
        return "the frame could not be sent";
    const std::string bytes = received > 0 ? HexText(report.reply, static_cast<std::size_t>(received)) : "nothing";
    switch (report.verdict) {
    case AttemptReport::Verdict::ValidReply:
        return "received " + bytes + ": a valid reply";
    case AttemptReport::Verdict::InvalidReply:
        return "received " + bytes + ": not a valid reply, " + RejectionReason(report.reply);
    default:
        if (received == 0)
            return "received nothing: no reply";
        return "received " + bytes + ": " + std::to_string(received) + " of " + std::to_string(kReplyLength) +
               " bytes, no complete reply";
    }
}

std::string UsbText(const UsbIds& usb)
{
    return usb.vid + ":" + usb.pid + (usb.serial ? " serial " + *usb.serial : "") +
           (usb.interface ? " interface " + *usb.interface : "");
}

std::string PortLine(const PortInfo& port)
{
    std::string line = port.name;
    for (const std::optional<std::string>& part : {port.description, port.manufacturer})
        line += part ? "  " + *part : "";
    if (port.usb)
        line += "  USB " + UsbText(*port.usb);
    if (port.byId)
        line += "  " + *port.byId;
    if (!port.registry)
        line += "  (not in the registry's list of ports)";
    if (port.console)
        line += "  (the system console: vr7 does not write to it)";
    return line;
}

nlohmann::ordered_json PortJson(const PortInfo& port, const char* nameField)
{
    const auto orNull = [](const std::optional<std::string>& text) {
        return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json();
    };
    nlohmann::ordered_json usb;
    if (port.usb)
        usb = {{"vid", port.usb->vid}, {"pid", port.usb->pid}, {"serial", orNull(port.usb->serial)},
               {"interface", orNull(port.usb->interface)}};
    return {{nameField, port.name},
            {"number", port.number != 0 ? nlohmann::ordered_json(port.number) : nlohmann::ordered_json()},
            {"description", orNull(port.description)},
            {"manufacturer", orNull(port.manufacturer)},
            {"registry", port.registry},
            {"usb", usb},
            {"byId", orNull(port.byId)},
            {"console", port.console}};
}

namespace {

std::string HolderText(const PortInfo& port, const OpenError& error)
{
    std::string who;
    for (const Holder& holder : error.holders)
        who += (who.empty() ? "" : ", ") + holder.name + " (PID " + std::to_string(holder.pid) + ")";
    if (error.hidden)
        who += (who.empty() ? "" : ", and ") + UnseenHolderText(port);
    return who.empty() ? "another program" : who;
}

}  // namespace

std::string OpenErrorDetail(const PortInfo& port, const OpenError& error)
{
    const std::string code = "error " + std::to_string(error.code.value_or(0));
    if (error.reason == "busy")
        return "held by " + HolderText(port, error);
    if (error.reason == "missing")
        return "its device is missing, " + code + ": the adapter is unplugged, or " + port.name +
               " is a name left from one that is gone";
    if (error.reason == "console")
        return "the system console: vr7 does not write to it";
    if (error.reason == "denied")
        return "permission denied: join the group " + error.group + " (sudo usermod -aG " + error.group +
               " $USER), then log out and in again";
    std::string message = error.message;
    if (!message.empty() && message.back() == '.')
        message.pop_back();
    return message + ", " + code;
}

std::string OpenErrorText(const PortInfo& port, const OpenError& error)
{
    if (error.reason == "busy" && error.holders.empty() && error.hidden)
        return port.name + " is held by " + HolderText(port, error) + ".";  // the words say how to find it
    if (error.reason == "busy")
        return port.name + " is held by " + HolderText(port, error) + ": close it and try again.";
    if (error.reason == "console")
        return error.message + ".";
    return port.name + " cannot be opened: " + OpenErrorDetail(port, error) + ".";
}

nlohmann::ordered_json OpenErrorJson(const std::optional<OpenError>& error)
{
    if (!error)
        return nullptr;
    nlohmann::ordered_json json = {{"reason", error->reason},
                                   {"code", error->code ? nlohmann::ordered_json(*error->code) : nlohmann::ordered_json()},
                                   {"message", error->message}};
    if (error->reason == "denied")
        json["group"] = error->group;
    if (error->reason == "busy") {
        nlohmann::ordered_json holders = nlohmann::ordered_json::array();
        for (const Holder& holder : error->holders)
            holders.push_back({{"pid", holder.pid}, {"name", holder.name}});
        json["holders"] = holders;
    }
    return json;
}

nlohmann::ordered_json AttemptsJson(const std::vector<AttemptReport>& attempts)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const AttemptReport& report : attempts)
        array.push_back(AttemptJson(report));
    return array;
}


const char* EndingName(RunEnding ending)
{
    switch (ending) {
    case RunEnding::Ok:
        return "ok";
    case RunEnding::OpenFailed:
        return "open-failed";
    case RunEnding::Stopped:
        return "stopped";
    default:
        return "error";
    }
}

int ExitStatusOf(RunEnding ending, int stoppedStatus)
{
    switch (ending) {
    case RunEnding::Ok:
        return kExitOk;
    case RunEnding::OpenFailed:
        return kExitNoPort;
    case RunEnding::Stopped:
        return stoppedStatus;
    default:
        return kExitNoReply;
    }
}

void PrintJson(const nlohmann::ordered_json& object)
{
    Out().Line(object.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}
