#include "aspi/PassThrough.h"

#include "aspi/ScsiIoctl.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr BYTE kScsiGood = 0x00;
constexpr BYTE kScsiCheckCondition = 0x02;

// Buffered pass-through: the SCSI_PASS_THROUGH header, the sense area after it, then the data,
// all in one buffer that the system copies. Offsets are from the start of the header.
constexpr size_t kSenseAt = sizeof(SCSI_PASS_THROUGH);
constexpr size_t kSenseRoom = 256;
constexpr size_t kDataAt = (kSenseAt + kSenseRoom + 15) & ~size_t(15);

struct TErrorRow {
    DWORD error;
    BYTE status;
    BYTE haStat;
};

// Win32 errors of a failed pass-through, as the port and class drivers report them, and the
// ASPI status that tells a client the same thing.
const TErrorRow kErrorTable[] = {
    {ERROR_SEM_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT}, // STATUS_IO_TIMEOUT
    {ERROR_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},     //
    {ERROR_DEVICE_NOT_CONNECTED, SS_ERR, HASTAT_SEL_TO}, // SRB_STATUS_SELECTION_TIMEOUT
    {ERROR_DEV_NOT_EXIST, SS_ERR, HASTAT_SEL_TO},        // the unit has gone
    {ERROR_BUS_RESET, SS_ERR, HASTAT_BUS_RESET},         // STATUS_BUS_RESET
    {ERROR_MORE_DATA, SS_ERR, HASTAT_DO_DU},             // data overrun
    {ERROR_ACCESS_DENIED, SS_SECURITY_VIOLATION, HASTAT_OK},
    {ERROR_INVALID_PARAMETER, SS_INVALID_SRB, HASTAT_OK}, // the driver refused the request
    {ERROR_INVALID_FUNCTION, SS_INVALID_SRB, HASTAT_OK},  // no pass-through on this device
    {ERROR_NOT_ENOUGH_MEMORY, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_NO_SYSTEM_RESOURCES, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_SUCCESS, SS_ERR, HASTAT_OK}, // sentinel: any other failure
};

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
    if (error != ERROR_SUCCESS) {
        const TFailureStatus failure = StatusOfFailedControl(error);
        outcome.status = failure.status;
        outcome.haStat = failure.haStat;
        return outcome;
    }
    std::memcpy(&header, scratch.data(), sizeof header);
    outcome.transferred = std::min(header.DataTransferLength, length);
    if (header.DataIn == SCSI_IOCTL_DATA_IN && outcome.transferred > 0)
        std::memcpy(request.buffer, &scratch[kDataAt], outcome.transferred);
    outcome.targStat = header.ScsiStatus;
    outcome.status = header.ScsiStatus == kScsiGood ? SS_COMP : SS_ERR;
    if (header.ScsiStatus == kScsiCheckCondition) {
        outcome.senseLength = std::min(header.SenseInfoLength, request.senseLength);
        std::memcpy(outcome.sense, &scratch[kSenseAt], outcome.senseLength);
    }
    return outcome;
}
