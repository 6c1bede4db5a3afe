#include "outcome/MessageBoxes.h"

#include "outcome/BeforeOutcome.h"
#include "outcome/OutcomeCalls.h"
#include "outcome/ProcessEnd.h"
#include "record/RunRecord.h"

namespace {

// The box goes into the record before it is shown: a box left standing when the machine is
// switched off is still there. A hold on the session is given back before either.
void ShowBox(BoxKind kind, const char *recordName, const char *text) {
    RunBeforeOutcome();
    RecordLine(std::string(recordName) + ": " + Quoted(text));
    Outcome.showBox(kind, text);
}

} // namespace

void ShowErrorBox(const char *text) {
    ShowBox(BoxKind::Error, "Error box", text);
}

void ShowFatalErrorBox(const char *text) {
    ShowBox(BoxKind::FatalError, "Fatal error box", text);
    EndProcess();
}

void ShowInfoBoxAndExit(const char *text) {
    ShowBox(BoxKind::InfoAndExit, "Information box", text);
    EndProcess();
}
