// Drives one update for scripts/run on a display no one looks at: starts M770BUpdate.exe in the
// working folder given, presses UPDATE, waits for the message that ends the run, saves
// screenshots there, presses OK and prints what the program showed and how it ended.
// usage: run_driver PROGRAM.exe WORK_FOLDER
#include <cstdio>
#include <string>

#include "tests/e2e/robot/Robot.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: run_driver PROGRAM.exe WORK_FOLDER\n");
        return 2;
    }
    TLaunch launch;
    launch.program = WindowsPath(argv[1]);
    launch.workFolder = WindowsPath(argv[2]);
    launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
    TProgramRun run;
    if (!run.Start(launch)) {
        std::printf("could not start the program: %s\n", run.Error().c_str());
        return 1;
    }
    auto shot = [&](HWND window, const char *name) {
        std::string path = JoinPath(launch.workFolder, name);
        std::printf("screenshot: %s\n", SaveScreenshot(window, path) ? name : "(failed)");
    };
    HWND first = run.WaitForWindow(TWindowQuery(), 20000);
    if (first && ClassNameOf(first) == "TMainForm") {
        Sleep(300);
        shot(first, "1-main-window.bmp");
        HWND update = ControlWithText(first, "UPDATE");
        std::printf("pressing UPDATE\n");
        PressButton(update);
    }
    HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), 180000);
    int rc = 1;
    if (box) {
        Sleep(300);
        shot(box, "2-message.bmp");
        TMessageBoxInfo info = ReadMessageBox(box);
        std::printf("message box \"%s\" (%s icon): %s\n", info.title.c_str(),
                    BoxIconName(info.icon), info.text.c_str());
        rc = info.text.rfind("Firmware update successful.", 0) == 0 ? 0 : 1;
        PressButton(info.okButton);
    } else {
        std::printf("no message box appeared\n");
    }
    DWORD code = run.WaitForExit(20000);
    if (code == TProgramRun::NotEnded) {
        std::printf("the program did not end; it was stopped\n");
    } else {
        std::printf("the program ended with exit code %lu\n", static_cast<unsigned long>(code));
    }
    if (rc != 0) {
        std::printf("the program ended without the success message\n");
    }
    return rc;
}
