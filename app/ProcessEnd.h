// The one way the program ends at once: ExitProcess(0), whatever happened. The exit code never
// tells success from failure; the user learns the outcome from the message shown before.
// Unit tests link a stand-in that records the call instead.
#ifndef M770B_APP_PROCESSEND_H
#define M770B_APP_PROCESSEND_H

[[noreturn]] void EndProcess();

#endif
