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

// The record's last line about a drive; "" when there is none.
std::string LastDriveLine(const std::vector<std::string> &record) {
    for (auto line = record.rbegin(); line != record.rend(); ++line)
        if (line->rfind("Drive ", 0) == 0)
            return *line;
    return "";
}

// Two drives ticked (targets 1 and 5) and one left unticked (target 3); the captions are 34
// and 33 characters long. The unticked drive's identity carries a quote and a line end, which
// the record escapes rather than end a line with.
TEST(UpdateRun, TicksDrivesAreWrittenInOrderUnderTheProgressWindow) {
    TUpdateWorld world("two-drives");
    world.AddLoader({1, "VANDREL ZD-M770B LOADER 1.10", 150, 120, 120});
    world.AddLoader({3, "VANDREL ZD-M770B\\\"\\x0D\\nRun ended", 150, 120, 120});
    world.AddLoader({5, "VANDREL ZD-M770B LOADER 1.2", 150, 120, 120});
    world.HoldStep(1, 3);
    world.HoldStep(5, 3);
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(7, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_EQ(WindowTextOf(mainWindow), "ZD-M770B Firmware update 2.00");
    SetTicks(mainWindow, {1, 5});
    // While a drive's third chunk is held at the drive, the record's last drive line is already
    // that step's; while the success box stands, the record is already whole.
    std::vector<std::string> linesDuringWrites, recordAtBox;
    RunWatch watch = WatchUpdate(
        program, mainWindow, 120000,
        [&] {
            world.ReleaseHeld([&](const TraceRecord &) {
                linesDuringWrites.push_back(LastDriveLine(ReadRecordLines(world.WorkFolder())));
            });
        },
        15000, [&] { recordAtBox = ReadRecordLines(world.WorkFolder()); });

    const std::vector<ProgressShowing> showings = world.Showings();
    ASSERT_EQ(showings.size(), 2u);
    EXPECT_EQ(showings[0].label, "(0,1) VANDREL ZD-M770B LOADER Updating... (1.10 >> 2.00)");
    EXPECT_EQ(showings[1].label, "(0,5) VANDREL ZD-M770B LOADER Updating... (1.2 >> 2.00)");
    for (const ProgressShowing &showing : showings) {
        SCOPED_TRACE(showing.label);
        EXPECT_EQ(showing.title, "ZD-M770B Firmware update 2.00");
        EXPECT_EQ(showing.mostWindows, 1) << "the main window showed beside the progress window";
    }
    // A title bar without system menu, close box or sizing frame; above all other windows.
    EXPECT_EQ(watch.box.progressStyle & WS_CAPTION, WS_CAPTION);
    EXPECT_FALSE(watch.box.progressStyle &
                 (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(watch.box.progressExStyle & WS_EX_TOPMOST);
    EXPECT_EQ(watch.box.progressClient.right, 329);
    EXPECT_EQ(watch.box.progressClient.bottom, 81);
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
    EXPECT_EQ(linesDuringWrites,
              (std::vector<std::string>{"Drive " + drive1 + ": starting " + RecordStepName(3),
                                        "Drive " + drive5 + ": starting " + RecordStepName(3)}));
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
    const std::vector<ProgressShowing> showings = world.Showings();
    ASSERT_EQ(showings.size(), 3u);
    EXPECT_EQ(showings[0].label, "(0,2) VANDREL ZD-M770B LOADER Updating... ( >> 105)");
    EXPECT_EQ(showings[1].label, "(0,4) VANDREL ZD-M770B LOADER Updating... ( >> 105)");
    EXPECT_EQ(showings[2].label, "(0,6) VANDREL M770B Updating... ( >> 105)");
    EXPECT_EQ(showings[2].title, "ZD-M770B Firmware update 105");
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
        EXPECT_FALSE(asked.box.progressVisible);
        EXPECT_EQ(asked.exitCode, TProgramRun::NotEnded);
        ASSERT_TRUE(WaitUntil(
            [&] { return program.Find(TWindowQuery::OfClass(DialogClass)).empty(); }, 5000));
        EXPECT_TRUE(IsWindowVisible(mainWindow));
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
    }
    EXPECT_TRUE(world.WriteRequests(0).empty());
    SetTicks(mainWindow, {0});
    RunWatch watch = WatchUpdate(program, mainWindow);
    EXPECT_EQ(world.Showings().size(), 1u);
    ExpectSuccess(watch);
    ExpectWholeDriveWritten(world, 0, image);
}

// Another program shows the hidden progress window before UPDATE, so the run cannot show it
// modally: the toolkit's exception box says so, and with the main window hidden for the run
// there is nothing to go on with. After OK the program ends with 0; no drive was touched.
TEST(UpdateRun, AnExceptionInTheRunEndsTheProgramAfterItsBox) {
    TUpdateWorld world("exception-in-run");
    world.AddLoader({1});
    world.Prepare();
    world.WriteSampleImage(11, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    ShowWindow(ProgressWindowOf(program), SW_SHOWNA);
    RunWatch watch = WatchUpdate(program, mainWindow, 30000);
    EXPECT_EQ(watch.box.text, "Cannot make a visible window modal");
    EXPECT_EQ(watch.box.title, ApplicationTitle);
    EXPECT_EQ(watch.exitCode, 0u) << "the program was left running after the box";
    EXPECT_TRUE(world.WriteRequests(1).empty());
}

// While a worker writes, nothing closes the progress window: the close command, Alt+F4, the
// system menu's close, the application told to quit, and the end of the Windows session. Each
// goes while the drive holds a command (the first drive its third chunk, the second its erase):
// the session-end query is answered in the middle of that command, and the posted requests are
// queued ahead of the worker's next step.
TEST(UpdateRun, CloseRequestsDuringTheWriteAreRefused) {
    TUpdateWorld world("close-refused");
    world.AddLoader({1, "VANDREL ZD-M770B LOADER 1.10", 150, 120, 120});
    world.AddLoader({2, "VANDREL ZD-M770B LOADER 1.10", 150, 120, 120});
    world.HoldStep(1, 3);
    world.HoldStep(2, EraseStep);
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(10, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr);
    std::vector<LRESULT> endSessionAnswers;
    RunWatch watch = WatchUpdate(program, mainWindow, 120000, [&] {
        world.ReleaseHeld([&](const TraceRecord &) {
            HWND progress = ProgressWindowOf(program);
            PostMessageA(progress, WM_CLOSE, 0, 0);
            PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageA(progress, WM_SYSKEYDOWN, VK_F4, 1 << 29);
            PostThreadMessageA(GetWindowThreadProcessId(progress, nullptr), WM_QUIT, 0, 0);
            DWORD_PTR answer = 1;
            const DWORD sent = GetTickCount();
            if (!SendMessageTimeoutA(progress, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000,
                                     &answer))
                answer = 2; // no reply at all
            std::cout << "the session-end query during a held command was answered after "
                      << GetTickCount() - sent << " ms\n";
            endSessionAnswers.push_back(static_cast<LRESULT>(answer));
        });
    });
    EXPECT_EQ(world.Showings().size(), 2u);
    EXPECT_EQ(endSessionAnswers, (std::vector<LRESULT>{FALSE, FALSE}));
    ExpectSuccess(watch);
    ExpectWholeDriveWritten(world, 1, image);
    ExpectWholeDriveWritten(world, 2, image);
}

} // namespace
