// One counter shared by every recording stand-in, so a test can tell in which order things
// happened across them (an event reset before the request was sent, a message after it).
#ifndef M770B_TESTS_FAKES_FAKESEQUENCE_H
#define M770B_TESTS_FAKES_FAKESEQUENCE_H

// The next number of the shared count; thread-safe, strictly increasing.
unsigned NextFakeSequence();

#endif
