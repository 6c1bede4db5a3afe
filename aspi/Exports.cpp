// The entry points of wnaspi32.dll. Nothing runs when the DLL is loaded: the adapters are
// found on the first call, whichever entry point it is and whichever thread makes it.
#include "ProjectVersion.h"
#include "aspi/AspiManager.h"

namespace {

TAspiManager *Manager;
LONG ManagerState; // 0: not built, 1: being built, 2: ready

// The manager lives until the process ends, and so does the DLL: its worker threads run our
// code, so the module is pinned in memory before the first of them starts.
TAspiManager &TheManager() {
    if (InterlockedCompareExchange(&ManagerState, 1, 0) == 0) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&TheManager), &self);
        Manager = new TAspiManager(SystemBackEnd());
        InterlockedExchange(&ManagerState, 2);
    } else {
        while (InterlockedCompareExchange(&ManagerState, 2, 2) != 2)
            Sleep(1);
    }
    return *Manager;
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    try {
        return TheManager().SupportInfo();
    } catch (...) {
        return DWORD(SS_INSUFFICIENT_RESOURCES) << 8;
    }
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(LPSRB srb) {
    try {
        return TheManager().SendCommand(srb);
    } catch (...) {
        return SS_INSUFFICIENT_RESOURCES;
    }
}

// The manager's version: major in the low byte, minor in the next, the patch level above.
__declspec(dllexport) DWORD __cdecl GetASPI32DLLVersion(void) {
    return DWORD(M770B_VERSION_MAJOR) | (DWORD(M770B_VERSION_MINOR) << 8) |
           (DWORD(M770B_VERSION_PATCH) << 16);
}

} // extern "C"
