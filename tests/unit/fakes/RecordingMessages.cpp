#include "tests/unit/fakes/RecordingMessages.h"

#include <mutex>

#include "app/MessageBoxes.h"
#include "app/ProcessEnd.h"
#include "tests/unit/fakes/FakeSequence.h"

const char *const ProgramTitle = "ZD-M770B Firmware update";

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

} // namespace

void ShowErrorBox(const char *text) {
    Record(MessageFunction::ShowErrorBox, text);
}

void ShowFatalErrorBox(const char *text) {
    Record(MessageFunction::ShowFatalErrorBox, text);
    EndProcess();
}

void ShowInfoBoxAndExit(const char *text) {
    Record(MessageFunction::ShowInfoBoxAndExit, text);
    EndProcess();
}

void EndProcess() {
    {
        std::lock_guard<std::mutex> lock(RecordLock);
        ++ProcessEnds;
    }
    throw ProcessEnded{};
}

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
