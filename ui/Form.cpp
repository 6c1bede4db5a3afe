#include "ui/Form.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/Application.h"
#include "ui/Exception.h"

namespace {

// Control identifiers start above IDOK and IDCANCEL, which IsDialogMessage sends for Enter and
// Escape, so that neither key can press a control by accident.
constexpr int FirstControlId = 100;
const char FormProperty[] = "M770B.Form";
const char GroupProcProperty[] = "M770B.GroupProc";

struct ControlClass {
    const char *className;
    DWORD style;
};

ControlClass ClassOf(const ControlLayout &row) {
    switch (row.kind) {
    case ControlKind::Button:
        return {"Button", BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::CheckBox:
        return {"Button",
                BS_AUTOCHECKBOX | WS_TABSTOP | ((row.flags & ControlFlat) ? BS_FLAT : 0u)};
    case ControlKind::Label:
        return {"Static", SS_LEFT | SS_NOPREFIX};
    case ControlKind::GroupBox:
        return {"Button", BS_GROUPBOX};
    case ControlKind::Picture:
        return {"Static", SS_OWNERDRAW};
    case ControlKind::ProgressBar:
        return {PROGRESS_CLASSA, 0};
    }
    return {"Static", 0};
}

// A group box passes the notifications of its own controls on to the form, so that the form
// handles clicks, colours and drawing of every control alike.
LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(hwnd, GroupProcProperty));
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_DRAWITEM:
        return SendMessageA(GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropA(hwnd, GroupProcProperty);
        break;
    }
    return CallWindowProcA(original, hwnd, message, wParam, lParam);
}

BOOL CALLBACK DisableWindow(HWND window, LPARAM lParam) {
    auto *state = reinterpret_cast<std::pair<HWND, std::vector<HWND> *> *>(lParam);
    if (window != state->first && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        state->second->push_back(window);
    }
    return TRUE;
}

} // namespace

int ScaleToScreen(int designed) {
    static int pixelsPerInch = [] {
        HDC screen = GetDC(nullptr);
        int ppi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen)
            ReleaseDC(nullptr, screen);
        return ppi > 0 ? ppi : 96;
    }();
    return MulDiv(designed, pixelsPerInch, 96);
}

TForm::TForm(TApplication &owner, const FormLayout &layout) : owner_(owner), layout_(layout) {
    owner_.AddForm(this);
}

TForm::~TForm() {
    if (handle_) {
        SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
    for (auto &font : fonts_)
        DeleteObject(font.second);
    for (HBITMAP bitmap : bitmaps_)
        if (bitmap)
            DeleteObject(bitmap);
    owner_.RemoveForm(this);
}

HWND TForm::ControlHandle(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= controls_.size())
        return nullptr;
    return controls_[row];
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
            throw Exception(std::string("Cannot register the window class ") +
                            layout_.className);
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

void TForm::CreateControls() {
    controls_.assign(layout_.controlCount, nullptr);
    bitmaps_.assign(layout_.controlCount, nullptr);
    for (std::size_t i = 0; i < layout_.controlCount; ++i) {
        const ControlLayout &row = layout_.controls[i];
        ControlClass kind = ClassOf(row);
        HWND parent = row.parent == ParentIsForm ? handle_ : ControlHandle(row.parent);
        if (!parent)
            throw Exception(std::string("No parent for the control ") + row.name);
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | kind.style | (row.visible ? WS_VISIBLE : 0u);
        DWORD exStyle = row.kind == ControlKind::GroupBox ? WS_EX_CONTROLPARENT : 0u;
        HWND control = CreateWindowExA(
            exStyle, kind.className, row.caption ? row.caption : "", style,
            ScaleToScreen(row.left), ScaleToScreen(row.top), ScaleToScreen(row.width),
            ScaleToScreen(row.height), parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstControlId + i)), owner_.Instance(),
            nullptr);
        if (!control)
            throw Exception(std::string("Cannot create the control ") + row.name);
        controls_[i] = control;
        const FontSpec &font = row.font ? *row.font : layout_.font;
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(font)), FALSE);
        if (row.kind == ControlKind::GroupBox) {
            SetPropA(control, GroupProcProperty,
                     reinterpret_cast<HANDLE>(GetWindowLongPtrA(control, GWLP_WNDPROC)));
            SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupBoxProc));
        } else if (row.kind == ControlKind::ProgressBar) {
            SendMessageA(control, PBM_SETRANGE32, row.range.minimum, row.range.maximum);
            SendMessageA(control, PBM_SETSTEP, row.range.step, 0);
            SendMessageA(control, PBM_SETPOS, row.range.minimum, 0);
        } else if (row.kind == ControlKind::Picture && row.bitmapResource) {
            bitmaps_[i] = static_cast<HBITMAP>(
                LoadImageA(owner_.Instance(), MAKEINTRESOURCEA(row.bitmapResource), IMAGE_BITMAP,
                           0, 0, LR_CREATEDIBSECTION));
        }
    }
}

// The keyboard order of Windows is the order of the siblings; place the siblings of each
// parent by their tab order (ties and controls outside it keep the order of creation, after
// the ordered ones). The control first in that order is also drawn above the later ones.
void TForm::ArrangeKeyboardOrder() {
    std::vector<int> rows(layout_.controlCount);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<int>(i);
    auto rank = [this](int row) {
        int order = layout_.controls[row].tabOrder;
        return order == NoTabStop ? INT_MAX : order;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return rank(a) < rank(b); });
    std::vector<HWND> previous; // the last placed sibling, per parent row (+1)
    previous.assign(layout_.controlCount + 1, HWND_TOP);
    for (int row : rows) {
        int parentSlot = layout_.controls[row].parent + 1;
        SetWindowPos(controls_[row], previous[parentSlot], 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        previous[parentSlot] = controls_[row];
    }
}

HFONT TForm::FontFor(const FontSpec &spec) {
    for (auto &font : fonts_)
        if (font.first == &spec)
            return font.second;
    LOGFONTW logFont = {};
    logFont.lfHeight = ScaleToScreen(spec.height);
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = spec.charset;
    logFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
    logFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    logFont.lfQuality = DEFAULT_QUALITY;
    logFont.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynW(logFont.lfFaceName, spec.name, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&logFont);
    fonts_.emplace_back(&spec, font);
    return font;
}

int TForm::RowOf(HWND control) const {
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (controls_[i] == control)
            return static_cast<int>(i);
    return -1;
}

std::string TForm::Caption() const {
    if (!handle_)
        return {};
    int length = GetWindowTextLengthA(handle_);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(handle_, &text[0], length + 1));
    return text;
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
        owner_.DispatchOne(message);
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

LRESULT TForm::ColourControl(HDC dc, HWND control) {
    int row = RowOf(control);
    const FontSpec &font =
        row >= 0 && layout_.controls[row].font ? *layout_.controls[row].font : layout_.font;
    SetTextColor(dc, font.colour == WindowTextColour ? GetSysColor(COLOR_WINDOWTEXT)
                                                     : font.colour);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void TForm::DrawPicture(const DRAWITEMSTRUCT &item) {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    int row = RowOf(item.hwndItem);
    HBITMAP bitmap = row >= 0 ? bitmaps_[row] : nullptr;
    if (!bitmap)
        return;
    BITMAP info;
    GetObjectA(bitmap, sizeof info, &info);
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ old = SelectObject(source, bitmap);
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, info.bmWidth, info.bmHeight, source, 0,
           0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

void TForm::AutoSizeLabel(int row) {
    HWND label = controls_[row];
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    int length = GetWindowTextLengthA(label);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(label, &text[0], length + 1));
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, extent.right, extent.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
        auto *form = static_cast<TForm *>(create->lpCreateParams);
        form->handle_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto *form = reinterpret_cast<TForm *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        form->handle_ = nullptr;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        Application.ShowCurrentException();
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
