// What a user sees of one program run, from the main window to the end of the process: the
// message box that ended the run, read while it waits for OK, and the exit code. What the
// progress window showed at each command (its title, its label, the bar) is in the virtual
// drive's trace, which cannot miss a showing however short it was (TUpdateWorld::Showings).
#ifndef M770B_TESTS_E2E_UPDATE_UPDATEWATCH_H
#define M770B_TESTS_E2E_UPDATE_UPDATEWATCH_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWorld.h"

struct SeenBox {
    bool seen = false;
    std::string title, text;
    bool icon = false;
    // The progress window while the box was up: shown under it or not, its bar, its styles and
    // client area (the window lives, hidden, from start-up to the end).
    bool progressVisible = false;
    int barPosition = -1;
    LONG progressStyle = 0, progressExStyle = 0;
    RECT progressClient = {};
};

// The message after the last drive, as the user reads it.
extern const char SuccessMessage[];

struct RunWatch {
    SeenBox box;
    DWORD exitCode = TProgramRun::NotEnded;
};

// The main window of a started program, once it is visible (null if it never came).
HWND WaitForMainWindow(const TProgramRun &program, DWORD ms = 30000);
// The same for a visible top-level window of `className`, once its thread answers a message.
HWND WaitForAnsweringWindow(const TProgramRun &program, const std::string &className,
                            DWORD ms = 30000);
// Ticks exactly the boxes of `targets` among the visible tick boxes of the main window.
void SetTicks(HWND mainWindow, const std::vector<int> &targets);
HWND UpdateButton(HWND mainWindow);
// The program's progress window, shown or hidden (it lives from start-up to the end); null when
// it has none (yet).
HWND ProgressWindowOf(const TProgramRun &program);

// Presses UPDATE and waits until a message box appears (which is read and answered with OK) or
// the program ends; then waits for its exit code. `eachRound` runs while it waits (to let held
// requests go: TUpdateWorld::ReleaseHeld), `atBox` once the box has been read, before it is
// answered.
RunWatch WatchUpdate(const TProgramRun &program, HWND mainWindow, DWORD limitMs = 120000,
                     const std::function<void()> &eachRound = nullptr, DWORD exitWaitMs = 15000,
                     const std::function<void()> &atBox = nullptr);
// Watches a program that should end at start-up with a message box; answers the box.
RunWatch WatchStartUpEnd(const TProgramRun &program, DWORD limitMs = 30000);

std::string Describe(const std::vector<int> &positions);

#endif
