// What a user sees of one program run, from the main window to the end of the process: the
// main window, every showing of the progress window (title, label, styles, the bar positions in
// the order they appeared) and the message box that ended the run.
#ifndef M770B_TESTS_E2E_UPDATE_UPDATEWATCH_H
#define M770B_TESTS_E2E_UPDATE_UPDATEWATCH_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWorld.h"

struct ProgressShowing {
    std::string title;
    std::string label;
    LONG style = 0, exStyle = 0;
    RECT client = {};
    std::vector<int> positions; // each new position the bar showed, in order
    bool mainWindowVisible = false;
};

struct SeenBox {
    bool seen = false;
    std::string title, text;
    bool icon = false;
    bool progressVisible = false; // the progress window was still shown under it
    int barPosition = -1;         // the bar's position while the box was up
};

// The message after the last drive, as the user reads it.
extern const char SuccessMessage[];

struct RunWatch {
    std::vector<ProgressShowing> showings;
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

// Presses UPDATE and watches until a message box appears (which is answered with OK) or the
// program ends; then waits for its exit code. `during` runs once at the first bar position
// above 0 of each showing (to poke the window while the worker runs), `atBox` once the box has
// been read, before it is answered.
RunWatch WatchUpdate(const TProgramRun &program, HWND mainWindow, DWORD limitMs = 120000,
                     const std::function<void(HWND progress)> &during = nullptr,
                     DWORD exitWaitMs = 15000, const std::function<void()> &atBox = nullptr);
// Watches a program that should end at start-up with a message box (or a window of
// `otherClass`); answers the box.
RunWatch WatchStartUpEnd(const TProgramRun &program, DWORD limitMs = 30000);

std::string Describe(const std::vector<int> &positions);
// A query from another process is answered only when the interface thread takes messages, and
// each step of the write holds that thread, so the robot sees only some of the positions (the
// trace has the bar at every command). True when `positions` are some of 0, 10 .. 90, 95, 100,
// in that order.
bool IsOrderedPartOfBarRun(const std::vector<int> &positions);

#endif
