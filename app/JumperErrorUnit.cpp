#include "app/JumperErrorUnit.h"

#include "app/WindowFont.h"
#include "outcome/ProcessEnd.h"
#include "outcome/ProgramTitle.h"
#include "ui/Application.h"

namespace {

const FontSpec HeadlineFont = {
    .name = L"Arial", .charset = ANSI_CHARSET, .height = -15, .colour = RGB(255, 0, 0)};
const FontSpec TextFont = {
    .name = L"Arial", .charset = ANSI_CHARSET, .height = -12, .colour = RGB(0, 0, 0)};

// Label2 to Label5 are one sentence, broken where each label ends.
// clang-format off
const ControlLayout JumperControls[TJumperForm::RowCount] = {
    {.kind = ControlKind::Label, .name = "Label1", .parent = ParentIsForm,
     .left = 160, .top = 8, .width = 257, .height = 17,
     .caption = "The firmware loader was not found.", .font = &HeadlineFont, .tabOrder = NoTabStop,
     .visible = true},
    {.kind = ControlKind::Label, .name = "Label2", .parent = ParentIsForm,
     .left = 152, .top = 40, .width = 261, .height = 15,
     .caption = "To update your firmware you must first power off", .font = &TextFont,
     .tabOrder = NoTabStop, .visible = true},
    {.kind = ControlKind::Label, .name = "Label3", .parent = ParentIsForm,
     .left = 152, .top = 64, .width = 273, .height = 15,
     .caption = "the CD-R drive and short the firmware jumper as", .font = &TextFont,
     .tabOrder = NoTabStop, .visible = true},
    {.kind = ControlKind::Label, .name = "Label4", .parent = ParentIsForm,
     .left = 152, .top = 88, .width = 265, .height = 15,
     .caption = "shown in the picture.   The picture shows the", .font = &TextFont,
     .tabOrder = NoTabStop, .visible = true},
    {.kind = ControlKind::Label, .name = "Label5", .parent = ParentIsForm,
     .left = 152, .top = 112, .width = 273, .height = 15,
     .caption = "proper jumper position from the back of the drive.", .font = &TextFont,
     .tabOrder = NoTabStop, .visible = true},
    {.kind = ControlKind::Picture, .name = "Image1", .parent = ParentIsForm,
     .left = 8, .top = 16, .width = 137, .height = 89,
     .caption = "", .font = nullptr, .tabOrder = NoTabStop, .visible = true, .flags = 0,
     .range = {}, .bitmapResource = JumperBitmapResource},
    {.kind = ControlKind::Button, .name = "Button1", .parent = ParentIsForm,
     .left = 176, .top = 144, .width = 81, .height = 25,
     .caption = "OK", .font = nullptr, .tabOrder = 0, .visible = true},
};
// clang-format on

} // namespace

// clang-format off
const FormLayout JumperFormLayout = {
    .className = "TJumperForm", .caption = ProgramTitle, .border = FormBorder::Dialog,
    .topMost = false, .clientWidth = 434, .clientHeight = 174, .font = WindowFont,
    .controls = JumperControls, .controlCount = TJumperForm::RowCount};
// clang-format on

void TJumperForm::Button1Click() { EndProcess(); }

void TJumperForm::Click(int row) {
    if (row == Button1Row)
        Button1Click();
}

void ShowJumperWindowAndExit() {
    TJumperForm *form = nullptr;
    Application.CreateForm(form);
    form->ShowModal();
    delete form;
    EndProcess();
}
