#include "tests/unit/fakes/RecordingEventCalls.h"

#include "scsi/RequestEvents.h"
#include "tests/unit/fakes/FakeSequence.h"

namespace {

RecordingEventCalls *Installed;

} // namespace

RecordingEventCalls::RecordingEventCalls()
    : previousCalls_(EventCalls), previousInstalled_(Installed) {
    Installed = this;
    EventCalls = {&CreateEventEntry, &ResetEventEntry, &WaitEntry, &CloseHandleEntry,
                  &TickCountEntry};
}

RecordingEventCalls::~RecordingEventCalls() {
    EventCalls = previousCalls_;
    Installed = previousInstalled_;
}

void RecordingEventCalls::FailEventCreation(bool fail) {
    std::lock_guard<std::mutex> guard(lock_);
    failCreation_ = fail;
}

void RecordingEventCalls::SkipWaits(bool skip) {
    std::lock_guard<std::mutex> guard(lock_);
    skipWaits_ = skip;
}

void RecordingEventCalls::SetClock(std::function<DWORD()> clock) {
    std::lock_guard<std::mutex> guard(lock_);
    clock_ = std::move(clock);
}

std::vector<RecordingEventCalls::Call> RecordingEventCalls::Calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::vector<RecordingEventCalls::Call> RecordingEventCalls::CallsOf(Kind kind) const {
    std::vector<Call> of;
    for (const Call &call : Calls()) {
        if (call.kind == kind) {
            of.push_back(call);
        }
    }
    return of;
}

long long RecordingEventCalls::TickCountReadings() const {
    std::lock_guard<std::mutex> guard(lock_);
    return tickReadings_;
}

void RecordingEventCalls::Record(const Call &call) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
    calls_.back().sequence = NextFakeSequence();
}

HANDLE WINAPI RecordingEventCalls::CreateEventEntry(LPSECURITY_ATTRIBUTES security,
                                                    BOOL manualReset, BOOL initialState,
                                                    LPCSTR name) {
    bool fail;
    {
        std::lock_guard<std::mutex> guard(Installed->lock_);
        fail = Installed->failCreation_;
    }
    HANDLE event = fail ? nullptr : CreateEventA(security, manualReset, initialState, name);
    Call call{Kind::CreateEvent, 0, event};
    call.securityAttributes = security != nullptr;
    call.manualReset = manualReset;
    call.initialState = initialState;
    call.named = name != nullptr;
    Installed->Record(call);
    return event;
}

BOOL WINAPI RecordingEventCalls::ResetEventEntry(HANDLE event) {
    Installed->Record({Kind::ResetEvent, 0, event});
    return ResetEvent(event);
}

DWORD WINAPI RecordingEventCalls::WaitEntry(DWORD count, const HANDLE *handles, BOOL waitAll,
                                            DWORD milliseconds, DWORD wakeMask) {
    Call call{Kind::Wait, 0, count > 0 ? handles[0] : nullptr};
    call.milliseconds = milliseconds;
    Installed->Record(call);
    bool skip;
    {
        std::lock_guard<std::mutex> guard(Installed->lock_);
        skip = Installed->skipWaits_;
    }
    return skip ? WAIT_TIMEOUT
                : MsgWaitForMultipleObjects(count, handles, waitAll, milliseconds, wakeMask);
}

BOOL WINAPI RecordingEventCalls::CloseHandleEntry(HANDLE event) {
    Installed->Record({Kind::CloseHandle, 0, event});
    return CloseHandle(event);
}

DWORD WINAPI RecordingEventCalls::TickCountEntry() {
    std::function<DWORD()> clock;
    {
        std::lock_guard<std::mutex> guard(Installed->lock_);
        ++Installed->tickReadings_;
        clock = Installed->clock_;
    }
    return clock ? clock() : GetTickCount();
}
