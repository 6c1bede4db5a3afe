#include "update/SessionGuard.h"

#include <atomic>
#include <cstddef>

#include "outcome/BeforeOutcome.h"
#include "ui/SystemCall.h"
#include "update/UpdateTexts.h"

namespace {

// The window of the hold in place; null when none is.
std::atomic<HWND> HeldWindow{nullptr};

// How long a release from another thread waits for the window's thread to carry it out.
constexpr UINT ReleaseWaitMs = 5000;

// The reason Windows shows for the blocked shut-down, in the wide characters the call takes (the
// text is plain ASCII). It lives as long as the process, whatever Windows keeps of it; only the
// user-interface thread fills it.
const wchar_t *ShutdownReason() {
    static wchar_t reason[64];
    if (!reason[0]) {
        const char *text = UpdateText(UpdateMessage::ShutdownReason);
        for (std::size_t i = 0; text[i] && i + 1 < sizeof reason / sizeof *reason; ++i)
            reason[i] = static_cast<unsigned char>(text[i]);
    }
    return reason;
}

} // namespace

TSessionCalls ResolveSessionCalls(HMODULE user32) {
    TSessionCalls calls;
    calls.setThreadExecutionState = SetThreadExecutionState; // Windows 2000 and later
    calls.shutdownBlockReasonCreate = FindSystemCall<decltype(calls.shutdownBlockReasonCreate)>(
        user32, "ShutdownBlockReasonCreate");
    calls.shutdownBlockReasonDestroy = FindSystemCall<decltype(calls.shutdownBlockReasonDestroy)>(
        user32, "ShutdownBlockReasonDestroy");
    return calls;
}

TSessionCalls SessionCalls = ResolveSessionCalls(GetModuleHandleA("user32.dll"));

void HoldSessionForWrite(HWND window) {
    SessionCalls.setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    if (SessionCalls.shutdownBlockReasonCreate)
        SessionCalls.shutdownBlockReasonCreate(window, ShutdownReason());
    HeldWindow = window;
    SetBeforeOutcome(ReleaseHeldSession);
}

void ReleaseSessionAfterWrite(HWND window) {
    HeldWindow = nullptr;
    SetBeforeOutcome(nullptr);
    if (SessionCalls.shutdownBlockReasonDestroy)
        SessionCalls.shutdownBlockReasonDestroy(window);
    SessionCalls.setThreadExecutionState(ES_CONTINUOUS);
}

void ReleaseHeldSession() {
    HWND window = HeldWindow;
    if (!window)
        return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        ReleaseSessionAfterWrite(window);
        return;
    }
    DWORD_PTR ignored;
    SendMessageTimeoutA(window, SessionReleaseMessage, 0, 0, SMTO_NORMAL, ReleaseWaitMs, &ignored);
}
