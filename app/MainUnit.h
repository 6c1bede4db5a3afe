// The main window: one tick box per drive found in firmware-loader mode, UPDATE and CANCEL.
// Its creation handler runs drive discovery and loads the firmware image, and only then shows
// the window. Tick box n (1..7) stands for SCSI target n - 1 on HostAdapterId.
#ifndef M770B_APP_MAINUNIT_H
#define M770B_APP_MAINUNIT_H

#include <windows.h>

#include <cstdint>

#include "ui/Form.h"
#include "update/WriteUnit.h"

extern const FormLayout MainFormLayout;

class TMainForm : public TForm {
  public:
    // The rows of MainFormLayout, in the order of creation.
    enum Row {
        DriveSelectGroupRow,
        CheckBox3Row,
        CheckBox4Row,
        CheckBox5Row,
        CheckBox6Row,
        CheckBox7Row,
        FirmUpdateRow,
        FirmUpdateCancelRow,
        CheckBox1Row,
        CheckBox2Row,
        RowCount
    };

    explicit TMainForm(TApplication &owner) : TForm(owner, MainFormLayout) {}

    TButton FirmUpdate{*this, FirmUpdateRow};
    TButton FirmUpdateCancel{*this, FirmUpdateCancelRow};
    TCheckBox CheckBox1{*this, CheckBox1Row};
    TCheckBox CheckBox2{*this, CheckBox2Row};
    TGroupBox DriveSelectGroup{*this, DriveSelectGroupRow};
    TCheckBox CheckBox3{*this, CheckBox3Row};
    TCheckBox CheckBox4{*this, CheckBox4Row};
    TCheckBox CheckBox5{*this, CheckBox5Row};
    TCheckBox CheckBox6{*this, CheckBox6Row};
    TCheckBox CheckBox7{*this, CheckBox7Row};
    // Tick box n (1..7) is TickBoxes[n - 1].
    TCheckBox *const TickBoxes[TickBoxCount] = {&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4,
                                                &CheckBox5, &CheckBox6, &CheckBox7};
    // SCSI target (0..6) of the drive being written, set by the update run before each drive.
    std::int32_t CurrentTarget = 0;
    // The firmware image in memory, allocated once by LoadFirmwareImage and never freed.
    BYTE *FirmwareBuffer = nullptr;

    // Tick box n (1..7): CheckBox1 .. CheckBox7.
    TCheckBox &TickBox(int n) { return *TickBoxes[n - 1]; }

    // Drive discovery. 0: at least one loader found and its tick box filled; 1: reading a
    // loader's identity failed (reported already). Ends the process itself when ASPI has no host
    // adapter (or says that access to the SCSI devices was refused) or when no loader exists.
    int FindLoaderDrives();
    // 0 when `data` (36 bytes from inquiry byte 8 on) carries the loader's identity, else 1.
    int CheckLoaderIdentity(const BYTE *data);

    // The firmware image (update/FirmwareImage.h): 0 when loaded and named in the title, 1 when
    // loading failed and its message has been shown.
    int LoadFirmwareImage();
    // UPDATE: the update run over the tick boxes (update/WriteUnit.h).
    void FirmUpdateClick();
    void FirmUpdateCancelClick();

  protected:
    void FormCreate() override;
    void Click(int row) override;
    void CreateParams(TCreateParams &params) override;
};

extern TMainForm *MainForm;

#endif
