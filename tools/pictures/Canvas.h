// A small drawing surface of RGB pixels, addressed from the top-left corner, with the few
// shapes the program's pictures need.
#ifndef M770B_TOOLS_CANVAS_H
#define M770B_TOOLS_CANVAS_H

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    std::uint8_t red, green, blue;
    bool operator==(const Rgb &other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

class Canvas {
  public:
    Canvas(int width, int height, Rgb background);
    int Width() const { return width_; }
    int Height() const { return height_; }
    Rgb At(int x, int y) const { return pixels_[y * width_ + x]; }
    void Set(int x, int y, Rgb colour); // ignores points outside the canvas

    void FillDisc(int centreX, int centreY, int radius, Rgb colour);
    // A rectangle outline `thickness` pixels wide, inside left..right, top..bottom (inclusive).
    void Frame(int left, int top, int right, int bottom, int thickness, Rgb colour);
    // Text in the pixel font, its top-left corner at x, y. Throws on a letter it lacks.
    void Text(int x, int y, const std::string &text, Rgb colour);
    static int TextWidth(const std::string &text);

  private:
    int width_, height_;
    std::vector<Rgb> pixels_;
};

#endif
