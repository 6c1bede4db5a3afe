// The program's entry: make sure no other copy runs, bind ASPI before any window exists, build
// the windows, run the message loop, release ASPI. Every other way out of the program goes
// through EndProcess.
#include <windows.h>

#include "app/MainUnit.h"
#include "app/SingleCopy.h"
#include "scsi/AspiBinding.h"
#include "ui/Application.h"
#include "update/WriteUnit.h"

namespace {

// The start-up steps, in the order WinMain takes them.

// Initialises the application object (toolkit).
void InitialiseApplication() { Application.Initialize(); }

// Tells the application object not to show the main window when the message loop starts: the
// main window shows itself at the end of its creation handler, once discovery and the firmware
// image are done.
void KeepMainWindowHidden() { Application.ShowMainForm = false; }

// Creates MainForm, the first window and so the application's main window. Its creation
// handler finds the loader drives and loads the firmware image.
void CreateMainForm() { Application.CreateForm(MainForm); }

// Creates WriteForm, the progress window, hidden until an update runs.
void CreateWriteForm() { Application.CreateForm(WriteForm); }

// Runs the message loop until the main window is closed.
void RunMessageLoop() { Application.Run(); }

// Shows the exception that start-up or the message loop let through in the toolkit's exception
// box (its message, the application title); called inside the catch, so that any exception,
// not only a std::exception, still ends with ASPI released and exit code 0.
void ShowEscapedException() { Application.ShowCurrentException(); }

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before ASPI is bound: a second copy must not even load the manager, whose loading and
    // first question (how many host adapters) may already scan the SCSI buses.
    if (!ClaimOnlyCopy())
        return 0;
    LoadAspi();
    try {
        InitialiseApplication();
        KeepMainWindowHidden();
        CreateMainForm();
        CreateWriteForm();
        RunMessageLoop();
    } catch (...) {
        ShowEscapedException();
    }
    UnloadAspi();
    return 0;
}
