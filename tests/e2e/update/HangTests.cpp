// A request that the drive accepts and never completes: the program waits a minute for it, then
// says so and ends, sending nothing more (the block and its buffer still belong to the manager).
#include <gtest/gtest.h>

#include <iostream>
#include <vector>

#include "tests/e2e/update/FaultRun.h"

namespace {

TEST(UpdateHang, ARequestThatNeverCompletesEndsTheRunAfterAMinute) {
    TUpdateWorld world("hang-chunk-3");
    const std::vector<BYTE> image = SampleImage(300);
    const FaultCase c{"chunk 3 never completes", 3, "action = hang", "SCSI command timed out."};
    PrepareFaultWorld(world, c, image);
    const DWORD start = GetTickCount();
    ExpectFaultOutcome(world, c, image, 120000);
    const DWORD took = GetTickCount() - start;
    std::cout << "the run with a hung chunk write took " << took << " ms\n";
    EXPECT_GE(took, 60000u) << "the program gave up before its minute";
}

} // namespace
