// What the person at the screen sees of an update when a request reaches the drive: the
// progress window of this process that is shown, read at submission so that the trace shows
// which window, label and bar position each command was sent under.
#ifndef M770B_SIM_ASPI_PROGRESSPROBE_H
#define M770B_SIM_ASPI_PROGRESSPROBE_H

#include <string>

struct ProgressView {
    int bar = -1;      // the bar's position; -1 when no progress window is shown
    std::string title; // the window's title
    std::string label; // the text of its first label (Static control)
    int windows = 0; // the visible top-level windows of this process, the progress window included
};

// The first visible top-level window of this process that holds a progress bar
// (msctls_progress32), as read now.
ProgressView VisibleProgress();

#endif
