// Starting the worker of one drive, and the end of the program when a worker cannot start or
// cannot go on (a step could not be handed to the user-interface thread). Without it the
// progress window would stay on the screen for ever with nothing behind it.
#ifndef M770B_UPDATE_WORKERSTART_H
#define M770B_UPDATE_WORKERSTART_H

#include "ui/Thread.h"

// Makes the worker of the drive being written, suspended; throws when it cannot. A test may put
// a maker of its own here.
extern TThread *(*NewDriveWorker)();

// Inside a catch block, on either thread: releases a hold on the session, hides the progress
// window (it is top-most and would cover the box), shows the exception in the toolkit's exception
// box and ends the process.
// Nothing is sent to a drive after it.
[[noreturn]] void EndWithWorkerFailure();

#endif
