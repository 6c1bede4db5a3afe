// Drives M770BUpdate.exe as a user would: starts it in its working folder with the virtual
// drive beside it, finds its windows by class, reads their texts, styles and the progress bar,
// presses buttons, answers its message boxes and reads its exit code.
#ifndef M770B_TESTS_E2E_UPDATE_PROGRAMDRIVER_H
#define M770B_TESTS_E2E_UPDATE_PROGRAMDRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/update/UpdateWorld.h"

constexpr DWORD NoExitYet = 0xFFFFFFFF;

class TProgram {
  public:
    // Starts the program of `world` in its working folder (or in `workFolder`).
    explicit TProgram(const TUpdateWorld &world, const std::string &workFolder = "");
    // Ends a program still running (a failed test must not leave it behind).
    ~TProgram();
    TProgram(const TProgram &) = delete;
    TProgram &operator=(const TProgram &) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD ProcessId() const { return processId_; }
    DWORD UiThreadId(HWND window) const;
    bool Running() const;
    // The exit code once the process has ended within `ms`, else NoExitYet.
    DWORD WaitForExit(DWORD ms) const;

    // The visible top-level windows of the program, optionally of one class.
    std::vector<HWND> Windows(const char *className = nullptr) const;
    // Waits until a visible window of that class exists; null when none came within `ms` or the
    // program ended.
    HWND WaitForWindow(const char *className, DWORD ms) const;

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// Window classes of the program.
extern const char MainFormClass[];  // "TMainForm"
extern const char WriteFormClass[]; // "TWriteForm"
extern const char DialogClass[];    // "#32770", the message boxes

std::string WindowText(HWND window);
std::string ClassOf(HWND window);
std::vector<HWND> ChildWindows(HWND parent, const char *className = nullptr);
HWND ChildWithText(HWND parent, const std::string &text);
// A message box: its text, its title, and pressing its OK button.
std::string MessageBoxText(HWND box);
bool MessageBoxHasIcon(HWND box);
void PressOk(HWND box);
// Posts a click (the program handles it later; a sent click would wait for the whole update).
void Click(HWND button);
bool IsChecked(HWND box);
int ProgressPosition(HWND bar);
// Repeats `probe` every millisecond until it holds or `ms` have passed.
bool WaitUntil(const std::function<bool()> &probe, DWORD ms);

#endif
