// The top-level windows of one process, as a person at the screen meets them: for the test-side
// components that look for a program's windows (the virtual drive's progress probe, the robot,
// the unit tests that answer their own message boxes, the start-up benchmark). The program
// keeps a search of its own for the first copy's window.
#ifndef M770B_TESTS_SUPPORT_PROCESSWINDOWS_H
#define M770B_TESTS_SUPPORT_PROCESSWINDOWS_H

#include <windows.h>

#include <vector>

// The top-level windows of the desktop that belong to process `processId`, in Z order (the one
// in front first), the visible ones only unless `visibleOnly` is false. Empty when it has none.
std::vector<HWND> ProcessTopLevelWindows(DWORD processId, bool visibleOnly = true);

#endif
