// A close request that the modal loop handles after the showing's result was already set (the
// worker's OK after its last step) leaves that result, so the run goes on to the next drive.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/update/MessagePump.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {

constexpr UINT UM_ACT = WM_APP + 40;

const FormLayout PlainLayout = {"TModalCloseTestForm",
                                "modal close",
                                FormBorder::Dialog,
                                false,
                                100,
                                50,
                                {L"Arial", ANSI_CHARSET, -12, RGB(0, 0, 0)},
                                nullptr,
                                0};

// Once the loop runs, does what the test asks: set a result, then ask to close, or only close.
class TActingForm : public TForm {
  public:
    explicit TActingForm(TApplication &owner) : TForm(owner, PlainLayout) {}
    int resultBeforeClose = ModalResultNone;

  protected:
    void FormActivate() override { PostMessageA(Handle(), UM_ACT, 0, 0); }
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT &result) override {
        if (message != UM_ACT)
            return false;
        if (resultBeforeClose != ModalResultNone)
            SetModalResult(resultBeforeClose);
        Close();
        result = 0;
        return true;
    }
};

TEST(ModalShowing, ACloseAfterTheResultWasSetLeavesTheResult) {
    InitialiseTestApplication();
    TActingForm *form = nullptr;
    Application.CreateForm(form);
    struct Case {
        int resultBeforeClose;
        int shown;
    };
    const Case cases[] = {
        {ModalResultOk, ModalResultOk},       // the worker's OK stands
        {ModalResultNone, ModalResultCancel}, // a close alone cancels the showing
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.resultBeforeClose);
        form->resultBeforeClose = c.resultBeforeClose;
        EXPECT_EQ(form->ShowModal(), c.shown);
        EXPECT_FALSE(form->Visible());
    }
    delete form;
}

} // namespace
