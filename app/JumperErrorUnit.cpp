#include "app/JumperErrorUnit.h"

#include "app/ProcessEnd.h"
#include "app/ProgramTitle.h"
#include "ui/Application.h"

namespace {

const FontSpec WindowFont = {L"ＭＳ Ｐゴシック", SHIFTJIS_CHARSET, -12, WindowTextColour};
const FontSpec HeadlineFont = {L"Arial", ANSI_CHARSET, -15, RGB(255, 0, 0)};
const FontSpec TextFont = {L"Arial", ANSI_CHARSET, -12, RGB(0, 0, 0)};

// Label2 to Label5 are one sentence, broken where each label ends.
const ControlLayout JumperControls[TJumperForm::RowCount] = {
    {ControlKind::Label, "Label1", ParentIsForm, 160, 8, 257, 17,
     "The firmware loader was not found.", &HeadlineFont, NoTabStop, true},
    {ControlKind::Label, "Label2", ParentIsForm, 152, 40, 261, 15,
     "To update your firmware you must first power off", &TextFont, NoTabStop, true},
    {ControlKind::Label, "Label3", ParentIsForm, 152, 64, 273, 15,
     "the CD-R drive and short the firmware jumper as", &TextFont, NoTabStop, true},
    {ControlKind::Label, "Label4", ParentIsForm, 152, 88, 265, 15,
     "shown in the picture.   The picture shows the", &TextFont, NoTabStop, true},
    {ControlKind::Label, "Label5", ParentIsForm, 152, 112, 273, 15,
     "proper jumper position from the back of the drive.", &TextFont, NoTabStop, true},
    {ControlKind::Picture, "Image1", ParentIsForm, 8, 16, 137, 89, "", nullptr, NoTabStop, true,
     0, {}, JumperBitmapResource},
    {ControlKind::Button, "Button1", ParentIsForm, 176, 144, 81, 25, "OK", nullptr, 0, true},
};

} // namespace

const FormLayout JumperFormLayout = {
    "TJumperForm", ProgramTitle, FormBorder::Dialog, false, 434, 174, WindowFont,
    JumperControls, TJumperForm::RowCount};

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
