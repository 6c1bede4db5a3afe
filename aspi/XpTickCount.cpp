// The static MinGW-w64 thread library calls GetTickCount64, which Windows XP does not have: a
// program or DLL importing it does not even load there. This file provides the import slot
// that the thread library refers to (__imp_GetTickCount64), so the linker takes no import from
// kernel32.dll; the slot resolves GetTickCount64 at run time where Windows has it and counts on
// from GetTickCount where it does not.
#include <windows.h>

namespace {

// GetTickCount wraps after 49.7 days; the wraps seen so far extend it to 64 bits. Callers on
// several threads are serialised by a spin lock (no initialisation needed, nothing at load).
ULONGLONG WINAPI TickCountFromGetTickCount() {
    static LONG busy;
    static DWORD last;
    static ULONGLONG wraps;
    while (InterlockedExchange(&busy, 1) != 0)
        Sleep(0);
    const DWORD now = GetTickCount();
    if (now < last)
        wraps += 0x100000000ULL;
    last = now;
    const ULONGLONG result = wraps + now;
    InterlockedExchange(&busy, 0);
    return result;
}

using TTickCount64 = ULONGLONG(WINAPI *)();

ULONGLONG WINAPI ResolveTickCount64();

} // namespace

#if defined(__i386__)
#define M770B_IMPORT_SLOT "__imp__GetTickCount64@0"
#else
#define M770B_IMPORT_SLOT "__imp_GetTickCount64"
#endif

extern "C" {
extern TTickCount64 TickCount64Slot __asm__(M770B_IMPORT_SLOT);
TTickCount64 TickCount64Slot = ResolveTickCount64;
}

namespace {

ULONGLONG WINAPI ResolveTickCount64() {
    TTickCount64 found = reinterpret_cast<TTickCount64>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
    TTickCount64 chosen = found ? found : TickCountFromGetTickCount;
    InterlockedExchangePointer(reinterpret_cast<PVOID *>(&TickCount64Slot),
                               reinterpret_cast<PVOID>(chosen));
    return chosen();
}

} // namespace
