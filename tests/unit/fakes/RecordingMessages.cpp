#include "tests/unit/fakes/RecordingMessages.h"

#include <mutex>

#include "outcome/OutcomeCalls.h"
#include "tests/unit/fakes/FakeSequence.h"

namespace {

std::mutex RecordLock;
std::vector<ShownMessage> Messages;
int ProcessEnds;

void Record(MessageFunction function, const char *text) {
    std::lock_guard<std::mutex> lock(RecordLock);
    Messages.push_back({function, text ? text : "(null)", NextFakeSequence()});
}

const char *FunctionName(MessageFunction function) {
    switch (function) {
    case MessageFunction::ShowErrorBox:
        return "ShowErrorBox";
    case MessageFunction::ShowFatalErrorBox:
        return "ShowFatalErrorBox";
    case MessageFunction::ShowInfoBoxAndExit:
        return "ShowInfoBoxAndExit";
    }
    return "?";
}

MessageFunction FunctionOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Error:
        return MessageFunction::ShowErrorBox;
    case BoxKind::FatalError:
        return MessageFunction::ShowFatalErrorBox;
    case BoxKind::InfoAndExit:
        return MessageFunction::ShowInfoBoxAndExit;
    }
    return MessageFunction::ShowErrorBox;
}

void RecordBox(BoxKind kind, const char *text) {
    Record(FunctionOf(kind), text);
}

void RecordProcessEnd() {
    {
        std::lock_guard<std::mutex> lock(RecordLock);
        ++ProcessEnds;
    }
    throw ProcessEnded{};
}

// Installed before any test runs: this file is linked as objects, so it is always part of the
// program that links it.
[[maybe_unused]] const bool Installed = (Outcome = OutcomeCalls{RecordBox, RecordProcessEnd}, true);

} // namespace

std::vector<ShownMessage> RecordedMessages() {
    std::lock_guard<std::mutex> lock(RecordLock);
    return Messages;
}

std::vector<std::string> RecordedMessageTexts() {
    std::vector<std::string> texts;
    for (const ShownMessage &message : RecordedMessages()) {
        texts.push_back(message.text);
    }
    return texts;
}

int RecordedProcessEnds() {
    std::lock_guard<std::mutex> lock(RecordLock);
    return ProcessEnds;
}

void ResetRecordedMessages() {
    std::lock_guard<std::mutex> lock(RecordLock);
    Messages.clear();
    ProcessEnds = 0;
}

ShownMessage ErrorBoxWith(const std::string &text) {
    return {MessageFunction::ShowErrorBox, text};
}
ShownMessage FatalErrorBoxWith(const std::string &text) {
    return {MessageFunction::ShowFatalErrorBox, text};
}
ShownMessage InfoBoxWith(const std::string &text) {
    return {MessageFunction::ShowInfoBoxAndExit, text};
}

std::ostream &operator<<(std::ostream &out, const ShownMessage &message) {
    return out << FunctionName(message.function) << "(\"" << message.text << "\")";
}
