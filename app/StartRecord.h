// The start of the program as the run's record tells it: what runs, on what, and with which ASPI
// manager.
#ifndef M770B_APP_STARTRECORD_H
#define M770B_APP_STARTRECORD_H

// "M770BUpdate <version> started; [Wine <version> as ]Windows <major>.<minor>
// build <build>[ <service pack>]; <32|64>-bit Windows; elevated: <yes|no|unknown>". The version
// comes from RtlGetVersion (which, unlike GetVersionEx, does not depend on the manifest), Wine's
// from wine_get_version, 64-bit Windows from IsWow64Process for the 32-bit program, elevation from
// the process token (a question Windows XP does not know). The calls newer than Windows 2000, and
// Wine's, are looked up at run time.
void RecordProgramStart();

// "wnaspi32.dll bound: <full path>, file version <a.b.c.d>" (or "no version resource"), for the
// library LoadAspi bound.
void RecordAspiLibrary();

#endif
