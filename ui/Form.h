// A form: one top-level window built from its layout table, with its controls. A form class
// derives from TForm, declares its controls as fields (TCheckBox CheckBox1{*this, RowIndex}) and
// overrides the few handlers it needs. Forms are made by TApplication::CreateForm, which runs
// the constructor, then builds the window and the controls (CreateParams first), then calls
// FormCreate. The form is created hidden; Show or ShowModal makes it visible, centred on the
// screen. Only the form destroys its window (in its destructor).
//
// Form.cpp holds the window side (class registration, window procedure, showing, the modal
// loop, closing, activation); FormBuilder.cpp the building side (controls from the layout table,
// fonts and colours, keyboard order, picture, labels that size themselves).
//
// Close handling, in one place (Close): a close request (the close box, the system menu, Alt+F4,
// WM_CLOSE, and WM_QUIT arriving during a modal showing) first asks CloseQuery; when it agrees,
// a modal showing ends with ModalResultCancel (unless a result is set already, which then
// stands), the application's main form ends the message loop, any other form is hidden. A modal
// result set with SetModalResult always ends the showing without asking CloseQuery.
//
// Threads: every window belongs to the user-interface thread. SetModalResult and Repaint may be
// called from another thread: SetModalResult also posts WM_NULL to the window so that the modal
// loop wakes and sees the result at once; Repaint sends the paint to the window's thread and
// waits for it.
#ifndef M770B_UI_FORM_H
#define M770B_UI_FORM_H

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/Layout.h"

class TApplication;

constexpr int ModalResultNone = 0;
constexpr int ModalResultOk = 1;
constexpr int ModalResultCancel = 2;

// The creation parameters that TForm fills in before the window is created. A form may change
// them in CreateParams; the window's outer size is computed afterwards from the designed client
// size and the final styles.
struct TCreateParams {
    DWORD style;
    DWORD exStyle;
    std::string caption;
};

class TForm {
  public:
    TForm(TApplication &owner, const FormLayout &layout);
    virtual ~TForm();
    TForm(const TForm &) = delete;
    TForm &operator=(const TForm &) = delete;

    HWND Handle() const { return handle_; }
    const FormLayout &Layout() const { return layout_; }
    // The window of layout row `row` (null before the window is built or for a bad row).
    HWND ControlHandle(int row) const;

    std::string Caption() const;
    void SetCaption(const std::string &text);
    bool Visible() const;
    // Centres a hidden form on the screen, makes it visible, brings it to the front and puts the
    // focus on the first control of the keyboard order; then FormActivate runs.
    void Show();
    void Hide();
    void BringToFront();
    // Invalidates the window and its controls and paints them before returning.
    void Repaint();
    // A close request, as if the close box had been pressed.
    void Close();

    // Shows the form modally: disables the other visible windows of the thread, shows the form,
    // runs FormActivate once, sets the modal result to 0, then handles messages one by one and
    // checks the result after each; a non-zero result hides the form, enables the other windows
    // again and is returned. Throws Exception when the form is already visible or modal.
    int ShowModal();
    int ModalResult() const { return modalResult_.load(); }
    void SetModalResult(int result);

    // Builds the window and its controls, then runs FormCreate. Called once by CreateForm.
    void CreateHandleAndRunCreate();

  protected:
    // After the window and its controls exist, before the form is shown.
    virtual void FormCreate() {}
    // Once per showing (Show or ShowModal), after the form has become visible.
    virtual void FormActivate() {}
    // A push button or check box of layout row `row` was clicked.
    virtual void Click(int row) { (void)row; }
    // Asked before a close request is carried out; false refuses it.
    virtual bool CloseQuery() { return true; }
    // May change the styles and the caption before the window is created.
    virtual void CreateParams(TCreateParams &params) { (void)params; }
    // Any other message of the form's window; return true when handled (and set result).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) {
        (void)message, (void)wParam, (void)lParam, (void)result;
        return false;
    }

  private:
    // The window side (Form.cpp).
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateFormWindow();
    void CentreOnScreen();
    void FocusFirstControl();
    void HandleCommand(WPARAM wParam, LPARAM lParam);

    // The building side (FormBuilder.cpp).
    void CreateControls();
    void ArrangeKeyboardOrder();
    HFONT FontFor(const FontSpec &spec);
    int RowOf(HWND control) const;
    LRESULT ColourControl(HDC dc, HWND control);
    void DrawPicture(const DRAWITEMSTRUCT &item);
    void AutoSizeLabel(int row);
    void DeleteFontsAndBitmaps();

    friend class TControl;

    TApplication &owner_;
    const FormLayout &layout_;
    HWND handle_ = nullptr;
    std::vector<HWND> controls_;
    std::vector<std::pair<const FontSpec *, HFONT>> fonts_;
    std::vector<HBITMAP> bitmaps_;
    HWND lastFocus_ = nullptr;
    bool modal_ = false;
    std::atomic<int> modalResult_{ModalResultNone};
};

#endif
