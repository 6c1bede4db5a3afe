#include "ui/WindowText.h"

std::string WindowText(HWND window) {
    if (!window)
        return {};
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(window, &text[0], length + 1));
    return text;
}
