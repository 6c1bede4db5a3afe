// The update run behind UPDATE: every ticked drive in tick-box order, each under one modal
// showing of the progress window, then the success message.
#include <string>

#include "app/MainUnit.h"
#include "app/MessageBoxes.h"
#include "app/ProcessEnd.h"
#include "ui/Dialogs.h"
#include "update/FirmwareImage.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

constexpr int TickBoxCount = 7;
const char NoDriveSelectedMessage[] = "Select CD-R drive and click UPDATE.";
const char UpdateSuccessfulMessage[] = "Firmware update successful. Power down the drive and "
                                       "remove firmware jumper to use drive normally.";

} // namespace

BYTE UpdateTarget() {
    return static_cast<BYTE>(MainForm->CurrentTarget & 0xFF);
}

const BYTE *UpdateImage() {
    return MainForm->FirmwareBuffer;
}

void TMainForm::FirmUpdateClick() {
    int first = 1;
    while (first <= TickBoxCount && !TickBox(first).Checked())
        ++first;
    if (first > TickBoxCount) {
        ShowMessage(NoDriveSelectedMessage);
        return;
    }
    MainForm->Hide();
    for (int n = 1; n <= TickBoxCount; ++n) {
        if (!TickBox(n).Checked())
            continue;
        MainForm->CurrentTarget = n - 1;
        WriteForm->WriteLabel.SetCaption(WriteLabelText(TickBox(n).Caption(), ImageRevision));
        WriteForm->SetCaption(WriteFormTitle(ImageRevision));
        int result = WriteForm->ShowModal();
        // The next drive is started only once this drive's worker has finished. Only the worker
        // ends a showing while it runs; a showing ended otherwise means that it stopped without
        // finishing its drive, and no further drive may be written after that.
        WriteForm->WaitForWorker();
        if (result != ModalResultOk)
            EndProcess();
    }
    ShowInfoBoxAndExit(UpdateSuccessfulMessage);
}
