// The window side of TForm: the window class and the window, the window procedure, showing and
// hiding, the modal showing, close requests and activation. The building side (controls, fonts,
// keyboard order, picture, auto-size) is in FormBuilder.cpp.
#include "ui/Form.h"

#include "ui/Application.h"
#include "ui/Exception.h"
#include "ui/MessageLoop.h"
#include "ui/WindowText.h"

namespace {

BOOL CALLBACK DisableWindow(HWND window, LPARAM lParam) {
    auto *state = reinterpret_cast<std::pair<HWND, std::vector<HWND> *> *>(lParam);
    if (window != state->first && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        state->second->push_back(window);
    }
    return TRUE;
}

} // namespace

TForm::TForm(TApplication &owner, const FormLayout &layout) : owner_(owner), layout_(layout) {
    owner_.AddForm(this);
}

TForm::~TForm() {
    if (handle_) {
        RemoveDialogWindow(handle_);
        SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
    DeleteFontsAndBitmaps();
    owner_.RemoveForm(this);
}

void TForm::CreateHandleAndRunCreate() {
    CreateFormWindow();
    CreateControls();
    ArrangeKeyboardOrder();
    FormCreate();
}

void TForm::CreateFormWindow() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    HINSTANCE instance = owner_.Instance();
    if (!GetClassInfoExA(instance, layout_.className, &windowClass)) {
        windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = owner_.Icon();
        windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = layout_.className;
        if (!RegisterClassExA(&windowClass))
            throw Exception(std::string("Cannot register the window class ") + layout_.className);
    }
    TCreateParams params;
    params.style = WS_POPUP | WS_CLIPCHILDREN;
    params.exStyle = WS_EX_CONTROLPARENT | (layout_.topMost ? WS_EX_TOPMOST : 0u);
    if (layout_.border == FormBorder::Dialog) {
        params.style |= WS_CAPTION | WS_SYSMENU;
        params.exStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    }
    params.caption = layout_.caption ? layout_.caption : "";
    CreateParams(params);

    RECT frame = {0, 0, ScaleToScreen(layout_.clientWidth), ScaleToScreen(layout_.clientHeight)};
    AdjustWindowRectEx(&frame, params.style, FALSE, params.exStyle);
    handle_ = CreateWindowExA(params.exStyle, layout_.className, params.caption.c_str(),
                              params.style, 0, 0, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (!handle_)
        throw Exception(std::string("Cannot create the window ") + layout_.className);
    SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(layout_.font)), FALSE);
}

std::string TForm::Caption() const {
    return WindowText(handle_);
}

void TForm::SetCaption(const std::string &text) {
    if (handle_)
        SetWindowTextA(handle_, text.c_str());
}

bool TForm::Visible() const { return handle_ && IsWindowVisible(handle_); }

void TForm::CentreOnScreen() {
    RECT frame;
    GetWindowRect(handle_, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    SetWindowPos(handle_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::FocusFirstControl() {
    HWND first = GetNextDlgTabItem(handle_, nullptr, FALSE);
    if (first)
        SetFocus(first);
}

void TForm::Show() {
    if (!handle_ || Visible())
        return;
    CentreOnScreen();
    ShowWindow(handle_, SW_SHOW);
    BringToFront();
    FocusFirstControl();
    FormActivate();
}

void TForm::Hide() {
    if (handle_)
        ShowWindow(handle_, SW_HIDE);
}

void TForm::BringToFront() {
    if (!handle_)
        return;
    SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(handle_);
}

void TForm::Repaint() {
    if (!handle_)
        return;
    RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    UpdateWindow(handle_);
}

void TForm::Close() {
    if (!CloseQuery())
        return;
    if (modal_) {
        // A result set before the close was handled (the worker's OK after its last step) stands.
        int none = ModalResultNone;
        modalResult_.compare_exchange_strong(none, ModalResultCancel);
    } else if (owner_.MainForm() == this)
        owner_.Terminate();
    else
        Hide();
}

void TForm::SetModalResult(int result) {
    modalResult_ = result;
    if (handle_)
        PostMessageA(handle_, WM_NULL, 0, 0);
}

int TForm::ShowModal() {
    if (!handle_ || Visible() || modal_)
        throw Exception("Cannot make a visible window modal");
    std::vector<HWND> disabled;
    std::pair<HWND, std::vector<HWND> *> state(handle_, &disabled);
    EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&state));
    modal_ = true;
    Show();
    modalResult_ = ModalResultNone;
    bool quit = false;
    WPARAM quitCode = 0;
    while (modalResult_ == ModalResultNone) {
        MSG message;
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) { // the application is told to quit: a close request, then quit after
            Close();
            // A refused close refuses the quit too: kept, it would end the next dialog at once.
            if (modalResult_ != ModalResultNone) {
                quit = true;
                quitCode = message.wParam;
            }
            continue;
        }
        DispatchMessageOf(message);
    }
    int result = modalResult_ == ModalResultNone ? ModalResultCancel : modalResult_.load();
    Hide();
    modal_ = false;
    for (HWND window : disabled)
        EnableWindow(window, TRUE);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return result;
}

void TForm::HandleCommand(WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (id == IDOK) {
        // Enter: IsDialogMessage asks for the default button; there is none, so Enter presses
        // only a focused push button.
        int row = RowOf(GetFocus());
        if (row >= 0 && layout_.controls[row].kind == ControlKind::Button)
            Click(row);
        return;
    }
    if (HIWORD(wParam) != BN_CLICKED || !lParam)
        return;
    int row = RowOf(reinterpret_cast<HWND>(lParam));
    if (row >= 0 && (layout_.controls[row].kind == ControlKind::Button ||
                     layout_.controls[row].kind == ControlKind::CheckBox))
        Click(row);
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
        auto *form = static_cast<TForm *>(create->lpCreateParams);
        form->handle_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        AddDialogWindow(hwnd);
    }
    auto *form = reinterpret_cast<TForm *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        RemoveDialogWindow(hwnd);
        form->handle_ = nullptr;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        Application.HandleWindowException();
    }
    return 0;
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
    case WM_COMMAND:
        HandleCommand(wParam, lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return ColourControl(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM:
        DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_ACTIVATE:
        // Keep the focused control across deactivation, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            lastFocus_ = GetFocus();
        } else if (lastFocus_ && IsChild(handle_, lastFocus_) && IsWindowVisible(lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;
    }
    if (OnMessage(message, wParam, lParam, result))
        return result;
    return DefWindowProcA(handle_, message, wParam, lParam);
}
