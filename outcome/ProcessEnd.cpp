#include "outcome/ProcessEnd.h"

#include <cstdlib>

#include "outcome/OutcomeCalls.h"

void EndProcess() {
    Outcome.endProcess();
    // Only a faulty stand-in returns; its caller must not go on as if the process had ended.
    std::abort();
}
