#include "update/WorkerStart.h"

#include "outcome/ProcessEnd.h"
#include "ui/Application.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

TThread *NewSledSCSI() {
    return new TSledSCSI(true);
}

} // namespace

TThread *(*NewDriveWorker)() = NewSledSCSI;

void EndWithWorkerFailure() {
    if (WriteForm)
        WriteForm->Hide();
    Application.ShowCurrentException();
    EndProcess();
}
