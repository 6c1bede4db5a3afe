// The entry points of wnaspi32.dll. Nothing runs when the DLL is loaded: the adapters are
// found on the first call, whichever entry point it is and whichever thread makes it.
#include "ProjectVersion.h"
#include "aspi/AspiManager.h"
#include "aspi/ExecRequest.h"

namespace {

enum : LONG { NotBuilt, BeingBuilt, Ready, Failed };

TAspiManager *Manager;
LONG ManagerState = NotBuilt;

// The manager lives until the process ends, and so does the DLL: its worker threads run our
// code, so the module is pinned in memory before the first of them starts. A manager that could
// not be built is not tried again: that call and every later one, and every call that waited
// for the build, get the same answer at once. Returns null then.
TAspiManager *TheManager() {
    if (InterlockedCompareExchange(&ManagerState, BeingBuilt, NotBuilt) == NotBuilt) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&TheManager), &self);
        LONG built = Failed;
        try {
            Manager = new TAspiManager(SystemBackEnd());
            built = Ready;
        } catch (...) {
        }
        InterlockedExchange(&ManagerState, built);
    }
    LONG state;
    while ((state = InterlockedCompareExchange(&ManagerState, BeingBuilt, BeingBuilt)) ==
           BeingBuilt)
        Sleep(1);
    return state == Ready ? Manager : nullptr;
}

// SendASPI32Command's answer when the manager cannot take a block. SRB_Status says it as the
// return value does: a client may poll SRB_Status whatever the call returned. An SC_EXEC_SCSI_CMD
// is completed as the manager completes any block it refuses.
DWORD RefuseBlock(LPSRB block) {
    constexpr BYTE status = SS_INSUFFICIENT_RESOURCES;
    if (!block)
        return status;
    SRB_Header &header = *static_cast<SRB_Header *>(block);
    if (header.SRB_Cmd == SC_EXEC_SCSI_CMD)
        RefuseRequest(SystemBackEnd(), CaptureRequest(static_cast<SRB_ExecSCSICmd *>(block)),
                      status);
    else
        header.SRB_Status = status;
    return status;
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    TAspiManager *manager = TheManager();
    return manager ? manager->SupportInfo() : DWORD(SS_INSUFFICIENT_RESOURCES) << 8;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(LPSRB srb) {
    TAspiManager *manager = TheManager();
    if (!manager)
        return RefuseBlock(srb);
    try {
        return manager->SendCommand(srb);
    } catch (...) { // no room to queue the block: it was not taken
        return RefuseBlock(srb);
    }
}

// The manager's version: major in the low byte, minor in the next, the patch level above.
__declspec(dllexport) DWORD __cdecl GetASPI32DLLVersion(void) {
    return DWORD(M770B_VERSION_MAJOR) | (DWORD(M770B_VERSION_MINOR) << 8) |
           (DWORD(M770B_VERSION_PATCH) << 16);
}

} // extern "C"
