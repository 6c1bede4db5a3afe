// The jumper window: shown when no drive in firmware-loader mode was found; it explains how to
// short the firmware jumper, with a picture of the jumper block seen from the back of the drive.
// It is the last thing the program shows.
#ifndef M770B_APP_JUMPERERRORUNIT_H
#define M770B_APP_JUMPERERRORUNIT_H

#include "ui/Form.h"

extern const FormLayout JumperFormLayout;

// The resource number of the jumper picture (app/res/jumper.bmp).
constexpr int JumperBitmapResource = 101;

class TJumperForm : public TForm {
  public:
    enum Row { Label1Row, Label2Row, Label3Row, Label4Row, Label5Row, Image1Row, Button1Row,
               RowCount };

    explicit TJumperForm(TApplication &owner) : TForm(owner, JumperFormLayout) {}

    TLabel Label1{*this, Label1Row};
    TLabel Label2{*this, Label2Row};
    TLabel Label3{*this, Label3Row};
    TLabel Label4{*this, Label4Row};
    TLabel Label5{*this, Label5Row};
    TButton Button1{*this, Button1Row};
    TImage Image1{*this, Image1Row};

    // OK: ends the process at once.
    void Button1Click();

  protected:
    void Click(int row) override;
};

// Creates the jumper window, shows it modally, destroys it when the showing ends (the close box)
// and ends the process. OK ends the process from inside the showing.
[[noreturn]] void ShowJumperWindowAndExit();

#endif
