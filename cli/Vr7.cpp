// vr7's command line, one code for every system: hands the arguments (UTF-8) to CLI11,
// runs the command and maps every ending to an exit status.
#include "Vr7.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "Ports.h"
#include "Report.h"
#include "Version.h"

namespace {

std::string VersionText()
{
    constexpr int kNumbers[] = {QUILLANE_VERSION_NUMBERS};
    std::string text = "vr7 (quillane VR7) ";
    for (int number : kNumbers)
        text += std::to_string(number) + ".";
    text.pop_back();
    return text;
}

// One sentence on standard error; with --json also an object on standard output.
int Fail(int status, const std::string& sentence, bool json)
{
    Err().Line(sentence);
    if (json)
        PrintJson({{"error", sentence}, {"exitCode", status}});
    return status;
}

// CLI11's own message, except where no command was recognised.
std::string UsageSentence(const CLI::App& app, const CLI::ParseError& error)
{
    if (!app.get_subcommands().empty())
        return std::string(error.what()) + " (see vr7 " + app.get_subcommands().at(0)->get_name() + " --help).";
    const std::vector<std::string> rest = app.remaining();
    const std::string commands = "ports, software, configure or detect (see vr7 --help).";
    if (rest.empty())
        return std::string(error.what()) + ": give one of " + commands;
    return "\"" + rest.front() + "\" is not a command: give one of " + commands;
}

const std::string kPortHelp = std::string("the port: ") + kPortNameForm +
                              ", or its USB adapter as usb:VID:PID or usb:VID:PID:SERIAL (see vr7 ports)";
const char kSoftwareHelp[] = "the CAD program: its row (0 to 49, see vr7 software) or its label, or the beginning "
                             "of one label; Latin letters in any case";

void AddCommands(CLI::App& app, Options& options)
{
    app.require_subcommand(1);
    app.add_flag("--json", options.json, "one JSON object on standard output, for scripts");

    CLI::App* ports = app.add_subcommand("ports", std::string("list the serial ports ") + kSystemName +
                                                      " lists, in its order, with what each one's device is");
    ports->add_flag("--test", options.test, "also say whether each can be opened now (none is left open)");
    ports->footer("Example: vr7 ports --test");

    CLI::App* software = app.add_subcommand("software", "list the CAD programs: row, mode code and label");
    software->footer("Example: vr7 software --json");

    CLI::App* configure = app.add_subcommand("configure", "configure the digitizer on one port, as the window's "
                                                          "OK button does, showing every attempt");
    configure->add_option("--port", options.port, kPortHelp)->required();
    configure->add_option("--software", options.software, kSoftwareHelp)->required();
    configure->footer(std::string("Example: vr7 configure --port ") + kPortExample + " --software Lectra");

    CLI::App* detect = app.add_subcommand("detect", "send the configuration frame to every listed port side by "
                                                    "side and tell which answered (it writes to every port)");
    detect->add_option("--software", options.software, kSoftwareHelp)->required();
    detect->add_option("--port", options.ports, kPortHelp + "; repeatable; without it, every listed port");
    detect->footer("Example: vr7 detect --software 33 --port usb:0403:6001");

    for (CLI::App* command : {ports, software, configure, detect})
        command->add_flag("--json", options.json, "one JSON object on standard output, for scripts");
}

int Dispatch(const CLI::App& app, const Options& options)
{
    const std::string name = app.get_subcommands().at(0)->get_name();
    if (name == "ports")
        return ListPortsCommand(options);
    if (name == "software")
        return ListSoftwareCommand(options);
    if (name == "configure")
        return ConfigureCommand(options);
    return DetectCommand(options);
}

int Parse(const std::vector<std::string>& arguments, Options& options, bool json)
{
    CLI::App app("Configures a serial digitizer for a CAD program, and finds the port it is on.", "vr7");
    AddCommands(app, options);
    app.set_version_flag("--version", VersionText());
    std::vector<const char*> argv;
    argv.reserve(arguments.size());
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        Out().Write(app.help());
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        Out().Line(e.what());
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return Fail(kExitUsage, UsageSentence(app, e), json);
    }
    try {
        return Dispatch(app, options);
    } catch (const CommandError& e) {
        return Fail(e.Status(), e.what(), json);
    }
}

}  // namespace

// The exit status is the command's own: 130 (143) only where a stop ended a run.
int RunVr7(const std::vector<std::string>& arguments, const StopSignal* stop)
{
    Options options;
    options.stop = stop;
    const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    try {
        return Parse(arguments, options, json);
    } catch (const std::exception& e) {
        return Fail(kExitInternal, std::string("vr7 failed: ") + e.what(), json);
    } catch (...) {
        return Fail(kExitInternal, "vr7 failed.", json);
    }
}
