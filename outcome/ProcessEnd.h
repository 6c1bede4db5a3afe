// The one way the program ends at once: ExitProcess(0), whatever happened. The exit code never
// tells success from failure; the user learns the outcome from the message shown before.
#ifndef M770B_OUTCOME_PROCESSEND_H
#define M770B_OUTCOME_PROCESSEND_H

[[noreturn]] void EndProcess();

#endif
