// The program's pictures: the committed files in app/res are exactly what the generator draws,
// and the jumper picture shows what the user needs: two rows of eight pins, the SCSI ID block
// framed in dark grey and the two pins to short framed in red.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>

#include "tools/pictures/ProgramPictures.h"

// Shown by GoogleTest when a pixel differs.
void PrintTo(const Rgb &c, std::ostream *out) {
    *out << "(" << int(c.red) << "," << int(c.green) << "," << int(c.blue) << ")";
}

namespace {

// The build hands a Unix path; under Wine the Unix root is drive Z:.
std::string ResourcePath(const std::string &name) {
    std::string path = std::string("Z:") + M770B_RESOURCE_FOLDER + "/" + name;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

Bytes ReadResource(const std::string &name) {
    std::ifstream file(ResourcePath(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint32_t U16(const Bytes &b, std::size_t at) {
    return b[at] | b[at + 1] << 8;
}
std::uint32_t U32(const Bytes &b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}
std::int32_t S32(const Bytes &b, std::size_t at) {
    return static_cast<std::int32_t>(U32(b, at));
}

// A 24-bit bottom-up bitmap file read back pixel by pixel, from the top-left corner.
class TBitmapFile {
  public:
    explicit TBitmapFile(Bytes bytes) : bytes_(std::move(bytes)) {}
    int Width() const { return S32(bytes_, 18); }
    int Height() const { return S32(bytes_, 22); }
    Rgb At(int x, int y) const {
        const std::size_t row = (Width() * 3 + 3) / 4 * 4;
        const std::size_t at = U32(bytes_, 10) + (Height() - 1 - y) * row + x * 3;
        return {bytes_[at + 2], bytes_[at + 1], bytes_[at]};
    }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < Width() && y < Height(); }

  private:
    Bytes bytes_;
};

TEST(ProgramPictures, CommittedJumperPictureIsTheGeneratorsAndHasTheBitmapFormat) {
    const Bytes file = ReadResource("jumper.bmp");
    ASSERT_EQ(28554u, file.size());
    EXPECT_TRUE(file == EncodeBitmapFile(DrawJumperPicture()))
        << "app/res/jumper.bmp differs from the generator: build regenerate-pictures";
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(28554u, U32(file, 2));
    EXPECT_EQ(54u, U32(file, 10)); // no colour table
    EXPECT_EQ(40u, U32(file, 14)); // BITMAPINFOHEADER
    EXPECT_EQ(126, S32(file, 18));
    EXPECT_EQ(75, S32(file, 22));  // positive: bottom-up
    EXPECT_EQ(1u, U16(file, 26));  // planes
    EXPECT_EQ(24u, U16(file, 28)); // bits per pixel
    EXPECT_EQ(0u, U32(file, 30));  // BI_RGB
    EXPECT_EQ(28500u, U32(file, 34));
    EXPECT_EQ(0u, U32(file, 46)); // colours used
    // Row fill: two zero bytes after the 378 pixel bytes of every row.
    for (int row = 0; row < 75; ++row) {
        EXPECT_EQ(0, file[54 + row * 380 + 378]) << row;
        EXPECT_EQ(0, file[54 + row * 380 + 379]) << row;
    }
}

// True when scanning from the pin centre to each edge of the picture in all four directions
// meets `colour`: the pin is inside a frame of that colour.
bool Framed(const TBitmapFile &picture, PinCentre pin, Rgb colour) {
    const int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto &step : steps) {
        bool met = false;
        for (int x = pin.x, y = pin.y; picture.Inside(x, y) && !met; x += step[0], y += step[1])
            met = picture.At(x, y) == colour;
        if (!met)
            return false;
    }
    return true;
}

TEST(ProgramPictures, JumperPictureShowsSixteenPinsTheIdBlockAndTheFirmwarePins) {
    const TBitmapFile picture(ReadResource("jumper.bmp"));
    ASSERT_EQ(126, picture.Width());
    ASSERT_EQ(75, picture.Height());

    std::set<std::uint32_t> colours;
    for (int y = 0; y < 75; ++y)
        for (int x = 0; x < 126; ++x) {
            Rgb c = picture.At(x, y);
            colours.insert(c.red << 16 | c.green << 8 | c.blue);
        }
    EXPECT_EQ((std::set<std::uint32_t>{0x000000, 0x7F7F7F, 0xBFBFBF, 0xFF0000}), colours);
    const Rgb field = {191, 191, 191}, black = {0, 0, 0}, grey = {127, 127, 127}, red = {255, 0, 0};
    EXPECT_EQ(field, picture.At(0, 0));
    EXPECT_EQ(field, picture.At(125, 74));

    // Two rows of eight round black pins, evenly spaced, left to right.
    const std::vector<PinCentre> pins = JumperPinCentres();
    ASSERT_EQ(16u, pins.size());
    for (std::size_t i = 0; i < pins.size(); ++i) {
        SCOPED_TRACE("pin " + std::to_string(i));
        const PinCentre pin = pins[i];
        EXPECT_EQ(pins[i / 8 * 8].y, pin.y);
        if (i % 8) {
            EXPECT_EQ(pins[1].x - pins[0].x, pin.x - pins[i - 1].x);
        }
        for (int d = -3; d <= 3; ++d) {
            EXPECT_EQ(black, picture.At(pin.x + d, pin.y));
            EXPECT_EQ(black, picture.At(pin.x, pin.y + d));
        }
        // Round: the corners of the pin's square are not black, the gap to the next pin is field.
        EXPECT_FALSE(black == picture.At(pin.x - JumperPinRadius, pin.y - JumperPinRadius));
        EXPECT_FALSE(black == picture.At(pin.x + JumperPinRadius, pin.y + JumperPinRadius));
        EXPECT_EQ(field, picture.At(pin.x + 7, pin.y)); // half way to the next pin
    }
    EXPECT_LT(pins[0].y, pins[8].y);

    // Dark grey frames the left three columns of both rows; red frames the two right-most pins
    // of the lower row, and nothing else.
    std::set<int> inGrey, inRed;
    for (std::size_t i = 0; i < pins.size(); ++i) {
        if (Framed(picture, pins[i], grey))
            inGrey.insert(static_cast<int>(i));
        if (Framed(picture, pins[i], red))
            inRed.insert(static_cast<int>(i));
    }
    EXPECT_EQ((std::set<int>{0, 1, 2, 8, 9, 10}), inGrey);
    EXPECT_EQ((std::set<int>{14, 15}), inRed);

    // The lettering: dark grey above the upper row (SCSI ID), red beneath the lower row
    // (Firmware), under the red frame's pins.
    int greyAbove = 0, redBelow = 0;
    for (int y = 0; y < pins[0].y - 10; ++y)
        for (int x = 0; x < pins[3].x; ++x)
            greyAbove += picture.At(x, y) == grey;
    for (int y = pins[8].y + 12; y < 75; ++y)
        for (int x = pins[12].x; x < 126; ++x)
            redBelow += picture.At(x, y) == red;
    EXPECT_GT(greyAbove, 40);
    EXPECT_GT(redBelow, 60);
}

TEST(ProgramPictures, CommittedIconIsTheGeneratorsWithOne32By32ImageOf16Colours) {
    const Bytes icon = ReadResource("M770BUpdate.ico");
    ASSERT_EQ(766u, icon.size());
    EXPECT_TRUE(icon == EncodeProgramIcon())
        << "app/res/M770BUpdate.ico differs from the generator: build regenerate-pictures";
    EXPECT_EQ(0u, U16(icon, 0));
    EXPECT_EQ(1u, U16(icon, 2)); // an icon
    EXPECT_EQ(1u, U16(icon, 4)); // one image
    EXPECT_EQ(32, icon[6]);
    EXPECT_EQ(32, icon[7]);
    EXPECT_EQ(16, icon[8]);
    EXPECT_EQ(4u, U16(icon, 12)); // bits per pixel
    EXPECT_EQ(744u, U32(icon, 14));
    EXPECT_EQ(22u, U32(icon, 18));
    EXPECT_EQ(32, S32(icon, 22 + 4));
    EXPECT_EQ(64, S32(icon, 22 + 8)); // colour image and mask
    EXPECT_EQ(4u, U16(icon, 22 + 14));
}

} // namespace
