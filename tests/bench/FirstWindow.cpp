#include "tests/bench/FirstWindow.h"

#include <psapi.h>

#include "tests/support/ProcessWindows.h"

namespace {

constexpr DWORD PaintMs = 300;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

} // namespace

TFirstWindow MeasureFirstWindow(const std::string &program, const std::string &folder) {
    TFirstWindow figures;
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const double start = Now();
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info))
        return figures;
    CloseHandle(info.hThread);
    while (Now() - start < 30 && WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
        if (!ProcessTopLevelWindows(info.dwProcessId).empty()) {
            figures.seconds = Now() - start;
            figures.shown = true;
            break;
        }
        Sleep(1);
    }
    if (figures.shown) {
        Sleep(PaintMs);
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory))
            figures.peakWorkingSet = memory.PeakWorkingSetSize;
    }
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hProcess);
    return figures;
}
