// The application object: the message loop, the application title and the main form.
//
// Start-up uses it in this order (one object, `Application`):
//     Application.Initialize();             // common controls, the hidden application window
//     Application.ShowMainForm = false;     // the main form shows itself
//     Application.CreateForm(MainForm);     // the first form created is the main form
//     Application.CreateForm(WriteForm);
//     Application.Run();                    // until the main form is closed
// with `catch (const Exception &e) { Application.ShowException(e); }` around it.
//
// Handing work to the user-interface thread (what a thread's Synchronize uses): post
// UM_SYNCHRONIZE to Application.Handle() with lParam = a TSynchronizedCall*, then wait for the
// call's own completion signal. The hidden application window runs call->Invoke() on the
// user-interface thread when the message is dispatched, by Run's loop or by any modal loop,
// like every other message. Invoke should not throw: anything that escapes it is handled as in
// a window procedure (HandleWindowException), so Invoke must signal its caller in every case
// (e.g. from a destructor or before rethrowing).
#ifndef M770B_UI_APPLICATION_H
#define M770B_UI_APPLICATION_H

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "ui/Exception.h"

class TForm;

constexpr UINT UM_SYNCHRONIZE = WM_APP + 1;

class TSynchronizedCall {
  public:
    virtual void Invoke() = 0;

  protected:
    ~TSynchronizedCall() = default;
};

class TApplication {
  public:
    TApplication() = default;
    TApplication(const TApplication &) = delete;
    TApplication &operator=(const TApplication &) = delete;

    // Registers the common controls and creates the hidden application window.
    void Initialize();
    // Whether Run shows the main form before entering the loop.
    bool ShowMainForm = true;

    // Allocates the form, stores its address in `reference` before its constructor runs, then
    // constructs it, builds its window and runs its FormCreate. On an exception the memory is
    // freed, `reference` is cleared and the exception goes on.
    template <class T> void CreateForm(T *&reference);

    // The message loop: returns when WM_QUIT arrives (the main form was closed, or Terminate).
    void Run();
    // Ends the message loop (posts WM_QUIT).
    void Terminate();
    // Handles one message already taken from the queue: keyboard navigation for the form it
    // belongs to, otherwise translation and dispatch.
    void DispatchOne(MSG &message);

    // The program file's name without folder and extension ("M770BUpdate").
    const std::string &Title();
    HWND Handle() const { return handle_; }
    HINSTANCE Instance() const;
    TForm *MainForm() const { return mainForm_; }
    HICON Icon();

    // The standard box for an exception: its message, OK, the stop icon, the application title.
    // The message goes into the run's record first, and, while a drive is written, the run's end.
    void ShowException(const Exception &exception);
    void ShowException(const char *message);
    // The same for the exception being handled; called only inside a catch block.
    void ShowCurrentException();
    // The box for an exception that escaped a window procedure (called inside its catch block).
    // While the main form is hidden (the program's update run hides it for good), nothing would
    // be left on the screen to answer and the process would stay, unseen, so after the box it
    // ends through EndAfterException; with the main form shown the message loop goes on.
    void HandleWindowException();
    // Set by the program to the way it ends the process.
    void (*EndAfterException)() = nullptr;

    // Called by TForm's constructor and destructor.
    void AddForm(TForm *form);
    void RemoveForm(TForm *form);

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handle_ = nullptr;
    std::string title_;
    HICON icon_ = nullptr;
    TForm *mainForm_ = nullptr;
    // How Run shows the main form; set by CreateForm, which knows the form's class.
    void (*showMainForm_)(TForm *form) = nullptr;
    std::vector<TForm *> forms_;
};

extern TApplication Application;

template <class T> void TApplication::CreateForm(T *&reference) {
    void *memory = ::operator new(sizeof(T));
    reference = static_cast<T *>(memory);
    T *form = nullptr;
    try {
        form = new (memory) T(*this);
    } catch (...) {
        reference = nullptr;
        ::operator delete(memory);
        throw;
    }
    try {
        form->CreateHandleAndRunCreate();
    } catch (...) {
        reference = nullptr;
        delete form;
        throw;
    }
    if (mainForm_ == form)
        showMainForm_ = [](TForm *main) { static_cast<T *>(main)->Show(); };
}

#endif
