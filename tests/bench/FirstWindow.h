// A program's start as a person sees it: from CreateProcess to its first visible window, and the
// peak working set it reached by then (read once the window has had a moment to paint).
#ifndef M770B_TESTS_BENCH_FIRSTWINDOW_H
#define M770B_TESTS_BENCH_FIRSTWINDOW_H

#include <windows.h>

#include <string>

struct TFirstWindow {
    bool shown = false;
    double seconds = 0;
    SIZE_T peakWorkingSet = 0;
};

// Starts `program` in `folder`, waits up to 30 s for its first visible top-level window, measures,
// and ends the process.
TFirstWindow MeasureFirstWindow(const std::string &program, const std::string &folder);

#endif
