#include "aspi/ExecRequest.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "scsi/SrbCompletion.h"

TExecRequest CaptureRequest(SRB_ExecSCSICmd *srb) {
    TExecRequest request{};
    request.srb = srb;
    request.flags = srb->SRB_Flags;
    request.target = srb->SRB_Target;
    request.lun = srb->SRB_Lun;
    request.cdbLength = srb->SRB_CDBLen;
    request.senseLength = srb->SRB_SenseLen;
    request.bufLen = srb->SRB_BufLen;
    request.buffer = srb->SRB_BufPointer;
    request.postProc = srb->SRB_PostProc;
    std::memcpy(request.cdb, srb->CDBByte, sizeof request.cdb);
    return request;
}

TExecOutcome ImmediateOutcome(BYTE status) {
    TExecOutcome outcome{};
    outcome.status = status;
    return outcome;
}

void CompleteRequest(TDeviceBackEnd &backEnd, const TExecRequest &request,
                     const TExecOutcome &outcome) {
    SRB_ExecSCSICmd *srb = request.srb;
    srb->SRB_HaStat = outcome.haStat;
    srb->SRB_TargStat = outcome.targStat;
    const BYTE sense = std::min(request.senseLength, outcome.senseLength);
    // The client's sense area holds SRB_SenseLen bytes, which may be more than our
    // declaration of the block shows.
    if (sense > 0)
        std::memcpy(reinterpret_cast<BYTE *>(srb) + offsetof(SRB_ExecSCSICmd, SenseArea),
                    outcome.sense, sense);
    if (request.flags & SRB_ENABLE_RESIDUAL_COUNT)
        srb->SRB_BufLen = request.bufLen - std::min(request.bufLen, outcome.transferred);
    FinishSrb(srb, outcome.status, request.flags, request.postProc,
              [&backEnd](HANDLE event) { backEnd.SignalEvent(event); });
}

void RefuseRequest(TDeviceBackEnd &backEnd, const TExecRequest &request, BYTE status) {
    TExecRequest silent = request;
    if ((request.flags & SRB_POSTING) && (request.flags & SRB_EVENT_NOTIFY))
        silent.flags &= ~(SRB_POSTING | SRB_EVENT_NOTIFY);
    CompleteRequest(backEnd, silent, ImmediateOutcome(status));
}
