// The progress window and the update run. The window shows which drive is being updated, from
// which revision to which, and a bar that the worker moves from 0 to 100. It is created hidden at
// start-up and shown modally once per ticked drive; showing it starts that drive's worker, and
// only the worker ends the showing.
#ifndef M770B_UPDATE_WRITEUNIT_H
#define M770B_UPDATE_WRITEUNIT_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/Form.h"

extern const FormLayout WriteFormLayout;

class TWriteForm : public TForm {
  public:
    enum Row { WriteProgressBarRow, WriteLabelRow, Label1Row, Label2Row, RowCount };

    explicit TWriteForm(TApplication &owner);
    ~TWriteForm() override;

    TProgressBar WriteProgressBar{*this, WriteProgressBarRow};
    TLabel WriteLabel{*this, WriteLabelRow};
    TLabel Label1{*this, Label1Row};
    TLabel Label2{*this, Label2Row};

    // The drive this showing writes (the low byte of the main window's CurrentTarget) and the
    // image it receives; set by the run before each showing, read by the worker's steps.
    BYTE Target = 0;
    const BYTE *Image = nullptr;

    // True from the start of a worker (FormActivate) until the worker's last act.
    bool WorkerRunning() const;
    // The worker's last act, on its own thread, after the modal result and the repaints.
    void WorkerFinished();
    // On the user-interface thread after a showing: returns once the worker has finished,
    // carrying out meanwhile the repaints it still sends to the window.
    void WaitForWorker();

  protected:
    void FormActivate() override;
    void CreateParams(TCreateParams &params) override;
    // While a worker runs, the showing ends only through it: a close request (Alt+F4, WM_CLOSE,
    // SC_CLOSE, WM_QUIT during the showing) is refused, and so are ending the Windows session and
    // (where Windows asks) suspending the system.
    bool CloseQuery() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;

  private:
    HANDLE workerIdle_; // manual-reset event, set while no worker runs
};

extern TWriteForm *WriteForm;

// The label of the drive whose caption is `caption`: the caption's characters 0..28, then
// " Updating... (", its characters 30..33 (the drive's present revision, as far as the caption
// reaches), " >> ", the image revision and ")".
std::string WriteLabelText(const std::string &caption, const char *imageRevision);

// The message that refuses the update on an adapter that carries at most `maxTransfer` bytes in
// one request (the text with the limit), or "" when a 32 KiB chunk fits or the manager does not
// tell (0).
std::string AdapterLimitRefusal(DWORD maxTransfer);

// The main window's tick boxes: box n (1..7) stands for SCSI target n - 1.
constexpr int TickBoxCount = 7;

// The run behind UPDATE. With no box ticked it asks the user to select a drive and returns.
// Otherwise it hides the main window for good; where the loaders' adapter cannot carry a chunk in
// one request it says so and ends before any drive is erased. Else it writes every box ticked at
// that moment, in box order: `currentTarget` (the main window's CurrentTarget) becomes the box's
// target, the label and the title are set, and the progress window is shown modally until the
// drive's worker has written and verified `image`. After the last drive the success message ends
// the process. The ticked drives and each drive's start go into the run's record before the drive
// is written.
void RunUpdate(TForm &mainWindow, TCheckBox *const (&tickBoxes)[TickBoxCount],
               std::int32_t &currentTarget, const BYTE *image);

#endif
