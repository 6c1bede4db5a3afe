// How much one request costs the transport itself: ExecuteRequest against an ASPI manager that
// answers at once, with the real kernel event calls (create, reset, close; and the wait where the
// manager returns SS_PENDING and signals at once).
#include <windows.h>

#include <cstdio>

#include "scsi/AspiBinding.h"
#include "scsi/RequestBlocks.h"
#include "scsi/RequestExecution.h"

namespace {

constexpr BYTE ChecksumCdb[12] = {0xE4};

DWORD __cdecl CompleteAtOnce(LPSRB srb) {
    static_cast<SRB_ExecSCSICmd *>(srb)->SRB_Status = SS_COMP;
    return SS_COMP;
}

// Completes before returning, but says SS_PENDING and signals, as a manager that finishes on
// its own thread faster than the caller reaches its wait.
DWORD __cdecl SignalAtOnce(LPSRB srb) {
    auto *request = static_cast<SRB_ExecSCSICmd *>(srb);
    request->SRB_Status = SS_COMP;
    SetEvent(request->SRB_PostProc);
    return SS_PENDING;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

void Measure(const char *name, LPSENDASPI32COMMAND manager, int requests) {
    SendASPI32CommandEntry = manager;
    for (int i = 0; i < requests / 10; ++i) { // warm-up
        ExecuteRequest(SharedRequest, 0, 0x48, SharedDataBuffer, 2, ChecksumCdb, 12);
    }
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    int failures = 0;
    for (int i = 0; i < requests; ++i) {
        failures += ExecuteRequest(SharedRequest, 0, 0x48, SharedDataBuffer, 2, ChecksumCdb, 12);
    }
    QueryPerformanceCounter(&end);
    const double seconds = Seconds(start, end);
    std::printf("%s: %.0f requests/s\n", name, requests / seconds);
    std::printf("%s: %.0f ns/request\n", name, seconds * 1e9 / requests);
    if (failures) {
        std::printf("%s: %d requests not started\n", name, failures);
    }
}

// The kernel's share of each request: one event created, reset and closed.
void MeasureEventLife(int requests) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < requests; ++i) {
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ResetEvent(event);
        CloseHandle(event);
    }
    QueryPerformanceCounter(&end);
    std::printf("event create, reset, close alone: %.0f ns/request\n",
                Seconds(start, end) * 1e9 / requests);
}

} // namespace

int main() {
    Measure("ExecuteRequest, completed at once", CompleteAtOnce, 200000);
    Measure("ExecuteRequest, pending and signalled", SignalAtOnce, 200000);
    MeasureEventLife(200000);
    return 0;
}
