#include "aspi/AspiManager.h"

#include "aspi/DeviceName.h"
#include "aspi/PassThrough.h"

#include <algorithm>
#include <cstring>

namespace {

// The texts of SC_HA_INQUIRY: sixteen characters each, padded with blanks, no terminator.
const char kManagerId[] = "M770B SPTI ASPI";

void SetText16(BYTE (&field)[16], const char *text) {
    std::memset(field, ' ', sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field));
}

constexpr BYTE kQualifierNotPresent = 0x60; // peripheral qualifier 3: no unit at this LUN

bool UnitPresent(const TScsiDevice *device) {
    return device && (device->inquiry0 & 0xE0) != kQualifierNotPresent;
}

} // namespace

TAspiManager::TAspiManager(TDeviceBackEnd &backEnd)
    : backEnd_(backEnd), table_(EnumerateAdapters(backEnd)) {
    for (const TScsiAdapter &adapter : table_.adapters)
        workers_.push_back(std::make_unique<TAdapterWorker>(backEnd_, adapter.path));
}

DWORD TAspiManager::SupportInfo() const {
    const size_t count = std::min<size_t>(AdapterCount(), 255);
    BYTE status = SS_COMP;
    if (count == 0) // nothing found: because Windows refused us, or because nothing is there
        status = table_.refusedForRights ? StatusOfFailedControl(ERROR_ACCESS_DENIED).status
                                         : SS_NO_ADAPTERS;
    return (DWORD(status) << 8) | DWORD(count);
}

DWORD TAspiManager::SendCommand(void *block) {
    if (!block)
        return SS_INVALID_SRB;
    SRB_Header &header = *static_cast<SRB_Header *>(block);
    DWORD status;
    switch (header.SRB_Cmd) {
    case SC_HA_INQUIRY:
        status = InquireAdapter(*static_cast<SRB_HAInquiry *>(block));
        break;
    case SC_GET_DEV_TYPE:
        status = GetDeviceType(*static_cast<SRB_GDEVBlock *>(block));
        break;
    case SC_EXEC_SCSI_CMD:
        // Completes the block itself, synchronously or on the adapter's thread.
        return ExecuteCommand(*static_cast<SRB_ExecSCSICmd *>(block));
    case SC_ABORT_SRB:
        status = AbortRequest(*static_cast<SRB_Abort *>(block));
        break;
    default:
        // Device reset, adapter parameters, disk information, bus rescan and time-outs are
        // not offered over pass-through.
        status = SS_INVALID_CMD;
        break;
    }
    header.SRB_Status = static_cast<BYTE>(status);
    return status;
}

DWORD TAspiManager::InquireAdapter(SRB_HAInquiry &srb) const {
    srb.HA_Count = static_cast<BYTE>(std::min<size_t>(AdapterCount(), 255));
    if (srb.SRB_HaId >= AdapterCount())
        return SS_INVALID_HA;
    const TScsiAdapter &adapter = table_.adapters[srb.SRB_HaId];
    srb.HA_SCSI_ID = adapter.initiatorId;
    SetText16(srb.HA_ManagerId, kManagerId);
    const TDeviceName identifier =
        TDeviceName().Text("Scsi").Number(adapter.port).Text(": path ").Number(adapter.path);
    SetText16(srb.HA_Identifier, identifier.c_str());
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    // HA_Unique: buffer alignment mask (none: the system copies the data), residual byte
    // count supported, the highest target count, the maximum transfer length.
    srb.HA_Unique[2] = 0x02;
    BYTE targets = 8;
    for (const TScsiDevice &device : adapter.devices)
        if (device.target >= 8)
            targets = 16;
    srb.HA_Unique[3] = targets;
    std::memcpy(&srb.HA_Unique[4], &adapter.maxTransfer, sizeof adapter.maxTransfer);
    return SS_COMP;
}

DWORD TAspiManager::GetDeviceType(SRB_GDEVBlock &srb) const {
    if (srb.SRB_HaId >= AdapterCount())
        return SS_INVALID_HA;
    const TScsiDevice *device =
        table_.adapters[srb.SRB_HaId].FindDevice(srb.SRB_Target, srb.SRB_Lun);
    if (!UnitPresent(device))
        return SS_NO_DEVICE;
    srb.SRB_DeviceType = device->inquiry0 & 0x1F;
    return SS_COMP;
}

BYTE CheckExecRequest(const TExecRequest &request, DWORD maxTransfer) {
    if (request.cdbLength == 0 || request.cdbLength > 16)
        return SS_INVALID_SRB;
    if ((request.flags & SRB_POSTING) && (request.flags & SRB_EVENT_NOTIFY))
        return SS_INVALID_SRB;
    const BYTE direction = request.flags & (SRB_DIR_IN | SRB_DIR_OUT);
    if (request.bufLen > 0) {
        // The pass-through needs to know the direction; we never guess it from the CDB.
        if (direction == 0 || direction == (SRB_DIR_IN | SRB_DIR_OUT) || !request.buffer)
            return SS_INVALID_SRB;
        if (request.bufLen > maxTransfer)
            return SS_BUFFER_TOO_BIG;
    } else if (direction == (SRB_DIR_IN | SRB_DIR_OUT)) {
        return SS_INVALID_SRB;
    }
    return SS_PENDING;
}

DWORD TAspiManager::ExecuteCommand(SRB_ExecSCSICmd &srb) {
    const TExecRequest request = CaptureRequest(&srb);
    BYTE refusal = SS_PENDING;
    TScsiDevice *device = nullptr;
    if (srb.SRB_HaId >= AdapterCount()) {
        refusal = SS_INVALID_HA;
    } else {
        TScsiAdapter &adapter = table_.adapters[srb.SRB_HaId];
        refusal = CheckExecRequest(request, adapter.maxTransfer);
        device = adapter.FindDevice(request.target, request.lun);
        if (refusal == SS_PENDING && !UnitPresent(device))
            refusal = SS_NO_DEVICE;
        if (refusal == SS_PENDING && !workers_[srb.SRB_HaId]->Started())
            refusal = SS_INSUFFICIENT_RESOURCES;
    }
    if (refusal != SS_PENDING) {
        RefuseRequest(backEnd_, request, refusal);
        return refusal;
    }
    srb.SRB_Status = SS_PENDING;
    workers_[srb.SRB_HaId]->Queue(request, device);
    return SS_PENDING;
}

DWORD TAspiManager::AbortRequest(SRB_Abort &srb) {
    if (srb.SRB_HaId >= AdapterCount())
        return SS_INVALID_HA;
    const auto *target = static_cast<const SRB_ExecSCSICmd *>(srb.SRB_ToAbort);
    return workers_[srb.SRB_HaId]->Abort(target) ? SS_COMP : SS_ABORT_FAIL;
}
