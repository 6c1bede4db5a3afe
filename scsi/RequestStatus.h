// Judging a completed SCSI request, and every other text the transport shows.
#ifndef M770B_SCSI_REQUESTSTATUS_H
#define M770B_SCSI_REQUESTSTATUS_H

#include "scsi/wnaspi32.h"

// 0 when the request succeeded; otherwise records its raw status, shows the first fault found
// (ASPI status, then adapter status, then target status and the loader's sense codes) and
// returns 1.
int ReportRequestStatus(const SRB_ExecSCSICmd &request);

// Records the raw status of a request that did not succeed, `outcome` saying how ("failed"):
// the opcode, adapter and target, then ASPI status, adapter status, target status and the sense
// key, ASC and ASCQ, all in hexadecimal.
void RecordRequestStatus(const SRB_ExecSCSICmd &request, const char *outcome);

// 1 when the target status is not GOOD, else 0; shows nothing.
int CheckTargetStatus(const SRB_ExecSCSICmd &request);

// The transport's messages outside the status of a request.
enum class TransportMessage {
    LibraryNotFound,     // "wnaspi32.dll not found"
    SupportInfoNotFound, // "GetASPI32SupportInfo not found"
    SendCommandNotFound, // "SendASPI32Command not found"
    EventNotCreated,     // "Can not create Event."
    CommandTimedOut,     // "SCSI command timed out."
};

// The text of the message.
const char *TransportText(TransportMessage message);

#endif
