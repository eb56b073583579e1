// vr7: the console companion of the setup assistant. Takes the command line as Windows
// gives it (UTF-16, so Chinese labels can be typed), hands it to CLI11 as UTF-8, runs the
// command and maps every ending to an exit status. The first Ctrl+C stops the runs
// cleanly (they open and send nothing more and close their ports); a second one ends vr7
// at once.
#include <windows.h>

#include <shellapi.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "Report.h"
#include "Version.h"

namespace {

// Set by Ctrl+C, watched by every run. Never freed: the system runs the Ctrl+C handler on
// a thread of its own, which may still be setting it while main returns, and a run given
// up after the stop may still watch it.
StopSignal* const g_stop = new StopSignal;
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_interrupts.fetch_add(1) > 0)
        TerminateProcess(GetCurrentProcess(), kExitStopped);  // the second: at once, whatever is blocked
    g_stop->Set();
    return TRUE;  // the runs end by themselves, closing their ports
}

std::vector<std::string> Utf8Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return {"vr7"};
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

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

const char kPortHelp[] = "the port: COMn, or its USB adapter as usb:VID:PID or usb:VID:PID:SERIAL (see vr7 ports)";
const char kSoftwareHelp[] = "the CAD program: its row (0 to 49, see vr7 software) or its label, or the beginning "
                             "of one label; Latin letters in any case";

void AddCommands(CLI::App& app, Options& options)
{
    app.require_subcommand(1);
    app.add_flag("--json", options.json, "one JSON object on standard output, for scripts");

    CLI::App* ports = app.add_subcommand("ports", "list the serial ports Windows lists, in its order, with what "
                                                  "each one's device is");
    ports->add_flag("--test", options.test, "also say whether each can be opened now (none is left open)");
    ports->footer("Example: vr7 ports --test");

    CLI::App* software = app.add_subcommand("software", "list the CAD programs: row, mode code and label");
    software->footer("Example: vr7 software --json");

    CLI::App* configure = app.add_subcommand("configure", "configure the digitizer on one port, as the window's "
                                                          "OK button does, showing every attempt");
    configure->add_option("--port", options.port, kPortHelp)->required();
    configure->add_option("--software", options.software, kSoftwareHelp)->required();
    configure->footer("Example: vr7 configure --port COM3 --software Lectra");

    CLI::App* detect = app.add_subcommand("detect", "send the configuration frame to every listed port side by "
                                                    "side and tell which answered (it writes to every port)");
    detect->add_option("--software", options.software, kSoftwareHelp)->required();
    detect->add_option("--port", options.ports, std::string(kPortHelp) + "; repeatable; without it, every listed port");
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

int Run(const std::vector<std::string>& arguments, Options& options, bool json)
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

// The exit status is the command's own: 130 only where Ctrl+C stopped a run.
int main()
{
    SetConsoleCtrlHandler(OnControl, TRUE);
    Options options;
    options.stop = g_stop;
    const std::vector<std::string> arguments = Utf8Arguments();
    const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    try {
        return Run(arguments, options, json);
    } catch (const std::exception& e) {
        return Fail(kExitInternal, std::string("vr7 failed: ") + e.what(), json);
    } catch (...) {
        return Fail(kExitInternal, "vr7 failed.", json);
    }
}
