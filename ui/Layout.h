// Designed window layouts: one table per window, in pixels at 96 pixels per inch. TForm builds
// the window and its controls from the table and scales every length to the screen's density.
// The tables name every field they give ({.kind = ControlKind::Label, .name = "Label1", ...}), so
// that a row reads on its own; a field left out takes its default (flags 0, range 0..100 step 1,
// no bitmap).
#ifndef M770B_UI_LAYOUT_H
#define M770B_UI_LAYOUT_H

#include <windows.h>

#include <cstddef>

enum class ControlKind { Button, CheckBox, Label, GroupBox, Picture, ProgressBar };

// The colour value that stands for the system's window-text colour.
constexpr COLORREF WindowTextColour = 0xFF000000u;

struct FontSpec {
    const wchar_t *name; // face name (wide, so that Japanese face names survive any code page)
    BYTE charset;        // ANSI_CHARSET, SHIFTJIS_CHARSET ...
    int height;          // LOGFONT height at 96 pixels per inch; negative = character height
    COLORREF colour;     // text colour, or WindowTextColour
};

// Flags of a control row.
enum ControlFlags : unsigned {
    ControlFlat = 1u << 0,     // check box without the 3-D look (BS_FLAT)
    ControlAutoSize = 1u << 1, // label: a caption set later resizes the label to its text
};

// Value range of a progress bar.
struct ControlRange {
    int minimum = 0;
    int maximum = 100;
    int step = 1;
};

constexpr int ParentIsForm = -1; // ControlLayout::parent of a control that belongs to the window
constexpr int NoTabStop = -1;    // ControlLayout::tabOrder of a control outside the keyboard order

struct ControlLayout {
    ControlKind kind;
    const char *name;             // the control's designed name, for tests and diagnostics
    int parent;                   // row index of the parent control (a group box), or ParentIsForm
    int left, top, width, height; // relative to the parent's client area
    const char *caption;          // null or "" for none
    const FontSpec *font;         // null = the window font
    int tabOrder;                 // position among the siblings of the same parent, or NoTabStop
    bool visible;
    unsigned flags = 0;
    ControlRange range = {}; // progress bars only
    int bitmapResource = 0;  // pictures only: the bitmap resource drawn at natural size
};

enum class FormBorder {
    Dialog, // fixed dialog frame, title bar with system menu and close box, no min/max box
    None,   // a plain pop-up window without frame or title (TForm::CreateParams may add one)
};

struct FormLayout {
    const char *className; // the window class registered for the form ("TMainForm" ...)
    const char *caption;
    FormBorder border;
    bool topMost;
    int clientWidth, clientHeight;
    FontSpec font; // the window font, used by controls whose row has no font
    const ControlLayout *controls;
    std::size_t controlCount;
};

// Converts a designed length at 96 pixels per inch to the screen's density.
int ScaleToScreen(int designed);

#endif
