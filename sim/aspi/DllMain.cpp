// The entry points of our virtual wnaspi32.dll. The manager is created when the DLL is loaded
// (that is when the scenario is read) and lives until it is unloaded.
#include "scsi/wnaspi32.h"
#include "sim/aspi/SimManager.h"

namespace {
TSimManager *Manager = nullptr;
}

extern "C" DWORD __cdecl GetASPI32SupportInfo(void) {
    return Manager ? Manager->SupportInfo() : DWORD(SS_FAILED_INIT) << 8;
}

extern "C" DWORD __cdecl SendASPI32Command(LPSRB srb) {
    return Manager ? Manager->Send(srb) : DWORD(SS_FAILED_INIT);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        try {
            Manager = new TSimManager(instance);
        } catch (...) {
            Manager = nullptr; // every entry point then answers SS_FAILED_INIT
        }
        break;
    case DLL_PROCESS_DETACH:
        // On FreeLibrary the worker is gone (it holds a reference while it runs). At process
        // end the other threads are already stopped; nothing needs releasing then.
        if (!reserved)
            delete Manager;
        Manager = nullptr;
        break;
    default:
        break;
    }
    return TRUE;
}
