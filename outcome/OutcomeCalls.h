// Where the message boxes and the process end finally go. In the program they are Windows' own:
// MessageBeep and MessageBoxA with the box's style, and ExitProcess(0). Unit tests install a
// recording stand-in here (tests/unit/fakes/RecordingMessages.h), so the functions above them run
// unchanged and nothing appears on screen.
#ifndef M770B_OUTCOME_OUTCOMECALLS_H
#define M770B_OUTCOME_OUTCOMECALLS_H

// Which of the three boxes is shown; it chooses the box's icon.
enum class BoxKind { Error, FatalError, InfoAndExit };

struct OutcomeCalls {
    void (*showBox)(BoxKind kind, const char *text);
    // Never returns in the program; a stand-in ends the caller by throwing.
    void (*endProcess)();
};

// The calls the message boxes and EndProcess make; initially WindowsOutcome.
extern OutcomeCalls Outcome;

// Windows' own, for restoring Outcome.
extern const OutcomeCalls WindowsOutcome;

#endif
