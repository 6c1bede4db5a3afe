// The entry points of wnaspi32.dll, over the one manager of the process (EntryPoints.h).
#include "ProjectVersion.h"
#include "aspi/EntryPoints.h"

namespace {

TAspiEntryPoints EntryPoints;

} // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    return EntryPoints.SupportInfo(SystemBackEnd());
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(LPSRB srb) {
    return EntryPoints.SendCommand(SystemBackEnd(), srb);
}

// The manager's version: major in the low byte, minor in the next, the patch level above.
__declspec(dllexport) DWORD __cdecl GetASPI32DLLVersion(void) {
    return DWORD(M770B_VERSION_MAJOR) | (DWORD(M770B_VERSION_MINOR) << 8) |
           (DWORD(M770B_VERSION_PATCH) << 16);
}

} // extern "C"
