// What must be given back before the program tells the user how something ended, or ends. While
// a drive is written the update layer holds Windows' session (no sleep when idle, the shut-down
// blocked with its reason); once a step has failed nothing is being written, and neither its box
// nor the end of the process may stand behind that hold. The outcome library cannot know the
// update layer, so the update layer puts its release here while it holds, and every box and the
// process end run it first.
#ifndef M770B_OUTCOME_BEFOREOUTCOME_H
#define M770B_OUTCOME_BEFOREOUTCOME_H

// The call to run before the next box or the process end; null for none. Any thread.
void SetBeforeOutcome(void (*call)());

// Runs the call set, if any, once: it is cleared first. Any thread.
void RunBeforeOutcome();

#endif
