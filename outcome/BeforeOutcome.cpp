#include "outcome/BeforeOutcome.h"

#include <atomic>

namespace {

std::atomic<void (*)()> Pending{nullptr};

} // namespace

void SetBeforeOutcome(void (*call)()) {
    Pending = call;
}

void RunBeforeOutcome() {
    if (void (*call)() = Pending.exchange(nullptr))
        call();
}
