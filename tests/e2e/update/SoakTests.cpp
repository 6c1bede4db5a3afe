// Many whole updates in a row, each with drives, ticks, latencies and a fault drawn at random:
// every run must end in the message its fault calls for (the success message when there is
// none), within its time, with exit code 0; every drive written before the fault holds the
// image, and no drive after it was touched. The seed is printed; M770B_SOAK_SEED repeats a soak
// and M770B_SOAK_RUNS sets its length (50).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/FaultRun.h"

namespace {

unsigned EnvironmentNumber(const char *name, unsigned fallback) {
    const char *text = std::getenv(name);
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 0)) : fallback;
}

struct SoakRun {
    std::vector<int> loaders; // targets holding a loader, ascending
    std::vector<int> ticked;  // the ticked ones among them, ascending (the order of writing)
    unsigned latencyMs = 0;
    int faultedDrive = -1;    // index into `ticked`; -1: no fault
    FaultCase fault{"", 0, "", ""};

    std::string Describe() const {
        std::ostringstream text;
        text << "loaders";
        for (int target : loaders)
            text << " " << target;
        text << ", ticked";
        for (int target : ticked)
            text << " " << target;
        text << ", latency " << latencyMs << " ms, ";
        if (faultedDrive < 0)
            text << "no fault";
        else
            text << "fault '" << fault.name << "' at step " << fault.step << " of target "
                 << ticked[faultedDrive];
        return text.str();
    }
};

SoakRun DrawRun(std::mt19937 &random, const std::vector<BYTE> &image) {
    auto below = [&](unsigned n) { return static_cast<int>(random() % n); };
    SoakRun run;
    std::vector<int> targets = {0, 1, 2, 3, 4, 5, 6};
    std::shuffle(targets.begin(), targets.end(), random);
    run.loaders.assign(targets.begin(), targets.begin() + 1 + below(3));
    std::sort(run.loaders.begin(), run.loaders.end());
    for (int target : run.loaders)
        if (below(4) != 0)
            run.ticked.push_back(target);
    if (run.ticked.empty())
        run.ticked.push_back(run.loaders[below(static_cast<unsigned>(run.loaders.size()))]);
    run.latencyMs = static_cast<unsigned>(below(3));
    if (below(5) == 0)
        return run;
    run.faultedDrive = below(static_cast<unsigned>(run.ticked.size()));
    const int step = below(WriteStepCount);
    if (step == ChecksumStep && below(4) == 0) {
        const int index = below(2);
        run.fault = {index ? "second checksum byte wrong" : "first checksum byte wrong", step,
                     WrongChecksumByteRule(image, index), "Firmware data check error."};
    } else {
        // Every status the program judges means the same at every step (a refusal before the
        // erase faults no step).
        std::vector<FaultCase> matrix;
        for (const FaultCase &c : FaultMatrix())
            if (c.step != BeforeTheErase)
                matrix.push_back(c);
        run.fault = matrix[below(static_cast<unsigned>(matrix.size()))];
        run.fault.step = step;
    }
    return run;
}

void PrepareSoakWorld(TUpdateWorld &world, const SoakRun &run, const std::vector<BYTE> &image) {
    for (int target : run.loaders)
        world.AddLoader({target, "VANDREL ZD-M770B LOADER 1.10", run.latencyMs, run.latencyMs,
                         run.latencyMs});
    if (run.faultedDrive >= 0) {
        char opcode[8];
        std::snprintf(opcode, sizeof opcode, "0x%02X", OpcodeOfStep(run.fault.step));
        world.AddFault("target = " + std::to_string(run.ticked[run.faultedDrive]) +
                       "\nopcode = " + opcode + "\nnth = " +
                       std::to_string(NthOfStep(run.fault.step)) + "\n" + run.fault.rule);
    }
    world.Prepare();
    world.WriteImageBytes(image);
}

void ExpectSoakOutcome(const TUpdateWorld &world, const SoakRun &run, const RunWatch &watch,
                       const std::vector<BYTE> &image) {
    const bool faulted = run.faultedDrive >= 0;
    const std::size_t written = faulted ? run.faultedDrive : run.ticked.size();
    const std::vector<ProgressShowing> showings = world.Showings();
    std::string shown;
    for (const ProgressShowing &showing : showings)
        shown += "\n  " + showing.label + ": " + Describe(showing.positions);
    EXPECT_EQ(showings.size(), faulted ? written + 1 : written) << shown;
    for (std::size_t i = 0; i < written; ++i) {
        const int target = run.ticked[i];
        SCOPED_TRACE("written target " + std::to_string(target));
        EXPECT_EQ(CheckWriteSequence(world.WriteRequests(target), target, image), "");
        EXPECT_TRUE(world.Flash(target) == image) << "the flash differs from Firmware.bin";
    }
    if (faulted) {
        const int target = run.ticked[run.faultedDrive];
        ExpectRunEndedAt(world, watch, target, run.fault.step, run.fault.message);
        EXPECT_EQ(CheckWriteSequence(world.WriteRequests(target), target, image,
                                     run.fault.step + 1, run.fault.step),
                  "");
    } else {
        EXPECT_EQ(watch.box.text, SuccessMessage);
        EXPECT_EQ(watch.exitCode, 0u);
    }
    // The drives the run reached are the first `touched` ticked ones.
    const std::size_t touched = faulted ? written + 1 : written;
    for (int target : run.loaders) {
        const auto at = std::find(run.ticked.begin(), run.ticked.end(), target);
        if (static_cast<std::size_t>(at - run.ticked.begin()) < touched)
            continue;
        SCOPED_TRACE("untouched target " + std::to_string(target));
        EXPECT_TRUE(world.WriteRequests(target).empty());
        EXPECT_EQ(world.Flash(target), std::vector<BYTE>(0x40000, 0));
    }
}

TEST(UpdateSoak, RandomFaultsEachEndTheRunAsTheyShould) {
    const unsigned seed = EnvironmentNumber("M770B_SOAK_SEED", GetTickCount());
    const unsigned runs = EnvironmentNumber("M770B_SOAK_RUNS", 50);
    std::cout << "soak seed " << seed << " (M770B_SOAK_SEED=" << seed << " repeats it), " << runs
              << " runs" << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    unsigned faults = 0, done = 0;
    for (unsigned i = 0; i < runs; ++i) {
        const std::vector<BYTE> image = SampleImage(random());
        const SoakRun run = DrawRun(random, image);
        SCOPED_TRACE("run " + std::to_string(i) + " of seed " + std::to_string(seed) + ": " +
                     run.Describe());
        faults += run.faultedDrive >= 0;
        TUpdateWorld world("soak-" + std::to_string(i));
        PrepareSoakWorld(world, run, image);
        TProgramRun program(world.Launch());
        HWND mainWindow = WaitForMainWindow(program);
        ASSERT_NE(mainWindow, nullptr);
        SetTicks(mainWindow, run.ticked);
        RunWatch watch = WatchUpdate(program, mainWindow, 60000);
        ASSERT_NE(watch.exitCode, TProgramRun::NotEnded) << "the run hung";
        ExpectSoakOutcome(world, run, watch, image);
        ++done;
        if (HasFailure())
            break; // one failed run is enough to repeat with its seed
    }
    std::cout << done << " runs, " << faults << " of them with a fault" << std::endl;
}

} // namespace
