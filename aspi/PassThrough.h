// Carrying one SCSI command to a device with IOCTL_SCSI_PASS_THROUGH, and turning the answer
// of the port driver into ASPI status.
#ifndef M770B_ASPI_PASSTHROUGH_H
#define M770B_ASPI_PASSTHROUGH_H

#include "aspi/ExecRequest.h"

#include <vector>

// How long the port driver lets one command run, in seconds. A flash erase of the loader
// takes seconds; this is also longer than the 60 s after which the updater gives up on a
// request itself, so a hung drive is reported by the program and never hidden by us.
constexpr ULONG kPassThroughTimeoutSeconds = 120;

// Sends the command through the handle (the unit's class device, or its port with path,
// target and LUN in the request) and copies data in into the client's buffer. The scratch
// buffer is reused from request to request.
TExecOutcome RunPassThrough(TDeviceBackEnd &backEnd, HANDLE device, BYTE path,
                            const TExecRequest &request, std::vector<BYTE> &scratch);

// The ASPI status and adapter status for a DeviceIoControl that failed with a Win32 error.
struct TFailureStatus {
    BYTE status;
    BYTE haStat;
};
TFailureStatus StatusOfFailedControl(DWORD error);

#endif
