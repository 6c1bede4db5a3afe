// Binding of the ASPI manager wnaspi32.dll at run time.
#ifndef M770B_SCSI_ASPIBINDING_H
#define M770B_SCSI_ASPIBINDING_H

#include "scsi/wnaspi32.h"

// The two entry points as resolved by LoadAspi; null while the library is not bound.
// Unit tests put stand-ins of their own here.
extern LPGETASPI32SUPPORTINFO GetASPI32SupportInfoEntry;
extern LPSENDASPI32COMMAND SendASPI32CommandEntry;

// Loads "wnaspi32.dll" and resolves both entry points, or ends the process with a fatal message.
// The working directory is first taken off the DLL search path where Windows allows it.
void LoadAspi();

// Frees the library if it is loaded and clears the handle and the entry points.
void UnloadAspi();

// The library LoadAspi bound; null while none is bound.
HMODULE BoundAspiLibrary();

#endif
