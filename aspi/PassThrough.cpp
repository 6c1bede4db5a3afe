#include "aspi/PassThrough.h"

#include "aspi/ScsiIoctl.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr BYTE kScsiGood = 0x00;
constexpr BYTE kScsiCheckCondition = 0x02;

// Buffered pass-through: the SCSI_PASS_THROUGH header, the sense area after it, then the data,
// all in one buffer that the system copies into a buffer of its own, which starts on a page
// boundary. Offsets are from the start of the header. The data starts at the next page, so a
// transfer of n pages spans n pages of the adapter's MaximumPhysicalPages, not n + 1.
constexpr size_t kSenseAt = sizeof(SCSI_PASS_THROUGH);
constexpr size_t kSenseRoom = 256;
constexpr size_t kDataAt = kPageSize;
static_assert(kSenseAt + kSenseRoom <= kDataAt, "the header and sense fit before the data");

struct TErrorRow {
    DWORD error;
    BYTE status;
    BYTE haStat;
};

// Win32 errors of a failed pass-through (and of an open), as the port and class drivers report
// them (the NTSTATUS each stands for), and the ASPI status that tells a client the same thing.
const TErrorRow kErrorTable[] = {
    // STATUS_IO_TIMEOUT: the port's time-out ran out (SRB_STATUS_TIMEOUT), the bus was reset.
    {ERROR_SEM_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},
    {ERROR_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},
    // STATUS_DEVICE_NOT_CONNECTED: SRB_STATUS_SELECTION_TIMEOUT, no unit answered.
    {ERROR_DEVICE_NOT_CONNECTED, SS_ERR, HASTAT_SEL_TO},
    {ERROR_DEV_NOT_EXIST, SS_ERR, HASTAT_SEL_TO}, // the unit has gone
    {ERROR_BUS_RESET, SS_ERR, HASTAT_BUS_RESET},  // STATUS_BUS_RESET
    // STATUS_BUFFER_OVERFLOW with the buffer full: the unit had more data than it holds.
    {ERROR_MORE_DATA, SS_ERR, HASTAT_DO_DU},
    // STATUS_DEVICE_NOT_READY: the driver held the request and never gave it to the unit
    // (starting, stopping, in a power transition): a request that waited and was not processed.
    {ERROR_NOT_READY, SS_ERR, HASTAT_TIMEOUT},
    // STATUS_DEVICE_BUSY: the adapter or the unit took no request now; ASPI's word for it.
    {ERROR_BUSY, SS_ASPI_IS_BUSY, HASTAT_OK},
    // STATUS_IO_DEVICE_ERROR: the port's and classpnp's answer to an adapter's failure on the
    // bus (SRB_STATUS_PHASE_SEQUENCE_FAILURE, an unexpected bus free, SRB_STATUS_ERROR).
    {ERROR_IO_DEVICE, SS_ERR, HASTAT_PHASE_ERR},
    // STATUS_VERIFY_REQUIRED: the class driver saw the medium change (or exclusive access end)
    // and failed the request unsent until the volume is verified.
    {ERROR_MEDIA_CHANGED, SS_ABORTED, HASTAT_OK},
    // STATUS_ACCESS_DENIED: no rights to the device (an open as a limited user), or another
    // handle holds its exclusive access.
    {ERROR_ACCESS_DENIED, SS_SECURITY_VIOLATION, HASTAT_OK},
    {ERROR_INVALID_PARAMETER, SS_INVALID_SRB, HASTAT_OK}, // the driver refused the request
    {ERROR_INVALID_FUNCTION, SS_INVALID_SRB, HASTAT_OK},  // no pass-through on this device
    {ERROR_NOT_ENOUGH_MEMORY, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_NO_SYSTEM_RESOURCES, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_SUCCESS, SS_ERR, HASTAT_OK}, // sentinel: any other failure
};

// The port's answer in the returned buffer: the count moved, data in, status and sense.
void ReadAnswer(const std::vector<BYTE> &scratch, const TExecRequest &request,
                TExecOutcome &outcome) {
    SCSI_PASS_THROUGH header;
    std::memcpy(&header, scratch.data(), sizeof header);
    outcome.transferred = std::min(header.DataTransferLength, request.bufLen);
    if (header.DataIn == SCSI_IOCTL_DATA_IN && outcome.transferred > 0)
        std::memcpy(request.buffer, &scratch[kDataAt], outcome.transferred);
    outcome.targStat = header.ScsiStatus;
    outcome.status = header.ScsiStatus == kScsiGood ? SS_COMP : SS_ERR;
    if (header.ScsiStatus == kScsiCheckCondition) {
        outcome.senseLength = std::min(header.SenseInfoLength, request.senseLength);
        std::memcpy(outcome.sense, &scratch[kSenseAt], outcome.senseLength);
    }
}

BYTE DataDirection(BYTE flags, DWORD length) {
    if (length == 0)
        return SCSI_IOCTL_DATA_UNSPECIFIED;
    return (flags & SRB_DIR_IN) ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
}

} // namespace

TFailureStatus StatusOfFailedControl(DWORD error) {
    const TErrorRow *row = kErrorTable;
    while (row->error != ERROR_SUCCESS && row->error != error)
        ++row;
    return {row->status, row->haStat};
}

TExecOutcome RunPassThrough(TDeviceBackEnd &backEnd, HANDLE device, BYTE path,
                            const TExecRequest &request, std::vector<BYTE> &scratch) {
    const DWORD length = request.bufLen;
    const DWORD total = static_cast<DWORD>(kDataAt + length);
    scratch.assign(total, 0);

    SCSI_PASS_THROUGH header{};
    header.Length = sizeof header;
    header.PathId = path;
    header.TargetId = request.target;
    header.Lun = request.lun;
    header.CdbLength = request.cdbLength;
    header.SenseInfoLength = request.senseLength;
    header.DataIn = DataDirection(request.flags, length);
    header.DataTransferLength = length;
    header.TimeOutValue = kPassThroughTimeoutSeconds;
    header.DataBufferOffset = kDataAt;
    header.SenseInfoOffset = static_cast<ULONG>(kSenseAt);
    std::memcpy(header.Cdb, request.cdb, request.cdbLength);
    std::memcpy(scratch.data(), &header, sizeof header);
    if (length > 0 && header.DataIn == SCSI_IOCTL_DATA_OUT)
        std::memcpy(&scratch[kDataAt], request.buffer, length);

    DWORD returned = 0;
    const DWORD error = backEnd.ControlDevice(device, IOCTL_SCSI_PASS_THROUGH, scratch.data(),
                                              total, scratch.data(), total, &returned);
    TExecOutcome outcome{};
    // ERROR_MORE_DATA is a warning (STATUS_BUFFER_OVERFLOW, the port's answer to a data overrun
    // or underrun): the system copied the header, the sense and the data back as on success.
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
        const TFailureStatus failure = StatusOfFailedControl(error);
        outcome.status = failure.status;
        outcome.haStat = failure.haStat;
        return outcome;
    }
    ReadAnswer(scratch, request, outcome);
    // A short transfer is what it is (the residual count says how short); a full buffer with
    // more to come lost data.
    if (error == ERROR_MORE_DATA && outcome.transferred >= length) {
        const TFailureStatus overrun = StatusOfFailedControl(error);
        outcome.status = overrun.status;
        outcome.haStat = overrun.haStat;
    }
    return outcome;
}
