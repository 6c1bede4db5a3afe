// The one way the program ends at once: ExitProcess(0), whatever happened. The exit code never
// tells success from failure; the user learns the outcome from the message shown before, and the
// run's record from its last lines, which the end writes first.
#ifndef M770B_OUTCOME_PROCESSEND_H
#define M770B_OUTCOME_PROCESSEND_H

[[noreturn]] void EndProcess();

#endif
