// The whole update as a user sees it, over the virtual loader drive: ticked drives written in
// order under the progress window, the success message, what each drive received.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tests/e2e/robot/RecordLines.h"
#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

namespace {

const char ProgramTitle[] = "ZD-M770B Firmware update";
const char ApplicationTitle[] = "M770BUpdate";

void ExpectWholeDriveWritten(const TUpdateWorld &world, int target,
                             const std::vector<BYTE> &image) {
    SCOPED_TRACE("target " + std::to_string(target));
    EXPECT_EQ(CheckWriteSequence(world.WriteRequests(target), target, image), "");
    EXPECT_TRUE(world.Flash(target) == image) << "the flash differs from Firmware.bin";
}

void ExpectSuccess(const RunWatch &watch) {
    EXPECT_TRUE(watch.box.seen);
    EXPECT_EQ(watch.box.text, SuccessMessage);
    EXPECT_EQ(watch.box.title, ProgramTitle);
    EXPECT_TRUE(watch.box.icon);
    EXPECT_FALSE(watch.box.progressVisible) << "the progress window closed by itself";
    EXPECT_EQ(watch.box.barPosition, 100) << "the last drive's bar did not reach 100";
    EXPECT_EQ(watch.exitCode, 0u);
}

// Two drives ticked (targets 1 and 5) and one left unticked (target 3); the captions are 34
// and 33 characters long. The unticked drive's identity carries a quote and a line end, which
// the record escapes rather than end a line with.
TEST(UpdateRun, TicksDrivesAreWrittenInOrderUnderTheProgressWindow) {
    TUpdateWorld world("two-drives");
    world.AddLoader({1, "VANDREL ZD-M770B LOADER 1.10", 150, 120, 120});
    world.AddLoader({3, "VANDREL ZD-M770B\\\"\\x0D\\nRun ended", 150, 120, 120});
    world.AddLoader({5, "VANDREL ZD-M770B LOADER 1.2", 150, 120, 120});
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(7, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_EQ(WindowTextOf(mainWindow), "ZD-M770B Firmware update 2.00");
    SetTicks(mainWindow, {1, 5});
    // While a drive is written, the record's last drive line is already that drive's; while
    // the success box stands, the record is already whole.
    std::vector<std::string> lastDriveLines, recordAtBox;
    auto lastDriveLine = [&](HWND) {
        std::string last = "(no drive line)";
        for (const std::string &line : ReadRecordLines(world.WorkFolder()))
            if (line.compare(0, 6, "Drive ") == 0)
                last = line.substr(0, line.find(": "));
        lastDriveLines.push_back(last);
    };
    RunWatch watch = WatchUpdate(program, mainWindow, 120000, lastDriveLine, 15000,
                                 [&] { recordAtBox = ReadRecordLines(world.WorkFolder()); });

    ASSERT_EQ(watch.showings.size(), 2u);
    EXPECT_EQ(watch.showings[0].label, "(0,1) VANDREL ZD-M770B LOADER Updating... (1.10 >> 2.00)");
    EXPECT_EQ(watch.showings[1].label, "(0,5) VANDREL ZD-M770B LOADER Updating... (1.2 >> 2.00)");
    for (const ProgressShowing &showing : watch.showings) {
        SCOPED_TRACE(showing.label);
        EXPECT_EQ(showing.title, "ZD-M770B Firmware update 2.00");
        EXPECT_TRUE(IsOrderedPartOfBarRun(showing.positions)) << Describe(showing.positions);
        EXPECT_FALSE(showing.mainWindowVisible);
        // A title bar without system menu, close box or sizing frame; above all other windows.
        EXPECT_EQ(showing.style & WS_CAPTION, WS_CAPTION);
        EXPECT_FALSE(showing.style &
                     (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        EXPECT_TRUE(showing.exStyle & WS_EX_TOPMOST);
        EXPECT_EQ(showing.client.right, 329);
        EXPECT_EQ(showing.client.bottom, 81);
    }
    ExpectSuccess(watch);
    ExpectWholeDriveWritten(world, 1, image);
    ExpectWholeDriveWritten(world, 5, image);
    EXPECT_TRUE(world.WriteRequests(3).empty()) << "an unticked drive was written";
    EXPECT_EQ(world.Flash(3), std::vector<BYTE>(0x40000, 0)) << "an unticked drive changed";
    // Drive 1 was finished before drive 5 was started.
    EXPECT_LT(world.WriteRequests(1).back().Number("seq"),
              world.WriteRequests(5).front().Number("seq"));

    const std::string drive1 = InQuotes("(0,1) VANDREL ZD-M770B LOADER 1.10");
    const std::string drive5 = InQuotes("(0,5) VANDREL ZD-M770B LOADER 1.2");
    EXPECT_EQ(lastDriveLines, (std::vector<std::string>{"Drive " + drive1, "Drive " + drive5}));
    std::vector<std::string> record = ReadRecordLines(world.WorkFolder());
    EXPECT_EQ(recordAtBox, record) << "the record changed after the success box was shown";
    ASSERT_FALSE(record.empty());
    EXPECT_TRUE(IsRecordStartLine(record[0])) << record[0];
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%02X %02X", image[0x3FFFE], image[0x3FFFF]);
    // The SHA-256 of MakeSampleFirmware(7, "2.00") as sha256sum gives it.
    const char imageHash[] = "99cc0485eab6a365ce5e3b03b80767e45bdef5431650e2a2b32b78e74c5a53e9";
    std::vector<std::string> expected = {
        "wnaspi32.dll bound: " + world.BinFolder() + "\\wnaspi32.dll, no version resource",
        "ASPI host adapters: 1 (GetASPI32SupportInfo status 0x01)",
        "Loader found: " + drive1,
        "Loader found: \"(0,3) VANDREL ZD-M770B\\\"\\x0D\\x0ARun ended\"",
        "Loader found: " + drive5,
        "Firmware.bin: " + world.WorkFolder() +
            "\\Firmware.bin, 262144 bytes, revision \"2.00\", checksum bytes " + checksum +
            ", SHA-256 " + imageHash,
        "UPDATE pressed with 2 drives ticked",
    };
    for (const std::string &drive : {drive1, drive5}) {
        for (const std::string &line : DriveStartLines(drive, ChecksumStep))
            expected.push_back(line);
        expected.push_back("Drive " + drive + ": verified (checksum matched)");
    }
    expected.push_back("Information box: " + InQuotes(SuccessMessage));
    expected.push_back("Run ended: every ticked drive verified: " + drive1 + ", " + drive5);
    EXPECT_EQ(std::vector<std::string>(record.begin() + 1, record.end()), expected);
}

// Captions of 30 characters and fewer leave the drive's revision empty; one of 28 characters is
// the head in full.
TEST(UpdateRun, ShortCaptionsGiveAnEmptyDriveRevision) {
    TUpdateWorld world("short-captions");
    world.AddLoader({2, "VANDREL ZD-M770B LOADER"});  // 29 characters with the prefix
    world.AddLoader({4, "VANDREL ZD-M770B LOADERS"}); // 30
    world.AddLoader({6, "VANDREL M770B"});            // 19
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(8, "105");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    RunWatch watch = WatchUpdate(program, mainWindow);
    ASSERT_EQ(watch.showings.size(), 3u);
    EXPECT_EQ(watch.showings[0].label, "(0,2) VANDREL ZD-M770B LOADER Updating... ( >> 105)");
    EXPECT_EQ(watch.showings[1].label, "(0,4) VANDREL ZD-M770B LOADER Updating... ( >> 105)");
    EXPECT_EQ(watch.showings[2].label, "(0,6) VANDREL M770B Updating... ( >> 105)");
    EXPECT_EQ(watch.showings[2].title, "ZD-M770B Firmware update 105");
    ExpectSuccess(watch);
    for (int target : {2, 4, 6})
        ExpectWholeDriveWritten(world, target, image);
}

TEST(UpdateRun, WithoutATickedBoxUpdateAsksForADriveAndTheWindowStaysUsable) {
    TUpdateWorld world("no-box-ticked");
    world.AddLoader({0});
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(9, "2.01");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    SetTicks(mainWindow, {});
    for (int press = 0; press < 2; ++press) {
        SCOPED_TRACE("press " + std::to_string(press + 1));
        RunWatch asked = WatchUpdate(program, mainWindow, 10000, nullptr, 500);
        EXPECT_EQ(asked.box.text, "Select CD-R drive and click UPDATE.");
        EXPECT_EQ(asked.box.title, ApplicationTitle);
        EXPECT_FALSE(asked.box.icon);
        EXPECT_TRUE(asked.showings.empty());
        EXPECT_EQ(asked.exitCode, TProgramRun::NotEnded);
        ASSERT_TRUE(WaitUntil(
            [&] { return program.Find(TWindowQuery::OfClass(DialogClass)).empty(); }, 5000));
        EXPECT_TRUE(IsWindowVisible(mainWindow));
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
    }
    EXPECT_TRUE(world.WriteRequests(0).empty());
    SetTicks(mainWindow, {0});
    RunWatch watch = WatchUpdate(program, mainWindow);
    EXPECT_EQ(watch.showings.size(), 1u);
    ExpectSuccess(watch);
    ExpectWholeDriveWritten(world, 0, image);
}

// The sequence number of the first request of `opcode` to `target`, once the trace shows it (0
// when it does not within 30 s).
uint64_t WaitForRequest(const TUpdateWorld &world, int target, BYTE opcode) {
    for (int i = 0; i < 3000; ++i) {
        for (const TraceRecord &request : world.WriteRequests(target))
            if (request.Bytes("cdb").at(0) == opcode)
                return request.Number("seq");
        Sleep(10);
    }
    return 0;
}

bool Completed(const TUpdateWorld &world, uint64_t seq) {
    for (const TraceRecord &record : world.Trace())
        if (record.kind == "done" && record.Number("seq") == seq)
            return true;
    return false;
}

// While a worker writes, nothing closes the progress window: the close command, Alt+F4, the
// system menu's close, the application told to quit, and the end of the Windows session. The
// session-end query is answered even in the middle of a command: the second drive's erase takes
// 10 s, the query goes once the trace shows it submitted, and the erase is still unanswered when
// the reply comes.
TEST(UpdateRun, CloseRequestsDuringTheWriteAreRefused) {
    TUpdateWorld world("close-refused");
    world.AddLoader({1, "VANDREL ZD-M770B LOADER 1.10", 150, 120, 120});
    world.AddLoader({2, "VANDREL ZD-M770B LOADER 1.10", 10000, 120, 120});
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(10, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    std::vector<LRESULT> endSessionAnswers;
    uint64_t longErase = 0;
    bool eraseAnsweredFirst = true;
    RunWatch watch = WatchUpdate(program, mainWindow, 120000, [&](HWND progress) {
        if (endSessionAnswers.size() == 1)
            longErase = WaitForRequest(world, 2, 0xE1);
        PostMessageA(progress, WM_CLOSE, 0, 0);
        PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(progress, WM_SYSKEYDOWN, VK_F4, 1 << 29);
        PostThreadMessageA(GetWindowThreadProcessId(progress, nullptr), WM_QUIT, 0, 0);
        DWORD_PTR answer = 1;
        const DWORD sent = GetTickCount();
        if (!SendMessageTimeoutA(progress, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &answer))
            answer = 2; // no reply at all
        if (longErase) {
            eraseAnsweredFirst = Completed(world, longErase);
            std::cout << "the session-end query during the 10 s erase was answered after "
                      << GetTickCount() - sent << " ms\n";
        }
        endSessionAnswers.push_back(static_cast<LRESULT>(answer));
    });
    ASSERT_EQ(watch.showings.size(), 2u);
    for (const ProgressShowing &showing : watch.showings)
        EXPECT_TRUE(IsOrderedPartOfBarRun(showing.positions)) << Describe(showing.positions);
    EXPECT_EQ(endSessionAnswers, (std::vector<LRESULT>{FALSE, FALSE}));
    EXPECT_NE(longErase, 0u) << "the second drive's erase never reached the drive";
    EXPECT_FALSE(eraseAnsweredFirst) << "the query was answered only after the erase";
    ExpectSuccess(watch);
    ExpectWholeDriveWritten(world, 1, image);
    ExpectWholeDriveWritten(world, 2, image);
}

} // namespace
