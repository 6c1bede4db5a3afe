// What the exported entry points of wnaspi32.dll do. Nothing runs when the DLL is loaded: the
// first call, whichever entry point it is and whichever thread makes it, builds the manager
// (which finds the adapters), and later calls use it. The manager lives until the process ends,
// and so does the module that holds this code: the manager's worker threads run it, so it is
// pinned in memory before the first of them starts. A manager that could not be built is not
// tried again: that call, every call that waited for the build and every later one get the same
// answer at once.
#ifndef M770B_ASPI_ENTRYPOINTS_H
#define M770B_ASPI_ENTRYPOINTS_H

#include "aspi/AspiManager.h"

class TAspiEntryPoints {
  public:
    // `waiting`, when given, is an event set by each call that finds the manager being built by
    // another call and waits for it: the sign a test waits for. Constant-initialised, so that a
    // global one needs no code at load.
    constexpr explicit TAspiEntryPoints(HANDLE waiting = nullptr) : waiting_(waiting) {}
    TAspiEntryPoints(const TAspiEntryPoints &) = delete;
    TAspiEntryPoints &operator=(const TAspiEntryPoints &) = delete;

    DWORD SupportInfo(TDeviceBackEnd &backEnd);            // GetASPI32SupportInfo
    DWORD SendCommand(TDeviceBackEnd &backEnd, LPSRB srb); // SendASPI32Command

  private:
    // The manager, built by the first call; null when it could not be built.
    TAspiManager *Manager(TDeviceBackEnd &backEnd);

    HANDLE waiting_;
    TAspiManager *manager_ = nullptr;
    LONG state_ = 0;
};

#endif
