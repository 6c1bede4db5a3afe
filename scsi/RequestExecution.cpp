#include "scsi/RequestExecution.h"

#include <atomic>
#include <cstring>

#include "outcome/MessageBoxes.h"
#include "outcome/ProcessEnd.h"
#include "scsi/AspiBinding.h"
#include "scsi/RequestBlocks.h"
#include "scsi/RequestEvents.h"
#include "scsi/RequestStatus.h"

namespace {

constexpr BYTE RequestSenseLength = 16;    // sense bytes asked for with every request
constexpr DWORD CompletionWaitMs = 1000;   // the timed wait on the request's event
constexpr DWORD CompletionBoundMs = 60000; // no request may stay pending longer than this
// How often the poll after the timed wait takes the messages sent to the thread: far inside the
// 5 s after which Windows judges a window that takes none not responding.
constexpr DWORD SentMessageIntervalMs = 10;

// SRB_Status is written by the ASPI manager on a thread of its own; nothing on this thread
// changes it, so every read has to go to memory.
BYTE ReadRequestStatus(const SRB_ExecSCSICmd &request) {
    return *static_cast<const volatile BYTE *>(&request.SRB_Status);
}

void FillRequest(SRB_ExecSCSICmd &request, BYTE target, BYTE flags, BYTE *buffer, DWORD byteCount,
                 const BYTE *cdb, BYTE cdbLength, HANDLE event) {
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = HostAdapterId;
    request.SRB_Target = target;
    request.SRB_Flags = flags;
    request.SRB_BufLen = byteCount;
    request.SRB_BufPointer = buffer;
    request.SRB_SenseLen = RequestSenseLength;
    request.SRB_CDBLen = cdbLength;
    request.SRB_PostProc = event;
    std::memcpy(request.CDBByte, cdb, cdbLength);
}

// Delivers the messages that other threads have sent to this thread's windows (Windows'
// session-end query, another program asking a window for its text) and nothing else: posted
// messages, the worker's Synchronize hand-off among them, stay queued for the message loop, so no
// step and no modal loop runs inside a request.
void TakeSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// The timed wait: up to CompletionWaitMs from the submission for the event, taking sent messages
// as they come. Whether it ends by the signal or by its time-out does not matter: the status is
// what counts.
void AwaitSignal(HANDLE event, DWORD submittedAt) {
    DWORD remaining = CompletionWaitMs;
    while (EventCalls.msgWaitForMultipleObjects(1, &event, FALSE, remaining, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        TakeSentMessages();
        const DWORD waited = EventCalls.tickCount() - submittedAt;
        if (waited >= CompletionWaitMs)
            return;
        remaining = CompletionWaitMs - waited;
    }
}

// Busy-polls until the manager has given the request a final status, taking sent messages every
// SentMessageIntervalMs. A request still pending CompletionBoundMs after its submission can no
// longer be trusted to end: its block and buffer still belong to the manager, so nothing more may
// be sent, and the program ends.
void AwaitFinalStatus(const SRB_ExecSCSICmd &request, DWORD submittedAt) {
    DWORD messagesTaken = submittedAt;
    while (ReadRequestStatus(request) == SS_PENDING) {
        const DWORD now = EventCalls.tickCount();
        if (now - submittedAt >= CompletionBoundMs) {
            RecordRequestStatus(request, "still pending after 60 s");
            ShowErrorBox(TransportText(TransportMessage::CommandTimedOut));
            EndProcess();
        }
        if (now - messagesTaken >= SentMessageIntervalMs) {
            TakeSentMessages();
            messagesTaken = now;
        }
    }
    // The manager wrote the other status fields, the sense data and the data buffer before
    // SRB_Status; none of them may be read ahead of it.
    std::atomic_thread_fence(std::memory_order_acquire);
}

} // namespace

bool InquireHostAdapter() {
    SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0, sizeof inquiry);
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = HostAdapterId;
    const bool answered = SendASPI32CommandEntry(&inquiry) == SS_COMP;
    // ASPI for Win32 publishes the adapter's maximum transfer length in HA_Unique bytes 4 to 7,
    // least significant byte first.
    const BYTE *length = inquiry.HA_Unique + 4;
    HostAdapterMaxTransfer = answered ? DWORD(length[0]) | DWORD(length[1]) << 8 |
                                            DWORD(length[2]) << 16 | DWORD(length[3]) << 24
                                      : 0;
    return answered;
}

DWORD RequestDeviceType(BYTE target) {
    std::memset(&DeviceTypeRequest, 0, sizeof DeviceTypeRequest);
    DeviceTypeRequest.SRB_Cmd = SC_GET_DEV_TYPE;
    DeviceTypeRequest.SRB_HaId = HostAdapterId;
    DeviceTypeRequest.SRB_Target = target;
    return SendASPI32CommandEntry(&DeviceTypeRequest);
}

int ExecuteRequest(SRB_ExecSCSICmd &request, BYTE target, BYTE flags, BYTE *buffer, DWORD byteCount,
                   const BYTE *cdb, BYTE cdbLength) {
    // Auto-reset, not signalled, no name: a new event for this one request.
    HANDLE event = EventCalls.createEvent(nullptr, FALSE, FALSE, nullptr);
    const bool shared = &request == &SharedRequest;
    if (shared) {
        SharedRequestEvent = event;
    }
    if (!event) {
        ShowErrorBox(TransportText(TransportMessage::EventNotCreated));
        return 1;
    }
    EventCalls.resetEvent(event);
    FillRequest(request, target, flags, buffer, byteCount, cdb, cdbLength, event);

    const DWORD submittedAt = EventCalls.tickCount();
    if (SendASPI32CommandEntry(&request) == SS_PENDING)
        AwaitSignal(event, submittedAt);
    AwaitFinalStatus(request, submittedAt);

    EventCalls.closeHandle(event);
    if (shared) {
        SharedRequestEvent = nullptr;
    }
    return 0;
}
