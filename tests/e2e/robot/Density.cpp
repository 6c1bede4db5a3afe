#include "tests/e2e/robot/Density.h"

#include <string>

namespace {

const char DesktopKey[] = "Control Panel\\Desktop";
const char LogPixels[] = "LogPixels";

} // namespace

TScreenDensity::TScreenDensity(DWORD dpi) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DesktopKey, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD type = 0, value = 0, size = sizeof value;
    hadValue_ = RegQueryValueExA(key, LogPixels, nullptr, &type, reinterpret_cast<BYTE *>(&value),
                                 &size) == ERROR_SUCCESS &&
                type == REG_DWORD && value != dpi;
    previous_ = value;
    set_ = RegSetValueExA(key, LogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dpi),
                          sizeof dpi) == ERROR_SUCCESS;
    RegCloseKey(key);
}

TScreenDensity::~TScreenDensity() {
    HKEY key = nullptr;
    if (!set_ ||
        RegOpenKeyExA(HKEY_CURRENT_USER, DesktopKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_)
        RegSetValueExA(key, LogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&previous_),
                       sizeof previous_);
    else
        RegDeleteValueA(key, LogPixels);
    RegCloseKey(key);
}

bool TextExtentInOwnFont(HWND control, SIZE *extent, const LOGFONTW *made) {
    HFONT own = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTW description = {};
    if (!own || GetObjectW(own, sizeof description, &description) != sizeof description) {
        if (!made)
            return false;
        description = *made;
    }
    HFONT font = CreateFontIndirectW(&description);
    if (!font)
        return false;
    const int length = GetWindowTextLengthA(control);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(control, &text[0], length + 1));
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    RECT calculated = {0, 0, 0, 0};
    DrawTextA(screen, text.c_str(), static_cast<int>(text.size()), &calculated,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    SIZE measured = {0, 0};
    GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &measured);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    DeleteObject(font);
    // The wider of the two measures: DrawText adds the overhang of the last character.
    extent->cx = measured.cx > calculated.right ? measured.cx : calculated.right;
    extent->cy = measured.cy > calculated.bottom ? measured.cy : calculated.bottom;
    return true;
}
