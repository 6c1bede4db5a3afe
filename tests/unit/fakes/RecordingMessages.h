// A recording stand-in for where the program's message boxes (outcome/MessageBoxes.h) and its process
// end (outcome/ProcessEnd.h) go, for unit tests: the target m770b_recording_outcome. Linking it
// installs it in outcome/OutcomeCalls.h's Outcome before any test runs; the real functions of the
// outcome library run unchanged above it.
//
// - Every ShowErrorBox, ShowFatalErrorBox and ShowInfoBoxAndExit is recorded with its text and
//   the function that showed it; nothing appears on screen.
// - EndProcess records the end and throws ProcessEnded. A test that expects the program to end
//   catches it: EXPECT_THROW(EraseStep(), ProcessEnded). The fatal boxes end this way too.
//   Only throw it through code of our own: never through a window procedure or a thread entry
//   point of Windows (run such code on the test's own thread, or catch it there).
// - The records are thread-safe; clear them at the start of each test with ResetRecordedMessages.
#ifndef M770B_TESTS_FAKES_RECORDINGMESSAGES_H
#define M770B_TESTS_FAKES_RECORDINGMESSAGES_H

#include <ostream>
#include <string>
#include <vector>

enum class MessageFunction { ShowErrorBox, ShowFatalErrorBox, ShowInfoBoxAndExit };

struct ShownMessage {
    MessageFunction function;
    std::string text;
    unsigned sequence = 0; // position in the shared order of NextFakeSequence; not compared

    bool operator==(const ShownMessage &other) const {
        return function == other.function && text == other.text;
    }
};

// What EndProcess throws instead of ending the process.
struct ProcessEnded {};

// Every message shown since the last reset, in order.
std::vector<ShownMessage> RecordedMessages();
// The texts alone, in order.
std::vector<std::string> RecordedMessageTexts();
// How often EndProcess was called since the last reset.
int RecordedProcessEnds();
// Forgets every message and process end.
void ResetRecordedMessages();

// Shorthands for expectations: ShownMessage{MessageFunction::ShowErrorBox, text}.
ShownMessage ErrorBoxWith(const std::string &text);
ShownMessage FatalErrorBoxWith(const std::string &text);
ShownMessage InfoBoxWith(const std::string &text);

std::ostream &operator<<(std::ostream &out, const ShownMessage &message);

#endif
