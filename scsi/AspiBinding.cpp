#include "scsi/AspiBinding.h"

#include "outcome/MessageBoxes.h"
#include "scsi/RequestStatus.h"
#include "ui/SystemCall.h"

LPGETASPI32SUPPORTINFO GetASPI32SupportInfoEntry;
LPSENDASPI32COMMAND SendASPI32CommandEntry;

namespace {

HMODULE AspiLibrary;

// The user keeps Firmware.bin in the working directory, often a download folder; a planted
// wnaspi32.dll there must not be loaded. SetDllDirectoryA("") takes the working directory off the
// DLL search path; Windows XP before SP1 lacks the call, and then the search stays as it is.
void RemoveWorkingDirectoryFromDllSearch() {
    using SetDllDirectoryCall = BOOL(WINAPI *)(LPCSTR);
    auto setDllDirectory =
        FindSystemCall<SetDllDirectoryCall>(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
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
        FindSystemCall<LPGETASPI32SUPPORTINFO>(AspiLibrary, "GetASPI32SupportInfo");
    if (!GetASPI32SupportInfoEntry) {
        ShowFatalErrorBox(TransportText(TransportMessage::SupportInfoNotFound));
    }
    SendASPI32CommandEntry = FindSystemCall<LPSENDASPI32COMMAND>(AspiLibrary, "SendASPI32Command");
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
