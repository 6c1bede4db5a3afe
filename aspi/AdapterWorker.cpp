#include "aspi/AdapterWorker.h"

#include "aspi/PassThrough.h"
#include "aspi/UnitIsolation.h"

#include <algorithm>

TAdapterWorker::TAdapterWorker(TDeviceBackEnd &backEnd, BYTE path)
    : backEnd_(backEnd), path_(path) {
    InitializeCriticalSection(&lock_);
    ready_ = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    thread_ = ready_ ? CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr) : nullptr;
}

TAdapterWorker::~TAdapterWorker() {
    if (thread_) {
        EnterCriticalSection(&lock_);
        stopping_ = true;
        LeaveCriticalSection(&lock_);
        ReleaseSemaphore(ready_, 1, nullptr);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (ready_)
        CloseHandle(ready_);
    DeleteCriticalSection(&lock_);
}

void TAdapterWorker::Queue(const TExecRequest &request, TScsiDevice *device) {
    EnterCriticalSection(&lock_);
    try {
        queue_.push_back({request, device});
    } catch (...) { // no room: the block is not taken, and the queue stays usable
        LeaveCriticalSection(&lock_);
        throw;
    }
    LeaveCriticalSection(&lock_);
    ReleaseSemaphore(ready_, 1, nullptr);
}

bool TAdapterWorker::Abort(const SRB_ExecSCSICmd *srb) {
    EnterCriticalSection(&lock_);
    auto waiting = std::find_if(queue_.begin(), queue_.end(),
                                [srb](const TQueued &q) { return q.request.srb == srb; });
    const bool found = waiting != queue_.end();
    TExecRequest request{};
    if (found) {
        request = waiting->request;
        queue_.erase(waiting);
    }
    LeaveCriticalSection(&lock_);
    if (found) {
        // Its semaphore count stays; the thread finds the queue shorter and waits again.
        CompleteRequest(backEnd_, request, ImmediateOutcome(SS_ABORTED));
    }
    return found;
}

DWORD WINAPI TAdapterWorker::ThreadEntry(void *self) {
    static_cast<TAdapterWorker *>(self)->Run();
    return 0;
}

bool TAdapterWorker::Take(TQueued &next) {
    EnterCriticalSection(&lock_);
    const bool any = !queue_.empty();
    if (any) {
        next = queue_.front();
        queue_.pop_front();
    }
    LeaveCriticalSection(&lock_);
    return any;
}

void TAdapterWorker::Run() {
    for (;;) {
        WaitForSingleObject(ready_, INFINITE);
        TQueued next;
        if (!Take(next)) {
            EnterCriticalSection(&lock_);
            const bool stop = stopping_ && queue_.empty();
            LeaveCriticalSection(&lock_);
            if (stop)
                return;
            continue;
        }
        TExecOutcome outcome;
        try {
            if (ChangesUnit(next.request))
                IsolateUnit(backEnd_, *next.device);
            outcome = RunPassThrough(backEnd_, next.device->handle, path_, next.request, scratch_);
        } catch (...) { // no room for the pass-through buffer
            outcome = ImmediateOutcome(SS_INSUFFICIENT_RESOURCES);
        }
        CompleteRequest(backEnd_, next.request, outcome);
    }
}
