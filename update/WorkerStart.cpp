#include "update/WorkerStart.h"

#include "outcome/ProcessEnd.h"
#include "ui/Application.h"
#include "update/SessionGuard.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

TThread *NewSledSCSI() {
    return new TSledSCSI(true);
}

} // namespace

TThread *(*NewDriveWorker)() = NewSledSCSI;

void EndWithWorkerFailure() {
    // The toolkit's box is not one of the outcome library's: the hold goes here.
    ReleaseHeldSession();
    if (WriteForm)
        WriteForm->Hide();
    Application.ShowCurrentException();
    EndProcess();
}
