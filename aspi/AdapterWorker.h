// The thread that carries the requests of one host adapter, one after the other: a client may
// submit from any thread at any time, and the adapter still sees one command at a time.
#ifndef M770B_ASPI_ADAPTERWORKER_H
#define M770B_ASPI_ADAPTERWORKER_H

#include "aspi/AdapterTable.h"
#include "aspi/ExecRequest.h"

#include <deque>
#include <vector>

class TAdapterWorker {
  public:
    TAdapterWorker(TDeviceBackEnd &backEnd, BYTE path);
    ~TAdapterWorker(); // finishes the queued requests, then ends the thread
    TAdapterWorker(const TAdapterWorker &) = delete;
    TAdapterWorker &operator=(const TAdapterWorker &) = delete;

    // False when the thread could not be started; then nothing can be queued.
    bool Started() const { return thread_ != nullptr; }

    // Throws std::bad_alloc, and queues nothing, when there is no room for the request. The
    // device is the unit's entry of the adapter table: only this thread changes it from now on.
    void Queue(const TExecRequest &request, TScsiDevice *device);

    // Takes a request that has not started yet off the queue and completes it as aborted.
    // False when the block is not waiting here (running already, done, or unknown).
    bool Abort(const SRB_ExecSCSICmd *srb);

  private:
    struct TQueued {
        TExecRequest request;
        TScsiDevice *device;
    };
    static DWORD WINAPI ThreadEntry(void *self);
    void Run();
    bool Take(TQueued &next);

    TDeviceBackEnd &backEnd_;
    BYTE path_;
    CRITICAL_SECTION lock_;
    HANDLE ready_;  // semaphore: one count per queued request, plus one to stop
    HANDLE thread_; // null when it could not be created
    bool stopping_ = false;
    std::deque<TQueued> queue_;
    std::vector<BYTE> scratch_; // the pass-through buffer, used by the thread only
};

#endif
