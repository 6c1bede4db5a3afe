// The program's entry: make sure no other copy runs, bind ASPI before any window exists, build
// the windows, run the message loop, release ASPI. Every other way out of the program goes
// through EndProcess. The run's record is opened once this copy is the only one, and told the
// start.
#include <windows.h>

#include "app/MainUnit.h"
#include "app/SingleCopy.h"
#include "app/StartRecord.h"
#include "outcome/ProcessEnd.h"
#include "record/RunRecord.h"
#include "scsi/AspiBinding.h"
#include "ui/Application.h"
#include "ui/SystemCall.h"
#include "update/WriteUnit.h"

namespace {

// The start-up steps, in the order WinMain takes them.

// Every drive command holds the interface thread (up to 60 s), and Windows would replace a window
// that takes no messages for about 5 s with a "Not Responding" ghost whose close offers to end
// the program half-way through a write. DisableProcessWindowsGhosting (documented from Windows
// XP) is looked up at run time, so that a system without it still starts the program.
void DisableWindowGhosting() {
    using DisableGhostingCall = void(WINAPI *)();
    auto disable = FindSystemCall<DisableGhostingCall>(GetModuleHandleA("user32.dll"),
                                                       "DisableProcessWindowsGhosting");
    if (disable)
        disable();
}

// Initialises the application object (toolkit). An exception that escapes a window procedure
// while the main window is hidden (the update run) ends the process after its box, as every
// other failure of the run does.
void InitialiseApplication() {
    Application.Initialize();
    Application.EndAfterException = EndProcess;
}

// Tells the application object not to show the main window when the message loop starts: the
// main window shows itself at the end of its creation handler, once discovery and the firmware
// image are done.
void KeepMainWindowHidden() {
    Application.ShowMainForm = false;
}

// Creates MainForm, the first window and so the application's main window. Its creation
// handler finds the loader drives and loads the firmware image.
void CreateMainForm() {
    Application.CreateForm(MainForm);
}

// Creates WriteForm, the progress window, hidden until an update runs.
void CreateWriteForm() {
    Application.CreateForm(WriteForm);
}

// Runs the message loop until the main window is closed.
void RunMessageLoop() {
    Application.Run();
    RecordLine("Main window closed");
}

// Shows the exception that start-up or the message loop let through in the toolkit's exception
// box (its message, the application title); called inside the catch, so that any exception,
// not only a std::exception, still ends with ASPI released and exit code 0.
void ShowEscapedException() {
    Application.ShowCurrentException();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    DisableWindowGhosting();
    // Before ASPI is bound: a second copy must not even load the manager, whose loading and
    // first question (how many host adapters) may already scan the SCSI buses. Nor may it write
    // into the record, which belongs to the copy that runs: read from its end after a power cut,
    // a second copy's start and its "Run ended before any drive was written" among the running
    // copy's lines would tell the technician that nothing was written.
    if (!ClaimOnlyCopy())
        return 0;
    OpenRunRecord();
    RecordProgramStart();
    LoadAspi();
    RecordAspiLibrary();
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
    RecordEnd();
    return 0;
}
