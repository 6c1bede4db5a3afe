// Faults of the drive at every step of the write sequence, as a user sees them: the message that
// names the fault, the bar where the write stopped, nothing sent after the failed request, the
// next ticked drive left alone, exit code 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/e2e/update/FaultRun.h"

namespace {

// M770B_FAULT_CASE, when set, keeps only the rows whose name contains it (scripts/test-i686).
TEST(UpdateFaults, EachFaultEndsTheRunWithItsMessageAtItsStep) {
    const char *only = std::getenv("M770B_FAULT_CASE");
    int runs = 0;
    uint32_t seed = 100;
    for (const FaultCase &c : FaultMatrix()) {
        if (only && !std::strstr(c.name, only)) {
            ++seed;
            continue;
        }
        ++runs;
        SCOPED_TRACE(c.name);
        TUpdateWorld world("fault-" + std::to_string(seed));
        const std::vector<BYTE> image = SampleImage(seed++);
        PrepareFaultWorld(world, c, image);
        ExpectFaultOutcome(world, c, image);
    }
    EXPECT_GT(runs, 0) << "no fault case is named like " << only;
}

// The drive's checksum differs from the image's in its first byte, or only in its second.
TEST(UpdateFaults, AWrongChecksumByteIsADataCheckError) {
    for (int index : {0, 1}) {
        SCOPED_TRACE("byte " + std::to_string(index));
        TUpdateWorld world("checksum-byte-" + std::to_string(index));
        const std::vector<BYTE> image = SampleImage(200 + index);
        const FaultCase c{"wrong checksum byte", ChecksumStep, WrongChecksumByteRule(image, index),
                          "Firmware data check error."};
        PrepareFaultWorld(world, c, image);
        ExpectFaultOutcome(world, c, image);
    }
}

} // namespace
