// A call of Windows looked up by name at run time, for the calls that not every Windows the
// program runs on offers (a newer one is then used where present) and for the ASPI manager's
// entry points.
#ifndef M770B_UI_SYSTEMCALL_H
#define M770B_UI_SYSTEMCALL_H

#include <windows.h>

// The function `name` of `module` in its own type `Call`; null where the module (null) or the
// function is missing. GetProcAddress hands back a generic function pointer; the type is restored
// through an object pointer, which the compiler does not warn about.
template <typename Call> Call FindSystemCall(HMODULE module, const char *name) {
    if (!module)
        return nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

#endif
