// One SC_EXEC_SCSI_CMD as our manager carries it: the inputs taken from the client's block
// when it was submitted, the outcome of the pass-through, and the completion that hands the
// outcome back to the client.
#ifndef M770B_ASPI_EXECREQUEST_H
#define M770B_ASPI_EXECREQUEST_H

#include "aspi/DeviceBackEnd.h"
#include "scsi/wnaspi32.h"

// The inputs of a request, copied once at submission so that execution never depends on what
// the client's block holds later.
struct TExecRequest {
    SRB_ExecSCSICmd *srb;
    BYTE flags;
    BYTE target;
    BYTE lun;
    BYTE cdbLength;
    BYTE senseLength;
    DWORD bufLen;
    BYTE *buffer;
    void *postProc;
    BYTE cdb[16];
};

struct TExecOutcome {
    BYTE status;   // SRB_Status
    BYTE haStat;   // SRB_HaStat
    BYTE targStat; // SRB_TargStat
    DWORD transferred;
    BYTE senseLength; // sense bytes to copy into SenseArea
    BYTE sense[255];
};

TExecRequest CaptureRequest(SRB_ExecSCSICmd *srb);

// An outcome decided without reaching the device (a refused block, an absent unit).
TExecOutcome ImmediateOutcome(BYTE status);

// Writes every output field of the block, then SRB_Status, then signals the client's event or
// calls its post routine. After this the block belongs to the client again and is not touched.
void CompleteRequest(TDeviceBackEnd &backEnd, const TExecRequest &request,
                     const TExecOutcome &outcome);

// Completes a block refused before it reached a device, with `status` and nothing else; a block
// that asks for both an event and a post routine gets neither.
void RefuseRequest(TDeviceBackEnd &backEnd, const TExecRequest &request, BYTE status);

#endif
