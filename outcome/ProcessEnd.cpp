#include "outcome/ProcessEnd.h"

#include <cstdlib>

#include "outcome/BeforeOutcome.h"
#include "outcome/OutcomeCalls.h"
#include "record/RunRecord.h"

void EndProcess() {
    // Every way out but the end of the message loop comes here: a hold on the session is given
    // back, then the record's last lines.
    RunBeforeOutcome();
    RecordEnd();
    Outcome.endProcess();
    // Only a faulty stand-in returns; its caller must not go on as if the process had ended.
    std::abort();
}
