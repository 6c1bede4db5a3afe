#include "aspi/EntryPoints.h"

#include "aspi/ExecRequest.h"

namespace {

enum : LONG { NotBuilt, BeingBuilt, Ready, Failed };

// SendASPI32Command's answer when the manager cannot take a block. SRB_Status says it as the
// return value does: a client may poll SRB_Status whatever the call returned. An SC_EXEC_SCSI_CMD
// is completed as the manager completes any block it refuses.
DWORD RefuseBlock(TDeviceBackEnd &backEnd, LPSRB block) {
    constexpr BYTE status = SS_INSUFFICIENT_RESOURCES;
    if (!block)
        return status;
    SRB_Header &header = *static_cast<SRB_Header *>(block);
    if (header.SRB_Cmd == SC_EXEC_SCSI_CMD)
        RefuseRequest(backEnd, CaptureRequest(static_cast<SRB_ExecSCSICmd *>(block)), status);
    else
        header.SRB_Status = status;
    return status;
}

} // namespace

TAspiManager *TAspiEntryPoints::Manager(TDeviceBackEnd &backEnd) {
    if (InterlockedCompareExchange(&state_, BeingBuilt, NotBuilt) == NotBuilt) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&RefuseBlock), &self);
        LONG built = Failed;
        try {
            manager_ = new TAspiManager(backEnd);
            built = Ready;
        } catch (...) {
        }
        InterlockedExchange(&state_, built);
    }
    LONG state = InterlockedCompareExchange(&state_, BeingBuilt, BeingBuilt);
    if (state == BeingBuilt && waiting_)
        SetEvent(waiting_);
    while (state == BeingBuilt) {
        Sleep(1);
        state = InterlockedCompareExchange(&state_, BeingBuilt, BeingBuilt);
    }
    return state == Ready ? manager_ : nullptr;
}

DWORD TAspiEntryPoints::SupportInfo(TDeviceBackEnd &backEnd) {
    TAspiManager *manager = Manager(backEnd);
    return manager ? manager->SupportInfo() : DWORD(SS_INSUFFICIENT_RESOURCES) << 8;
}

DWORD TAspiEntryPoints::SendCommand(TDeviceBackEnd &backEnd, LPSRB srb) {
    TAspiManager *manager = Manager(backEnd);
    if (!manager)
        return RefuseBlock(backEnd, srb);
    try {
        return manager->SendCommand(srb);
    } catch (...) { // no room to queue the block: it was not taken
        return RefuseBlock(backEnd, srb);
    }
}
