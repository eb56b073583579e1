// vr7's test build with the stand-in device: at exit, after every run has ended and its
// channel has been destroyed, the operations a never-cancel port kept are completed as a
// late driver would, and what that found is reported on standard error.
#include <string>

#include "StandIn.h"

namespace {

struct ReportAtExit {
    ~ReportAtExit()
    {
        KeptOperations& kept = *StandInKept();
        const LONG count = kept.count;
        if (count == 0)
            return;
        int intact = 0, open = 0;
        CompleteKept(kept, &intact, &open);
        SayStandIn("completed " + std::to_string(count) + " kept operations at exit: " + std::to_string(intact) +
                   " records intact, " + std::to_string(open) + " events open");
    }
} g_report;

}  // namespace
