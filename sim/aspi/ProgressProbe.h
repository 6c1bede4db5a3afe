// What the person at the screen sees of an update when a request reaches the drive: the
// position of the progress bar in this process's visible window, read at submission so that
// the trace shows which bar position each command was sent under.
#ifndef M770B_SIM_ASPI_PROGRESSPROBE_H
#define M770B_SIM_ASPI_PROGRESSPROBE_H

// The position of the first progress bar (msctls_progress32) in a visible top-level window of
// this process; -1 when there is none.
int VisibleProgressPosition();

#endif
