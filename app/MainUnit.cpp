#include "app/MainUnit.h"

#include <cstring>
#include <string>

#include "app/JumperErrorUnit.h"
#include "app/WindowFont.h"
#include "outcome/MessageBoxes.h"
#include "outcome/ProcessEnd.h"
#include "outcome/ProgramTitle.h"
#include "record/RunRecord.h"
#include "scsi/AspiBinding.h"
#include "scsi/DriveCommands.h"
#include "scsi/RequestBlocks.h"
#include "scsi/RequestExecution.h"
#include "ui/Application.h"
#include "update/FirmwareImage.h"
#include "update/WriteUnit.h"

TMainForm *MainForm = nullptr;

namespace {

// What discovery tells the user when ASPI reports no host adapter, by the status byte of
// GetASPI32SupportInfo (bits 8 to 15). The last row, for any other status, ends the table.
struct NoAdapterRow {
    int status; // -1: any other
    const char *text;
};
const NoAdapterRow NoAdapterTexts[] = {
    // Every SCSI device the manager could use refused to open for lack of rights.
    {SS_SECURITY_VIOLATION,
     "Access to the SCSI devices was refused: this user may not use them. Run the program as an "
     "administrator, or as a user with the rights to the SCSI devices, and try again."},
    {-1, "Scsi host adapter not found."},
};

const char *NoAdapterText(BYTE status) {
    const NoAdapterRow *row = NoAdapterTexts;
    while (row->status != -1 && row->status != status)
        ++row;
    return row->text;
}

const FontSpec TickBoxFont = {
    .name = L"Century", .charset = ANSI_CHARSET, .height = -11, .colour = RGB(0, 0, 0)};
const FontSpec ButtonFont = {
    .name = L"Arial", .charset = ANSI_CHARSET, .height = -11, .colour = RGB(0, 0, 0)};

constexpr int Group = TMainForm::DriveSelectGroupRow;

// Tick boxes 3 to 7 belong to the group box (window left 16 = group left 8 + 8); boxes 1 and 2
// belong to the window and lie over the group box, above it in the drawing order.
// clang-format off
const ControlLayout MainControls[TMainForm::RowCount] = {
    {.kind = ControlKind::GroupBox, .name = "DriveSelectGroup", .parent = ParentIsForm,
     .left = 8, .top = 0, .width = 265, .height = 129,
     .caption = "", .font = nullptr, .tabOrder = 4, .visible = true},
    {.kind = ControlKind::CheckBox, .name = "CheckBox3", .parent = Group,
     .left = 8, .top = 40, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 0, .visible = false},
    {.kind = ControlKind::CheckBox, .name = "CheckBox4", .parent = Group,
     .left = 8, .top = 56, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 1, .visible = false},
    {.kind = ControlKind::CheckBox, .name = "CheckBox5", .parent = Group,
     .left = 8, .top = 72, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 2, .visible = false},
    {.kind = ControlKind::CheckBox, .name = "CheckBox6", .parent = Group,
     .left = 8, .top = 88, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 3, .visible = false},
    {.kind = ControlKind::CheckBox, .name = "CheckBox7", .parent = Group,
     .left = 8, .top = 104, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 4, .visible = false},
    {.kind = ControlKind::Button, .name = "FirmUpdate", .parent = ParentIsForm,
     .left = 40, .top = 136, .width = 89, .height = 25,
     .caption = "UPDATE", .font = &ButtonFont, .tabOrder = 0, .visible = true},
    {.kind = ControlKind::Button, .name = "FirmUpdateCancel", .parent = ParentIsForm,
     .left = 152, .top = 136, .width = 89, .height = 25,
     .caption = "CANCEL", .font = &ButtonFont, .tabOrder = 1, .visible = true},
    {.kind = ControlKind::CheckBox, .name = "CheckBox1", .parent = ParentIsForm,
     .left = 16, .top = 8, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 2, .visible = false, .flags = ControlFlat},
    {.kind = ControlKind::CheckBox, .name = "CheckBox2", .parent = ParentIsForm,
     .left = 16, .top = 24, .width = 249, .height = 16,
     .caption = "", .font = &TickBoxFont, .tabOrder = 3, .visible = false},
};
// clang-format on

// The loader's identity in the inquiry data, as offsets into the data from inquiry byte 8 on:
// vendor characters 1-7, product characters 2-8 and 10-14. Bytes 15, 16 and 24 of the inquiry
// data are not examined.
struct IdentityField {
    int offset;
    const char *text;
};
const IdentityField LoaderIdentity[] = {{0, "VANDREL"}, {9, "Program"}, {17, "Mode1"}};

constexpr DWORD InquiryLength = 36;
constexpr int FirstAdapter = 0, LastAdapter = 9;
constexpr BYTE FirstTarget = 0, LastTarget = 6;
constexpr int ReadinessTests = 5;
constexpr std::size_t IdentityTextLength = 28;

// "(a,t) " followed by the identity text: the first 28 bytes of the drive's answer, up to the
// first zero byte among them.
std::string LoaderCaption(BYTE adapter, BYTE target, const BYTE *identity) {
    std::size_t length = 0;
    while (length < IdentityTextLength && identity[length] != 0)
        ++length;
    std::string caption = "(" + std::to_string(adapter) + "," + std::to_string(target) + ") ";
    caption.append(reinterpret_cast<const char *>(identity), length);
    return caption;
}

} // namespace

// clang-format off
const FormLayout MainFormLayout = {
    .className = "TMainForm", .caption = ProgramTitle, .border = FormBorder::Dialog,
    .topMost = false, .clientWidth = 283, .clientHeight = 167, .font = WindowFont,
    .controls = MainControls, .controlCount = TMainForm::RowCount};
// clang-format on

void TMainForm::FormCreate() {
    if (FindLoaderDrives() != 0)
        EndProcess();
    if (LoadFirmwareImage() != 0)
        EndProcess();
    Show();
}

void TMainForm::Click(int row) {
    switch (row) {
    case FirmUpdateRow:
        FirmUpdateClick();
        break;
    case FirmUpdateCancelRow:
        FirmUpdateCancelClick();
        break;
    default: // the tick boxes only change their state
        break;
    }
}

// The image is read and checked in update/; a loaded image names its revision in the title.
int TMainForm::LoadFirmwareImage() {
    if (LoadFirmwareFile(FirmwareBuffer) != 0)
        return 1;
    SetCaption(RevisionTitle(ImageRevision));
    return 0;
}

void TMainForm::FirmUpdateClick() {
    RunUpdate(*this, TickBoxes, CurrentTarget, FirmwareBuffer);
}

void TMainForm::FirmUpdateCancelClick() {
    RecordLine("CANCEL pressed");
    EndProcess();
}

// A group box never erases its own inside, so the window paints its background there too: it
// must not clip its children away from that painting.
void TMainForm::CreateParams(TCreateParams &params) {
    params.style &= ~WS_CLIPCHILDREN;
}

int TMainForm::CheckLoaderIdentity(const BYTE *data) {
    for (const IdentityField &field : LoaderIdentity)
        for (std::size_t i = 0; field.text[i] != 0; ++i)
            if (data[field.offset + i] != static_cast<BYTE>(field.text[i]))
                return 1;
    return 0;
}

int TMainForm::FindLoaderDrives() {
    // Bits 8-15 are the manager's status (SS_COMP, or why it offers nothing: SS_NO_ADAPTERS,
    // SS_FAILED_INIT ...): in the record, so that a manager that could not start does not read
    // like a machine without adapters.
    const DWORD supportInfo = GetASPI32SupportInfoEntry();
    const BYTE adapterCount = supportInfo & 0xFF;
    RecordLine("ASPI host adapters: " + std::to_string(adapterCount) +
               " (GetASPI32SupportInfo status " + HexByte((supportInfo >> 8) & 0xFF) + ")");
    if (adapterCount == 0)
        ShowFatalErrorBox(NoAdapterText(static_cast<BYTE>(supportInfo >> 8)));
    bool adapterHasLoader = false;
    bool filled = false;
    BYTE work[InquiryLength];
    for (int adapter = FirstAdapter; adapter <= LastAdapter; ++adapter) {
        HostAdapterId = static_cast<BYTE>(adapter);
        if (!InquireHostAdapter())
            continue;
        for (BYTE target = FirstTarget; target <= LastTarget; ++target) {
            if (GetDeviceType(target) != 1)
                continue;
            for (int i = 0; i < ReadinessTests; ++i)
                TestUnitReady(target);
            // Only this target's own answer may make it a loader: an INQUIRY that transfers
            // nothing must not leave the previous loader's data to be judged again.
            std::memset(SharedDataBuffer, 0, InquiryLength);
            ScsiInquiry(target, InquiryLength);
            std::memcpy(work, SharedDataBuffer + 8, InquiryLength);
            if (CheckLoaderIdentity(work) != 0)
                continue;
            adapterHasLoader = true;
            TCheckBox &box = TickBox(target + 1);
            box.SetVisible(true);
            box.SetChecked(true);
            if (ReadDriveIdentity(target) == 1)
                return 1;
            box.SetCaption(LoaderCaption(HostAdapterId, target, SharedDataBuffer));
            RecordLine("Loader found: " + Quoted(box.Caption()));
            filled = true;
        }
        if (adapterHasLoader)
            break;
    }
    if (filled)
        return 0;
    RecordLine("No loader found: the jumper window is shown");
    ShowJumperWindowAndExit();
}
