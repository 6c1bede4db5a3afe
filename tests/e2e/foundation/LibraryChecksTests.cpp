// The program's library checks as a person meets them: without a usable wnaspi32.dll the only
// window is one error box, and OK ends the program with exit code 0.
#include <gtest/gtest.h>

#include "tests/e2e/robot/Robot.h"

namespace {

const char Title[] = "ZD-M770B Firmware update";
constexpr DWORD WindowWait = 15000, ExitWait = 15000;

struct TLibraryCase {
    const char *name;
    const char *fixture;   // wnaspi32.dll put beside the program, or null for none
    const char *overrides; // WINEDLLOVERRIDES
    const char *message;
};

// Starts the program as `launch` says and expects exactly one window, the error box with
// `message`; presses OK and expects exit code 0.
void ExpectOnlyErrorBox(const TLaunch &launch, const std::string &message) {
    TProgramRun run;
    ASSERT_TRUE(run.Start(launch)) << run.Error();
    HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), WindowWait);
    ASSERT_NE(nullptr, box) << "no message box; program still running: " << run.Running();
    // Let any other window the program would wrongly open appear before counting.
    Sleep(300);
    std::vector<HWND> windows = run.TopLevelWindows();
    EXPECT_EQ(1u, windows.size()) << "visible windows besides the box";
    TMessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(Title, info.title);
    EXPECT_EQ(message, info.text);
    EXPECT_EQ(TBoxIcon::Error, info.icon) << BoxIconName(info.icon);
    EXPECT_TRUE(info.topMost);
    EXPECT_EQ(std::vector<std::string>{"OK"}, info.buttons);
    ASSERT_NE(nullptr, info.okButton);
    PressButton(info.okButton);
    EXPECT_EQ(0u, run.WaitForExit(ExitWait));
}

TEST(LibraryChecks, EachMissingPieceIsTheOnlyWindowAndOkEndsWithZero) {
    const TLibraryCase cases[] = {
        {"no_library", nullptr, "wnaspi32=d", "wnaspi32.dll not found"},
        {"no_library_native_only", nullptr, "wnaspi32=n", "wnaspi32.dll not found"},
        {"no_support_info", "no_support_info", "wnaspi32=n", "GetASPI32SupportInfo not found"},
        {"no_send_command", "no_send_command", "wnaspi32=n", "SendASPI32Command not found"},
    };
    for (const TLibraryCase &row : cases) {
        SCOPED_TRACE(row.name);
        std::string folder = NewCaseFolder(std::string("library_") + row.name);
        std::string programFolder = JoinPath(folder, "program");
        std::string workFolder = JoinPath(folder, "work");
        ASSERT_TRUE(MakeFolders(programFolder) && MakeFolders(workFolder));
        ASSERT_TRUE(CopyFileTo(JoinPath(StagedProgramFolder(), "M770BUpdate.exe"), programFolder));
        if (row.fixture) {
            ASSERT_TRUE(CopyFileTo(FixtureDll(row.fixture), programFolder));
        }
        TLaunch launch = ProgramLaunch(workFolder, programFolder);
        launch.Set("WINEDLLOVERRIDES", row.overrides);
        ExpectOnlyErrorBox(launch, row.message);
    }
}

// A wnaspi32.dll planted in the working directory (where Firmware.bin is kept) must not be
// loaded: the marker DLL would leave a file there when loaded, and it has both entry points, so
// only "wnaspi32.dll not found" shows it was not.
TEST(LibraryChecks, LibraryOnlyInTheWorkingDirectoryIsNotLoaded) {
    std::string folder = NewCaseFolder("library_in_working_directory");
    std::string programFolder = JoinPath(folder, "program");
    std::string workFolder = JoinPath(folder, "work");
    ASSERT_TRUE(MakeFolders(programFolder) && MakeFolders(workFolder));
    ASSERT_TRUE(CopyFileTo(JoinPath(StagedProgramFolder(), "M770BUpdate.exe"), programFolder));
    ASSERT_TRUE(CopyFileTo(FixtureDll("load_marker"), workFolder));
    TLaunch launch = ProgramLaunch(workFolder, programFolder);
    launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
    ExpectOnlyErrorBox(launch, "wnaspi32.dll not found");
    std::string marker;
    EXPECT_FALSE(ReadWholeFile(JoinPath(workFolder, "wnaspi32-loaded.txt"), &marker))
        << "the working directory's wnaspi32.dll was loaded";
}

// The marker DLL beside the program is loaded: without this, the case above could pass because
// the marker never works.
TEST(LibraryChecks, MarkerLibraryBesideTheProgramIsLoaded) {
    std::string folder = NewCaseFolder("library_marker_beside_program");
    std::string programFolder = JoinPath(folder, "program");
    std::string workFolder = JoinPath(folder, "work");
    ASSERT_TRUE(MakeFolders(programFolder) && MakeFolders(workFolder));
    ASSERT_TRUE(CopyFileTo(JoinPath(StagedProgramFolder(), "M770BUpdate.exe"), programFolder));
    ASSERT_TRUE(CopyFileTo(FixtureDll("load_marker"), programFolder));
    TLaunch launch = ProgramLaunch(workFolder, programFolder);
    launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
    TProgramRun run;
    ASSERT_TRUE(run.Start(launch)) << run.Error();
    std::string marker;
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadWholeFile(JoinPath(workFolder, "wnaspi32-loaded.txt"), &marker); },
        WindowWait));
    // The marker reports no adapter; the program says so in a box of its own, then ends.
    HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), WindowWait);
    if (box) {
        PressButton(ReadMessageBox(box).okButton);
    }
    run.WaitForExit(ExitWait);
}

} // namespace
