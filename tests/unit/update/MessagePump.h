// The test's own thread plays the user-interface thread: it owns the application's hidden
// window and the forms, and pumps their messages while a worker runs.
#ifndef M770B_TESTS_UNIT_UPDATE_MESSAGEPUMP_H
#define M770B_TESTS_UNIT_UPDATE_MESSAGEPUMP_H

#include <functional>

// Dispatches this thread's messages until `done` holds. False when it did not hold within
// `limitMs` (a hung worker fails the test instead of hanging the run).
bool PumpUntil(const std::function<bool()> &done, unsigned limitMs = 20000);

// Creates the application window once per test program.
void InitialiseTestApplication();
// For a test of the progress window: the application window and WriteForm (hidden), both once per
// test program, and no message recorded yet.
void PrepareProgressWindowTest();

#endif
