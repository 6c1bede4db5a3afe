#include "tests/e2e/update/FaultRun.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/robot/RecordLines.h"
#include "tests/e2e/robot/Robot.h"
#include "tools/firmware/SampleFirmware.h"

const char ProgramTitle[] = "ZD-M770B Firmware update";

namespace {

// A few milliseconds, as a fast drive answers.
constexpr unsigned EraseMs = 10, ChunkMs = 4, ChecksumMs = 10;

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

} // namespace

std::string WrongChecksumByteRule(const std::vector<BYTE> &image, int index) {
    const BYTE wrong = static_cast<BYTE>(image[ChecksumOffset + index] ^ 0x5A);
    char data[3];
    std::snprintf(data, sizeof data, "%02X", wrong);
    return "action = data\ndata_offset = " + std::to_string(index) + "\ndata = " + data;
}

std::vector<BYTE> SampleImage(uint32_t seed) {
    std::vector<uint8_t> bytes = MakeSampleFirmware(seed, "2.00");
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

void PrepareFaultWorld(TUpdateWorld &world, const FaultCase &c, const std::vector<BYTE> &image) {
    // The adapter's lines are the scenario's own, so they come before the devices' sections.
    if (c.step == BeforeTheErase)
        world.AddScenarioLines(c.rule);
    world.AddLoader({FaultedTarget, "VANDREL ZD-M770B LOADER 1.10", EraseMs, ChunkMs, ChecksumMs});
    world.AddLoader({LaterTarget, "VANDREL ZD-M770B LOADER 1.10", EraseMs, ChunkMs, ChecksumMs});
    if (c.step != BeforeTheErase)
        world.AddFault("target = " + std::to_string(FaultedTarget) +
                       "\nopcode = " + Hex(OpcodeOfStep(c.step)) +
                       "\nnth = " + std::to_string(NthOfStep(c.step)) + "\n" + c.rule);
    world.Prepare();
    world.WriteImageBytes(image);
}

void ExpectRunEndedAt(const TUpdateWorld &world, const RunWatch &watch, int target, int stopStep,
                      const std::string &message) {
    EXPECT_EQ(watch.exitCode, 0u) << "the program did not end with exit code 0 in time";
    const std::vector<ProgressShowing> showings = world.Showings();
    ASSERT_FALSE(showings.empty()) << "the progress window was never shown";
    const std::vector<int> &positions = showings.back().positions;
    EXPECT_TRUE(watch.box.seen) << "the program ended without a message";
    EXPECT_EQ(watch.box.text, message);
    EXPECT_EQ(watch.box.title, ProgramTitle);
    EXPECT_TRUE(watch.box.progressVisible) << "the box came over the progress window";
    EXPECT_EQ(watch.box.barPosition, BarDuringStep(stopStep)) << Describe(positions);
    // The request that ended the write is the last one the virtual drive received.
    std::vector<TraceRecord> requests = world.WriteRequests(target);
    ASSERT_GT(requests.size(), static_cast<std::size_t>(stopStep));
    uint64_t lastSeq = 0;
    for (const TraceRecord &record : world.Trace())
        if (record.kind == "req")
            lastSeq = record.Number("seq");
    EXPECT_EQ(lastSeq, requests[stopStep].Number("seq")) << "a request followed the failed one";
}

// The record's last lines: the faulted drive's start and each of its steps up to the faulted one,
// its failed request's raw status, the box, the drive failed at its step, the later drive not
// started, how the run ended; all of it there while the box stood.
void ExpectFaultRecord(const TUpdateWorld &world, const FaultCase &c,
                       const std::vector<std::string> &recordAtBox) {
    const std::string caption = " VANDREL ZD-M770B LOADER 1.10\"";
    const std::string faulted = "\"(0," + std::to_string(FaultedTarget) + ")" + caption;
    const std::string later = "\"(0," + std::to_string(LaterTarget) + ")" + caption;
    std::vector<std::string> expected = DriveStartLines(faulted, c.step);
    for (const std::string &line : {
             "Request " + Hex(OpcodeOfStep(c.step)) + " to (0," + std::to_string(FaultedTarget) +
                 ") failed: " + c.rawStatus,
             "Error box: \"" + c.message + "\"",
             "Drive " + faulted + ": failed at " + RecordStepName(c.step),
             "Drive " + later + ": not started",
             "Run stopped at " + faulted + "; verified: none; not started: " + later,
         })
        expected.push_back(line);
    const std::vector<std::string> record = ReadRecordLines(world.WorkFolder());
    EXPECT_EQ(recordAtBox, record) << "the record changed after the error box was shown";
    ASSERT_GE(record.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(record.end() - expected.size(), record.end()), expected);
}

// A run refused at UPDATE: its box alone, exit code 0, no erase, chunk or checksum sent to either
// drive, both flashes as they were.
void ExpectRefusedBeforeTheErase(const TUpdateWorld &world, const RunWatch &watch,
                                 const std::string &message) {
    EXPECT_EQ(watch.exitCode, 0u) << "the program did not end with exit code 0 in time";
    EXPECT_TRUE(world.Showings().empty()) << "a drive's write was started";
    EXPECT_TRUE(watch.box.seen) << "the program ended without a message";
    EXPECT_EQ(watch.box.text, message);
    EXPECT_EQ(watch.box.title, ProgramTitle);
    EXPECT_TRUE(watch.box.icon);
    for (int target : {FaultedTarget, LaterTarget}) {
        SCOPED_TRACE("target " + std::to_string(target));
        EXPECT_TRUE(world.WriteRequests(target).empty()) << "the drive was sent a write command";
        EXPECT_EQ(world.Flash(target), std::vector<BYTE>(0x40000, 0)) << "the flash changed";
    }
}

void ExpectFaultOutcome(const TUpdateWorld &world, const FaultCase &c,
                        const std::vector<BYTE> &image, DWORD limitMs) {
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    SetTicks(mainWindow, {FaultedTarget, LaterTarget});
    std::vector<std::string> recordAtBox;
    RunWatch watch = WatchUpdate(program, mainWindow, limitMs, nullptr, 15000,
                                 [&] { recordAtBox = ReadRecordLines(world.WorkFolder()); });
    if (c.step == BeforeTheErase) {
        ExpectRefusedBeforeTheErase(world, watch, c.message);
        return;
    }
    EXPECT_EQ(world.Showings().size(), 1u) << "the drive ticked after the failed one was started";
    ExpectRunEndedAt(world, watch, FaultedTarget, c.step, c.message);
    EXPECT_EQ(CheckWriteSequence(world.WriteRequests(FaultedTarget), FaultedTarget, image,
                                 c.step + 1, c.step),
              "");
    EXPECT_TRUE(world.WriteRequests(LaterTarget).empty()) << "the later drive was written";
    EXPECT_EQ(world.Flash(LaterTarget), std::vector<BYTE>(0x40000, 0))
        << "the later drive's flash changed";
    if (c.rawStatus)
        ExpectFaultRecord(world, c, recordAtBox);
}
