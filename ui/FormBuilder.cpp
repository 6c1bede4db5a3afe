// The building side of TForm: the controls of the layout table, their fonts and colours, the
// keyboard order, the picture and the labels that size themselves to their text. The window side
// (class registration, window procedure, showing, closing) is in Form.cpp.
#include "ui/Form.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "ui/Application.h"
#include "ui/Exception.h"
#include "ui/WindowText.h"

namespace {

// Control identifiers start above IDOK and IDCANCEL, which IsDialogMessage sends for Enter and
// Escape, so that neither key can press a control by accident.
constexpr int FirstControlId = 100;
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

HWND TForm::ControlHandle(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= controls_.size())
        return nullptr;
    return controls_[row];
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
            exStyle, kind.className, row.caption ? row.caption : "", style, ScaleToScreen(row.left),
            ScaleToScreen(row.top), ScaleToScreen(row.width), ScaleToScreen(row.height), parent,
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
            bitmaps_[i] = static_cast<HBITMAP>(LoadImageA(owner_.Instance(),
                                                          MAKEINTRESOURCEA(row.bitmapResource),
                                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
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

LRESULT TForm::ColourControl(HDC dc, HWND control) {
    int row = RowOf(control);
    const FontSpec &font =
        row >= 0 && layout_.controls[row].font ? *layout_.controls[row].font : layout_.font;
    SetTextColor(dc, font.colour == WindowTextColour ? GetSysColor(COLOR_WINDOWTEXT) : font.colour);
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
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, info.bmWidth, info.bmHeight, source, 0, 0,
           SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}
void TForm::AutoSizeLabel(int row) {
    HWND label = controls_[row];
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    std::string text = WindowText(label);
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, extent.right, extent.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::DeleteFontsAndBitmaps() {
    for (auto &font : fonts_)
        DeleteObject(font.second);
    fonts_.clear();
    for (HBITMAP bitmap : bitmaps_)
        if (bitmap)
            DeleteObject(bitmap);
    bitmaps_.clear();
}
