#include "tools/pictures/Canvas.h"

#include <stdexcept>

#include "tools/pictures/PixelFont.h"

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height,
                                              background) {}

void Canvas::Set(int x, int y, Rgb colour) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_)
        pixels_[y * width_ + x] = colour;
}

void Canvas::FillDisc(int centreX, int centreY, int radius, Rgb colour) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius + radius / 2)
                Set(centreX + dx, centreY + dy, colour);
}

void Canvas::Frame(int left, int top, int right, int bottom, int thickness, Rgb colour) {
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            if (x < left + thickness || x > right - thickness || y < top + thickness ||
                y > bottom - thickness)
                Set(x, y, colour);
}

void Canvas::Text(int x, int y, const std::string &text, Rgb colour) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char *const *glyph = GlyphOf(text[i]);
        if (!glyph)
            throw std::invalid_argument(std::string("no glyph for '") + text[i] + "'");
        int left = x + static_cast<int>(i) * GlyphAdvance;
        for (int row = 0; row < GlyphHeight; ++row)
            for (int column = 0; column < GlyphWidth; ++column)
                if (glyph[row][column] == '#')
                    Set(left + column, y + row, colour);
    }
}

int Canvas::TextWidth(const std::string &text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * GlyphAdvance - 1;
}
