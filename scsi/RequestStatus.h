// Judging a completed SCSI request.
#ifndef M770B_SCSI_REQUESTSTATUS_H
#define M770B_SCSI_REQUESTSTATUS_H

#include "scsi/wnaspi32.h"

// 0 when the request succeeded; otherwise shows the first fault found (ASPI status, then
// adapter status, then target status and the loader's sense codes) and returns 1.
int ReportRequestStatus(const SRB_ExecSCSICmd &request);

// 1 when the target status is not GOOD, else 0; shows nothing.
int CheckTargetStatus(const SRB_ExecSCSICmd &request);

#endif
