// The message handling of the user-interface thread, shared by the application's loop (Run) and
// a form's modal loop (ShowModal), so that a message is handled alike whichever loop took it.
//
// Windows registered as dialog windows (every form registers its own) take the keyboard
// navigation of a dialog: Tab and the arrow keys move the focus, Enter and Escape become IDOK and
// IDCANCEL commands.
#ifndef M770B_UI_MESSAGELOOP_H
#define M770B_UI_MESSAGELOOP_H

#include <windows.h>

void AddDialogWindow(HWND window);
void RemoveDialogWindow(HWND window);
bool IsDialogWindow(HWND window);

// Handles one message already taken from the queue: keyboard navigation for the dialog window it
// belongs to, otherwise translation and dispatch.
void DispatchMessageOf(MSG &message);

// Takes and handles messages until WM_QUIT arrives.
void RunMessageLoop();

#endif
