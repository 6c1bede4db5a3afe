// How an ASPI manager hands a finished SC_EXEC_SCSI_CMD back to its client; shared by our
// manager (aspi/), the virtual loader drive (sim/) and the unit tests' scripted manager.
//
// Every other output field is written first. SRB_Status comes last, as a release store, so a
// client that polls it sees every field once it sees the final status. Then the client is told:
// the event in SRB_PostProc is signalled (SRB_EVENT_NOTIFY) or the post routine there is called
// (SRB_POSTING). The flags and SRB_PostProc are taken from the block before any of this, for from
// the final status on the block is the client's again and is not read.
#ifndef M770B_SCSI_SRBCOMPLETION_H
#define M770B_SCSI_SRBCOMPLETION_H

#include "scsi/wnaspi32.h"

inline void SignalCompletionEvent(HANDLE event) {
    SetEvent(event);
}

// `signalEvent(HANDLE)` signals the client's event (SignalCompletionEvent, or a stand-in).
template <class SignalEvent = void (*)(HANDLE)>
void FinishSrb(SRB_ExecSCSICmd *srb, BYTE status, BYTE flags, void *postProc,
               SignalEvent signalEvent = SignalCompletionEvent) {
    __atomic_store_n(&srb->SRB_Status, status, __ATOMIC_RELEASE);
    if (!postProc)
        return;
    if (flags & SRB_POSTING)
        reinterpret_cast<void(__cdecl *)(SRB_ExecSCSICmd *)>(postProc)(srb);
    else if (flags & SRB_EVENT_NOTIFY)
        signalEvent(static_cast<HANDLE>(postProc));
}

#endif
