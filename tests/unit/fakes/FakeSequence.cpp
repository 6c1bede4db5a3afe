#include "tests/unit/fakes/FakeSequence.h"

#include <atomic>

unsigned NextFakeSequence() {
    static std::atomic<unsigned> next{1};
    return next++;
}
