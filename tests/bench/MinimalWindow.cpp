// The smallest Win32 program that shows a window: one message box and nothing else. The update
// benchmark starts it in the same Wine session as M770BUpdate.exe, so that the program's start-up
// time and working set can be read against what any window costs there.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, "A window and nothing else.", "MinimalWindow", MB_OK);
    return 0;
}
