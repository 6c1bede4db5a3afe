#include "ui/Controls.h"

#include <commctrl.h>

#include "ui/Form.h"
#include "ui/WindowText.h"

HWND TControl::Handle() const { return form_.ControlHandle(row_); }

bool TControl::Visible() const {
    HWND window = Handle();
    return window && (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetVisible(bool visible) {
    if (HWND window = Handle())
        ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
}

std::string TControl::Caption() const {
    return WindowText(Handle());
}

void TControl::SetCaption(const std::string &text) {
    HWND window = Handle();
    if (!window)
        return;
    SetWindowTextA(window, text.c_str());
    if (form_.Layout().controls[row_].flags & ControlAutoSize)
        form_.AutoSizeLabel(row_);
}

bool TCheckBox::Checked() const {
    HWND window = Handle();
    return window && SendMessageA(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
    if (HWND window = Handle())
        SendMessageA(window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int TProgressBar::Position() const {
    HWND window = Handle();
    return window ? static_cast<int>(SendMessageA(window, PBM_GETPOS, 0, 0)) : 0;
}

void TProgressBar::SetPosition(int position) {
    if (HWND window = Handle())
        SendMessageA(window, PBM_SETPOS, position, 0);
}
