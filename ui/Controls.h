// Typed handles on the controls of a form. A control object is a field of its form, names one row
// of the form's layout table and reaches the window that TForm built for that row; it owns no
// window itself (the form destroys its windows). Every operation is safe before the window exists
// (it does nothing, or returns the empty value).
#ifndef M770B_UI_CONTROLS_H
#define M770B_UI_CONTROLS_H

#include <windows.h>

#include <string>

class TForm;

class TControl {
  public:
    TControl(TForm &form, int row) : form_(form), row_(row) {}
    TControl(const TControl &) = delete;
    TControl &operator=(const TControl &) = delete;

    HWND Handle() const;
    TForm &Form() const { return form_; }

    bool Visible() const;
    void SetVisible(bool visible);
    std::string Caption() const;
    void SetCaption(const std::string &text);

  private:
    TForm &form_;
    int row_;
};

class TButton : public TControl {
  public:
    using TControl::TControl;
};

class TCheckBox : public TControl {
  public:
    using TControl::TControl;
    bool Checked() const;
    void SetChecked(bool checked);
};

// A label; with ControlAutoSize a caption set after creation resizes it to its text.
class TLabel : public TControl {
  public:
    using TControl::TControl;
};

class TGroupBox : public TControl {
  public:
    using TControl::TControl;
};

// A picture: the row's bitmap resource drawn at natural size at the top-left corner, the rest of
// the control in the window's background colour.
class TImage : public TControl {
  public:
    using TControl::TControl;
};

// comctl32's progress bar. Position changes may come from any thread (the message is sent to
// the window's thread and waits for it).
class TProgressBar : public TControl {
  public:
    using TControl::TControl;
    int Position() const;
    void SetPosition(int position);
};

#endif
