#include "outcome/MessageBoxes.h"

#include "outcome/BeforeOutcome.h"
#include "outcome/OutcomeCalls.h"
#include "outcome/ProcessEnd.h"
#include "record/RunRecord.h"

namespace {

// The box goes into the record before it is shown, and so does the end of the run where the box
// ends it: a box left standing when the machine is switched off is still there, and so is how
// far every drive got. `endsRun` names the call that writes that end. A hold on the session is
// given back before either.
void ShowBox(BoxKind kind, const char *recordName, const char *text, void (*endsRun)()) {
    RunBeforeOutcome();
    RecordLine(std::string(recordName) + ": " + Quoted(text));
    endsRun();
    Outcome.showBox(kind, text);
}

} // namespace

void ShowErrorBox(const char *text) {
    ShowBox(BoxKind::Error, "Error box", text, RecordFailureShown);
}

void ShowFatalErrorBox(const char *text) {
    ShowBox(BoxKind::FatalError, "Fatal error box", text, RecordEnd);
    EndProcess();
}

void ShowInfoBoxAndExit(const char *text) {
    ShowBox(BoxKind::InfoAndExit, "Information box", text, RecordEnd);
    EndProcess();
}
