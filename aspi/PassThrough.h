// Carrying one SCSI command to a device with IOCTL_SCSI_PASS_THROUGH, and turning the answer
// of the port driver into ASPI status.
#ifndef M770B_ASPI_PASSTHROUGH_H
#define M770B_ASPI_PASSTHROUGH_H

#include "aspi/AdapterTable.h"
#include "aspi/ExecRequest.h"

#include <vector>

// How long the port driver lets one command run, in seconds. A flash erase of the loader takes
// seconds. The updater gives up on a request 60 s after it submitted it and ends; Windows cannot
// end a process while its request is still in the port driver, so the port's time-out comes
// first, with room for the request's wait in our queue: a hung command comes back as the port's
// time-out (HASTAT_COMMAND_TIMEOUT) and the program reports it as it reports any failure.
constexpr ULONG kPassThroughTimeoutSeconds = 45;

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
