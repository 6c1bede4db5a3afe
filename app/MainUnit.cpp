#include "app/MainUnit.h"

#include <cstring>
#include <string>

#include "app/JumperErrorUnit.h"
#include "app/MessageBoxes.h"
#include "app/ProcessEnd.h"
#include "scsi/AspiBinding.h"
#include "scsi/DriveCommands.h"
#include "scsi/RequestBlocks.h"
#include "scsi/RequestExecution.h"
#include "ui/Application.h"
#include "update/FirmwareImage.h"
#include "update/WriteUnit.h"

TMainForm *MainForm = nullptr;

namespace {

// What discovery tells the user; the captions are those of the layout below.
const char NoHostAdapterMessage[] = "Scsi host adapter not found.";

const FontSpec WindowFont = {L"ＭＳ Ｐゴシック", SHIFTJIS_CHARSET, -12, WindowTextColour};
const FontSpec TickBoxFont = {L"Century", ANSI_CHARSET, -11, RGB(0, 0, 0)};
const FontSpec ButtonFont = {L"Arial", ANSI_CHARSET, -11, RGB(0, 0, 0)};

constexpr int Group = TMainForm::DriveSelectGroupRow;

// Tick boxes 3 to 7 belong to the group box (window left 16 = group left 8 + 8); boxes 1 and 2
// belong to the window and lie over the group box, above it in the drawing order.
const ControlLayout MainControls[TMainForm::RowCount] = {
    {ControlKind::GroupBox, "DriveSelectGroup", ParentIsForm, 8, 0, 265, 129, "", nullptr, 4, true},
    {ControlKind::CheckBox, "CheckBox3", Group, 8, 40, 249, 16, "", &TickBoxFont, 0, false},
    {ControlKind::CheckBox, "CheckBox4", Group, 8, 56, 249, 16, "", &TickBoxFont, 1, false},
    {ControlKind::CheckBox, "CheckBox5", Group, 8, 72, 249, 16, "", &TickBoxFont, 2, false},
    {ControlKind::CheckBox, "CheckBox6", Group, 8, 88, 249, 16, "", &TickBoxFont, 3, false},
    {ControlKind::CheckBox, "CheckBox7", Group, 8, 104, 249, 16, "", &TickBoxFont, 4, false},
    {ControlKind::Button, "FirmUpdate", ParentIsForm, 40, 136, 89, 25, "UPDATE", &ButtonFont, 0,
     true},
    {ControlKind::Button, "FirmUpdateCancel", ParentIsForm, 152, 136, 89, 25, "CANCEL",
     &ButtonFont, 1, true},
    {ControlKind::CheckBox, "CheckBox1", ParentIsForm, 16, 8, 249, 16, "", &TickBoxFont, 2, false,
     ControlFlat},
    {ControlKind::CheckBox, "CheckBox2", ParentIsForm, 16, 24, 249, 16, "", &TickBoxFont, 3,
     false},
};

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

const FormLayout MainFormLayout = {
    "TMainForm", ProgramTitle, FormBorder::Dialog, false, 283, 167, WindowFont,
    MainControls, TMainForm::RowCount};

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

void TMainForm::FirmUpdateCancelClick() { EndProcess(); }

// A group box never erases its own inside, so the window paints its background there too: it
// must not clip its children away from that painting.
void TMainForm::CreateParams(TCreateParams &params) { params.style &= ~WS_CLIPCHILDREN; }

int TMainForm::CheckLoaderIdentity(const BYTE *data) {
    for (const IdentityField &field : LoaderIdentity)
        for (std::size_t i = 0; field.text[i] != 0; ++i)
            if (data[field.offset + i] != static_cast<BYTE>(field.text[i]))
                return 1;
    return 0;
}

int TMainForm::FindLoaderDrives() {
    if ((GetASPI32SupportInfoEntry() & 0xFF) == 0)
        ShowFatalErrorBox(NoHostAdapterMessage);
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
            filled = true;
        }
        if (adapterHasLoader)
            break;
    }
    if (filled)
        return 0;
    ShowJumperWindowAndExit();
}
