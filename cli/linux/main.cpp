// vr7 on Linux: the command line as given (UTF-8). SIGINT and SIGTERM stop the runs as
// Ctrl+C does on Windows: the first cleanly (they open and send nothing more and close
// their ports; the status is then 130, or 143 after SIGTERM), a second one at once. A
// signal that was ignored when vr7 started (a background job of a script gets SIGINT
// ignored) stays ignored.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Vr7.h"

namespace {

// Never freed: a run given up after the stop may still watch it as the process ends.
StopSignal* const g_stop = new StopSignal;

// The signals are blocked in every thread and taken here, by an ordinary thread, which
// may then set the stop (a signal handler could not).
void TakeSignals(sigset_t signals)
{
    for (bool first = true;; first = false) {
        int taken = 0;
        if (sigwait(&signals, &taken) != 0)
            continue;
        if (!first)
            _exit(128 + taken);
        g_stop->Set(128 + taken);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);  // a reader that has gone ends the output, not vr7
    sigset_t signals;
    sigemptyset(&signals);
    bool watched = false;
    for (const int stopping : {SIGINT, SIGTERM}) {
        struct sigaction current = {};
        if (sigaction(stopping, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaddset(&signals, stopping);
        watched = true;
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        if (watched)
            std::thread(TakeSignals, signals).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);  // no watcher: the signals end vr7 as they would
    }
    return RunVr7(std::vector<std::string>(argv, argv + argc), g_stop);
}
