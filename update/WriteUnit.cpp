#include "update/WriteUnit.h"

#include <initializer_list>
#include <vector>

#include "outcome/MessageBoxes.h"
#include "outcome/ProcessEnd.h"
#include "outcome/ProgramTitle.h"
#include "record/RunRecord.h"
#include "scsi/RequestBlocks.h"
#include "ui/Dialogs.h"
#include "ui/Exception.h"
#include "update/FirmwareImage.h"
#include "update/SessionGuard.h"
#include "update/UpdateTexts.h"
#include "update/WorkerStart.h"
#include "update/sledscsi.h"

TWriteForm *WriteForm = nullptr;

namespace {

const COLORREF Black = RGB(0, 0, 0);
const FontSpec Arial11 = {
    .name = L"Arial", .charset = ANSI_CHARSET, .height = -11, .colour = Black};
const FontSpec Arial12 = {
    .name = L"Arial", .charset = ANSI_CHARSET, .height = -12, .colour = Black};

// clang-format off
const ControlLayout WriteFormControls[] = {
    {.kind = ControlKind::ProgressBar, .name = "WriteProgressBar", .parent = ParentIsForm,
     .left = 8, .top = 56, .width = 313, .height = 17,
     .caption = nullptr, .font = nullptr, .tabOrder = 0, .visible = true, .flags = 0,
     .range = {.minimum = 0, .maximum = 100, .step = 1}},
    {.kind = ControlKind::Label, .name = "WriteLabel", .parent = ParentIsForm,
     .left = 8, .top = 16, .width = 201, .height = 14,
     .caption = "WriteLabel", .font = &Arial11, .tabOrder = NoTabStop, .visible = true,
     .flags = ControlAutoSize},
    {.kind = ControlKind::Label, .name = "Label1", .parent = ParentIsForm,
     .left = 8, .top = 40, .width = 18, .height = 15,
     .caption = "0%", .font = &Arial12, .tabOrder = NoTabStop, .visible = true},
    {.kind = ControlKind::Label, .name = "Label2", .parent = ParentIsForm,
     .left = 288, .top = 40, .width = 40, .height = 15,
     .caption = "100%", .font = &Arial12, .tabOrder = NoTabStop, .visible = true},
};
// clang-format on

// Caption positions used by the label: the head, and the drive's revision after one skipped
// character.
constexpr std::size_t HeadLength = 29;
constexpr std::size_t DriveRevisionStart = 30;
constexpr std::size_t DriveRevisionLength = 4;

// `form` with each "%s" replaced by the next of `parts`.
std::string FillForm(const char *form, std::initializer_list<std::string> parts) {
    std::string text;
    auto part = parts.begin();
    for (const char *at = form; *at; ++at) {
        if (at[0] == '%' && at[1] == 's' && part != parts.end()) {
            text += *part++;
            ++at;
        } else {
            text += *at;
        }
    }
    return text;
}

} // namespace

// clang-format off
const FormLayout WriteFormLayout = {
    .className = "TWriteForm", .caption = ProgramTitle, .border = FormBorder::None,
    .topMost = true, .clientWidth = 329, .clientHeight = 81, .font = Arial12,
    .controls = WriteFormControls,
    .controlCount = sizeof WriteFormControls / sizeof *WriteFormControls};
// clang-format on

std::string WriteLabelText(const std::string &caption, const char *imageRevision) {
    std::string head = caption.substr(0, HeadLength);
    std::string driveRevision = caption.size() > DriveRevisionStart
                                    ? caption.substr(DriveRevisionStart, DriveRevisionLength)
                                    : std::string();
    return FillForm(UpdateText(UpdateMessage::WriteLabelForm),
                    {head, driveRevision, imageRevision});
}

std::string AdapterLimitRefusal(DWORD maxTransfer) {
    if (maxTransfer == 0 || maxTransfer >= FirmwareChunkSize)
        return std::string();
    return FillForm(UpdateText(UpdateMessage::AdapterTooNarrow), {std::to_string(maxTransfer)});
}

void RunUpdate(TForm &mainWindow, TCheckBox *const (&tickBoxes)[TickBoxCount],
               std::int32_t &currentTarget, const BYTE *image) {
    std::vector<std::string> ticked;
    for (TCheckBox *box : tickBoxes)
        if (box->Checked())
            ticked.push_back(box->Caption());
    if (ticked.empty()) {
        ShowMessage(UpdateText(UpdateMessage::NoDriveSelected));
        return;
    }
    RecordRunDrives(ticked);
    mainWindow.Hide();
    // Each chunk goes in one request: an adapter that cannot carry it would refuse the first
    // chunk only after the erase had emptied the drive's flash.
    const std::string refusal = AdapterLimitRefusal(HostAdapterMaxTransfer);
    if (!refusal.empty())
        ShowFatalErrorBox(refusal.c_str());
    for (int n = 1; n <= TickBoxCount; ++n) {
        const TCheckBox &box = *tickBoxes[n - 1];
        if (!box.Checked())
            continue;
        RecordDriveStarted();
        currentTarget = n - 1;
        WriteForm->Target = static_cast<BYTE>(currentTarget & 0xFF);
        WriteForm->Image = image;
        WriteForm->WriteLabel.SetCaption(WriteLabelText(box.Caption(), ImageRevision));
        WriteForm->SetCaption(RevisionTitle(ImageRevision));
        int result = WriteForm->ShowModal();
        // The next drive is started only once this drive's worker has finished. Only the worker
        // ends a showing while it runs; a showing ended otherwise means that it stopped without
        // finishing its drive, and no further drive may be written after that.
        WriteForm->WaitForWorker();
        if (result != ModalResultOk)
            EndProcess();
    }
    ShowInfoBoxAndExit(UpdateText(UpdateMessage::UpdateSuccessful));
}

TWriteForm::TWriteForm(TApplication &owner) : TForm(owner, WriteFormLayout) {
    workerIdle_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!workerIdle_)
        throw Exception(UpdateText(UpdateMessage::ProgressEventNotCreated));
}

TWriteForm::~TWriteForm() {
    CloseHandle(workerIdle_);
}

// A borderless pop-up as the toolkit makes it, given a title bar: WS_DLGFRAME, then WS_BORDER
// (together WS_CAPTION), still without system menu, close box or sizing frame.
void TWriteForm::CreateParams(TCreateParams &params) {
    params.style |= WS_DLGFRAME;
    params.style |= WS_BORDER;
}

void TWriteForm::FormActivate() {
    WriteProgressBar.SetPosition(0);
    Repaint();
    TThread *worker = nullptr;
    try {
        worker = NewDriveWorker();
    } catch (...) {
        EndWithWorkerFailure();
    }
    worker->FreeOnTerminate = true;
    ResetEvent(workerIdle_);
    worker->Resume();
}

bool TWriteForm::WorkerRunning() const {
    return WaitForSingleObject(workerIdle_, 0) != WAIT_OBJECT_0;
}

void TWriteForm::WorkerFinished() {
    SetEvent(workerIdle_);
}

void TWriteForm::WaitForWorker() {
    // PeekMessage delivers the messages other threads send to this thread's windows (the
    // worker's repaints); posted messages stay queued for the next loop.
    while (MsgWaitForMultipleObjects(1, &workerIdle_, FALSE, INFINITE, QS_SENDMESSAGE) !=
           WAIT_OBJECT_0) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool TWriteForm::CloseQuery() {
    return !WorkerRunning();
}

bool TWriteForm::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT &result) {
    if (message == SessionReleaseMessage) {
        ReleaseHeldSession();
        result = 0;
        return true;
    }
    if (!WorkerRunning())
        return false;
    if (message == WM_QUERYENDSESSION) {
        result = FALSE;
        return true;
    }
    // Windows XP asks the windows before a suspend that is not critical, the user's own included,
    // and lets a program say no; a suspend it does not ask about goes ahead. Windows Vista and
    // later ask no program: there the execution state held during the write keeps off only a
    // sleep when idle, and a sleep the user asks for goes ahead.
    if (message == WM_POWERBROADCAST && wParam == PBT_APMQUERYSUSPEND) {
        result = BROADCAST_QUERY_DENY;
        return true;
    }
    return false;
}
