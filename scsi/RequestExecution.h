// Executing one ASPI request: host adapter inquiry, device type request, SCSI command with its
// completion event.
#ifndef M770B_SCSI_REQUESTEXECUTION_H
#define M770B_SCSI_REQUESTEXECUTION_H

#include "scsi/wnaspi32.h"

// True when the adapter HostAdapterId answers SC_HA_INQUIRY with SS_COMP; keeps the maximum
// transfer length of its answer in HostAdapterMaxTransfer (0 when it did not answer).
bool InquireHostAdapter();

// Clears and fills DeviceTypeRequest for the target on HostAdapterId, submits it and returns
// what SendASPI32Command returned.
DWORD RequestDeviceType(BYTE target);

// Fills the block (cleared first) for HostAdapterId, the target and LUN 0, submits it with a new
// event, waits up to 1000 ms when the manager returns SS_PENDING, then polls SRB_Status until it
// leaves SS_PENDING (every command: no block is refilled while the manager owns it). While it
// waits it delivers the messages other threads send to this thread's windows (a session-end
// query is answered during a command) and dispatches no posted message. Returns 1
// when nothing was submitted ("Can not create Event." has been shown), 0 when the request has
// completed and its status stands in the block. A request still pending 60 s after submission
// shows "SCSI command timed out." and ends the process. cdbLength is 6 or 12.
int ExecuteRequest(SRB_ExecSCSICmd &request, BYTE target, BYTE flags, BYTE *buffer, DWORD byteCount,
                   const BYTE *cdb, BYTE cdbLength);

#endif
