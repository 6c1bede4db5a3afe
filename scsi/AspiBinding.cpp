#include "scsi/AspiBinding.h"

#include "outcome/MessageBoxes.h"
#include "scsi/RequestStatus.h"

LPGETASPI32SUPPORTINFO GetASPI32SupportInfoEntry;
LPSENDASPI32COMMAND SendASPI32CommandEntry;

namespace {

HMODULE AspiLibrary;

// GetProcAddress hands back a generic function pointer; the entry point's own type is restored
// through an object pointer, which the compiler does not warn about.
template <typename Entry> Entry ResolveEntry(HMODULE library, const char *name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

// The user keeps Firmware.bin in the working directory, often a download folder; a planted
// wnaspi32.dll there must not be loaded. SetDllDirectoryA("") takes the working directory off the
// DLL search path; Windows XP before SP1 lacks the call, and then the search stays as it is.
void RemoveWorkingDirectoryFromDllSearch() {
    using SetDllDirectoryCall = BOOL(WINAPI *)(LPCSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) {
        return;
    }
    auto setDllDirectory = ResolveEntry<SetDllDirectoryCall>(kernel, "SetDllDirectoryA");
    if (setDllDirectory) {
        setDllDirectory("");
    }
}

} // namespace

void LoadAspi() {
    RemoveWorkingDirectoryFromDllSearch();
    AspiLibrary = LoadLibraryA("wnaspi32.dll");
    if (!AspiLibrary) {
        ShowFatalErrorBox(TransportText(TransportMessage::LibraryNotFound));
    }
    GetASPI32SupportInfoEntry =
        ResolveEntry<LPGETASPI32SUPPORTINFO>(AspiLibrary, "GetASPI32SupportInfo");
    if (!GetASPI32SupportInfoEntry) {
        ShowFatalErrorBox(TransportText(TransportMessage::SupportInfoNotFound));
    }
    SendASPI32CommandEntry = ResolveEntry<LPSENDASPI32COMMAND>(AspiLibrary, "SendASPI32Command");
    if (!SendASPI32CommandEntry) {
        ShowFatalErrorBox(TransportText(TransportMessage::SendCommandNotFound));
    }
}

void UnloadAspi() {
    if (AspiLibrary) {
        FreeLibrary(AspiLibrary);
        AspiLibrary = nullptr;
        GetASPI32SupportInfoEntry = nullptr;
        SendASPI32CommandEntry = nullptr;
    }
}

HMODULE BoundAspiLibrary() {
    return AspiLibrary;
}
