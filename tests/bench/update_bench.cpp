// What a person waits for and what the program costs, over the virtual loader drive: the time
// from start to the main window, a one-drive update against the latencies the drive was given
// (the program's own share of the wait), the processor time the program spent on the update and
// its peak working set; and the start to the first window and the working set of the program
// against those of a program that shows a message box and nothing else (MinimalWindow.cpp).
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/bench/FirstWindow.h"
#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

namespace {

constexpr int Starts = 6, Updates = 3;
// The drive's latencies: what the update cannot go below.
constexpr unsigned EraseMs = 200, ChunkMs = 50, ChecksumMs = 100;
constexpr unsigned DriveMs = EraseMs + 8 * ChunkMs + ChecksumMs;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Kernel and user time of the process so far, in seconds.
double ProcessorSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    auto seconds = [](FILETIME t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// From the first command of the write sequence to the completion of the last, by the drive's
// own clock (the trace).
double CommandSeconds(const TUpdateWorld &world) {
    std::vector<TraceRecord> requests = world.WriteRequests(1);
    if (requests.empty())
        return 0;
    for (const TraceRecord &record : world.Trace())
        if (record.kind == "done" && record.Number("seq") == requests.back().Number("seq"))
            return double(record.Number("t") - requests.front().Number("t")) / 1e3;
    return 0;
}

// What hiding a top-level window costs on this display (the run hides the main window and,
// after each drive, the progress window). Under Wine on a display without a window manager the
// hiding waits for a withdrawn state that never comes.
void MeasureWindowHide() {
    HWND window = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    Sleep(200);
    const double start = Now();
    ShowWindow(window, SW_HIDE);
    std::printf("hiding a top-level window on this display: %.0f ms\n", (Now() - start) * 1e3);
    DestroyWindow(window);
}

void MeasureStart() {
    TUpdateWorld world("bench-start");
    world.AddLoader({1});
    world.Prepare();
    world.WriteSampleImage(1, "2.00");
    std::vector<double> seconds;
    for (int i = 0; i < Starts; ++i) {
        const double start = Now();
        TProgramRun program(world.Launch());
        if (!WaitForMainWindow(program)) {
            std::printf("start to main window: the main window did not come\n");
            return;
        }
        seconds.push_back(Now() - start);
    } // the program is ended here; its run is not measured
    std::printf("start to main window (median of %d): %.0f ms\n", Starts, Median(seconds) * 1e3);
    std::printf("start to main window (fastest): %.0f ms\n",
                *std::min_element(seconds.begin(), seconds.end()) * 1e3);
}

struct UpdateFigures {
    double seconds = 0, toProgress = 0, commands = 0, processor = 0;
    SIZE_T peakWorkingSet = 0;
    bool succeeded = false;
};

UpdateFigures MeasureOneUpdate(int run) {
    UpdateFigures figures;
    TUpdateWorld world("bench-update-" + std::to_string(run));
    world.AddLoader({1, "VANDREL ZD-M770B LOADER 1.10", EraseMs, ChunkMs, ChecksumMs});
    world.Prepare();
    world.WriteSampleImage(2, "2.00");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.ProcessId());
    if (!mainWindow || !process)
        return figures;
    const double processorBefore = ProcessorSeconds(process);
    const double start = Now();
    PressButton(UpdateButton(mainWindow));
    program.WaitForWindow(TWindowQuery::OfClass(WriteFormClass), 60000);
    figures.toProgress = Now() - start;
    HWND box = program.WaitForWindow(TWindowQuery::OfClass(DialogClass), 60000);
    figures.seconds = Now() - start;
    figures.processor = ProcessorSeconds(process) - processorBefore;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory))
        figures.peakWorkingSet = memory.PeakWorkingSetSize;
    if (box) {
        Sleep(20);
        figures.succeeded = ReadMessageBox(box).text.rfind("Firmware update successful.", 0) == 0;
        PressOk(box);
    }
    program.ExitCodeWithin(10000);
    CloseHandle(process);
    figures.commands = CommandSeconds(world);
    return figures;
}

// Returns the highest peak working set of the runs (0 when a run failed).
SIZE_T MeasureUpdate() {
    std::vector<double> seconds, toProgress, commands, processor;
    SIZE_T peak = 0;
    for (int i = 0; i < Updates; ++i) {
        UpdateFigures figures = MeasureOneUpdate(i);
        if (!figures.succeeded) {
            std::printf("one-drive update: run %d did not end in the success message\n", i);
            return 0;
        }
        seconds.push_back(figures.seconds);
        toProgress.push_back(figures.toProgress);
        commands.push_back(figures.commands);
        processor.push_back(figures.processor);
        peak = std::max(peak, figures.peakWorkingSet);
    }
    const double update = Median(seconds);
    std::printf("one-drive update, UPDATE to the success message (median of %d): %.0f ms\n",
                Updates, update * 1e3);
    std::printf("one-drive update, UPDATE to the progress window shown (median): %.0f ms\n",
                Median(toProgress) * 1e3);
    const double sequence = Median(commands);
    std::printf("one-drive update, first command to last completion (median): %.0f ms\n",
                sequence * 1e3);
    std::printf("one-drive update, the drive's latencies: %u ms\n", DriveMs);
    std::printf("one-drive update, overhead ratio (whole update / latencies): %.2f\n",
                update * 1e3 / DriveMs);
    std::printf("one-drive update, overhead ratio (write sequence / latencies): %.3f\n",
                sequence * 1e3 / DriveMs);
    std::printf("one-drive update, processor time of the program (median): %.0f ms\n",
                Median(processor) * 1e3);
    std::printf("peak working set of the program: %.1f MiB\n", double(peak) / (1024 * 1024));
    return peak;
}

double MiB(SIZE_T bytes) {
    return double(bytes) / (1024 * 1024);
}

std::string MinimalWindowProgram() {
    std::string path = "Z:" M770B_MINIMAL_WINDOW;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// The program and the minimal one started in turn, each to its first window, in the same
// working folder and Wine session.
void MeasureAgainstMinimal(SIZE_T updatePeak) {
    TUpdateWorld world("bench-first-window");
    world.AddLoader({1});
    world.Prepare();
    world.WriteSampleImage(1, "2.00");
    std::vector<double> ours, minimal;
    SIZE_T oursPeak = 0, minimalPeak = 0;
    for (int i = 0; i < Starts; ++i) {
        // Each goes first every other time, so that neither profits from the other's start.
        TFirstWindow small, program;
        if (i % 2 == 0) {
            small = MeasureFirstWindow(MinimalWindowProgram(), world.WorkFolder());
            program = MeasureFirstWindow(world.ProgramPath(), world.WorkFolder());
        } else {
            program = MeasureFirstWindow(world.ProgramPath(), world.WorkFolder());
            small = MeasureFirstWindow(MinimalWindowProgram(), world.WorkFolder());
        }
        if (!small.shown || !program.shown) {
            std::printf("against a minimal program: %s did not show a window\n",
                        small.shown ? "M770BUpdate.exe" : "the minimal program");
            return;
        }
        minimal.push_back(small.seconds);
        ours.push_back(program.seconds);
        minimalPeak = std::max(minimalPeak, small.peakWorkingSet);
        oursPeak = std::max(oursPeak, program.peakWorkingSet);
    }
    std::printf("minimal program (a message box), start to its window (median of %d): %.0f ms\n",
                Starts, Median(minimal) * 1e3);
    std::printf("minimal program, peak working set: %.1f MiB\n", MiB(minimalPeak));
    std::printf("program, start to the main window in the same runs (median): %.0f ms\n",
                Median(ours) * 1e3);
    std::printf("program, peak working set at the main window: %.1f MiB\n", MiB(oursPeak));
    std::printf("ratio to the minimal program, start to the first window: %.2f\n",
                Median(ours) / Median(minimal));
    std::printf("ratio to the minimal program, peak working set at the first window: %.2f\n",
                double(oursPeak) / double(minimalPeak));
    if (updatePeak)
        std::printf("ratio to the minimal program, peak working set over an update: %.2f\n",
                    double(updatePeak) / double(minimalPeak));
}

} // namespace

int main() {
    MeasureWindowHide();
    MeasureStart();
    const SIZE_T updatePeak = MeasureUpdate();
    MeasureAgainstMinimal(updatePeak);
    return 0;
}
