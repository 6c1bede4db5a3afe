// Faults of the drive at every step of the write sequence, as a user sees them: the message that
// names the fault, the bar where the write stopped, nothing sent after the failed request, the
// next ticked drive left alone, exit code 0.
#include <gtest/gtest.h>

#include <vector>

#include "tests/e2e/update/FaultRun.h"

namespace {

TEST(UpdateFaults, EachFaultEndsTheRunWithItsMessageAtItsStep) {
    uint32_t seed = 100;
    for (const FaultCase &c : FaultMatrix()) {
        SCOPED_TRACE(c.name);
        TUpdateWorld world("fault-" + std::to_string(seed));
        const std::vector<BYTE> image = SampleImage(seed++);
        PrepareFaultWorld(world, c, image);
        ExpectFaultOutcome(world, c, image);
    }
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
