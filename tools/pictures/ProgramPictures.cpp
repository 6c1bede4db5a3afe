#include "tools/pictures/ProgramPictures.h"

namespace {

void Put16(Bytes &out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes &out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutInfoHeader(Bytes &out, int width, int height, int bitsPerPixel, std::uint32_t imageSize,
                   std::uint32_t coloursUsed) {
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height)); // positive: rows stored bottom-up
    Put16(out, 1);                                   // planes
    Put16(out, bitsPerPixel);
    Put32(out, 0); // BI_RGB, uncompressed
    Put32(out, imageSize);
    Put32(out, 3780); // 96 pixels per inch, in pixels per metre
    Put32(out, 3780);
    Put32(out, coloursUsed);
    Put32(out, 0);
}

// Jumper picture geometry, from the top-left corner.
constexpr int PinPitch = 14;
constexpr int FirstPinX = 14;
constexpr int UpperPinY = 29;
constexpr int LowerPinY = 43;
constexpr int PinColumns = 8;

// The standard 16-colour palette, in icon order (blue, green, red, reserved).
const Rgb IconPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                             {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                             {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                             {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
constexpr int Transparent = -1;
enum IconColour { Black = 0, Silver = 7, Grey = 8, Red = 9, Cyan = 14, White = 15 };
constexpr int IconSize = 32;

// The icon: a silver disc with a grey rim, a cyan reflection and a clear hub, and a red arrow
// that writes into it.
int IconPixel(int x, int y) {
    int dx = 2 * x - 31, dy = 2 * y - 31; // doubled distances from the centre (15.5, 15.5)
    int d2 = dx * dx + dy * dy;
    bool arrowShaft = x >= 21 && x <= 24 && y >= 2 && y <= 11;
    bool arrowHead = y >= 12 && y <= 17 && x >= 16 + (y - 12) && x <= 29 - (y - 12);
    if (arrowShaft || arrowHead)
        return (x == 21 || x == 24 || x == 16 + (y - 12) || x == 29 - (y - 12)) ? Black : Red;
    if (d2 > 30 * 30)
        return Transparent;
    if (d2 > 27 * 27)
        return Grey;
    if (d2 <= 4 * 4)
        return Transparent;
    if (d2 <= 7 * 7)
        return Grey;
    if (d2 <= 11 * 11)
        return White;
    if (dx < 0 && dy < 0 && d2 > 18 * 18 && d2 < 22 * 22)
        return Cyan;
    return Silver;
}

} // namespace

std::vector<PinCentre> JumperPinCentres() {
    std::vector<PinCentre> pins;
    for (int y : {UpperPinY, LowerPinY})
        for (int column = 0; column < PinColumns; ++column)
            pins.push_back({FirstPinX + column * PinPitch, y});
    return pins;
}

Canvas DrawJumperPicture() {
    Canvas canvas(JumperWidth, JumperHeight, JumperField);
    for (const PinCentre &pin : JumperPinCentres())
        canvas.FillDisc(pin.x, pin.y, JumperPinRadius, JumperPin);

    // The SCSI ID pins: the left three columns of both rows.
    const int idLeft = FirstPinX - 9, idRight = FirstPinX + 2 * PinPitch + 9;
    canvas.Frame(idLeft, UpperPinY - 8, idRight, LowerPinY + 8, 2, JumperIdFrame);
    const std::string id = "SCSI ID";
    canvas.Text((idLeft + idRight + 1 - Canvas::TextWidth(id)) / 2, UpperPinY - 18, id,
                JumperIdFrame);

    // The firmware jumper: the two right-most pins of the lower row.
    const int fwLeft = FirstPinX + 6 * PinPitch - 9, fwRight = FirstPinX + 7 * PinPitch + 9;
    canvas.Frame(fwLeft, LowerPinY - 9, fwRight, LowerPinY + 9, 2, JumperFirmwareFrame);
    const std::string firmware = "Firmware";
    canvas.Text(JumperWidth - 3 - Canvas::TextWidth(firmware), LowerPinY + 14, firmware,
                JumperFirmwareFrame);
    return canvas;
}

Bytes EncodeBitmapFile(const Canvas &canvas) {
    const int rowBytes = (canvas.Width() * 3 + 3) / 4 * 4;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(rowBytes) * canvas.Height();
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + imageSize);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, canvas.Width(), canvas.Height(), 24, imageSize, 0);
    for (int y = canvas.Height() - 1; y >= 0; --y) {
        for (int x = 0; x < canvas.Width(); ++x) {
            Rgb pixel = canvas.At(x, y);
            out.push_back(pixel.blue);
            out.push_back(pixel.green);
            out.push_back(pixel.red);
        }
        out.insert(out.end(), rowBytes - canvas.Width() * 3, 0);
    }
    return out;
}

Bytes EncodeProgramIcon() {
    const std::uint32_t colourBytes = IconSize * IconSize / 2; // 4 bits per pixel
    const std::uint32_t maskBytes = IconSize * 4;              // 1 bit per pixel, 4-byte rows
    const std::uint32_t imageBytes = 40 + 16 * 4 + colourBytes + maskBytes;
    Bytes out;
    Put16(out, 0); // icon directory: reserved, type 1 (icon), one image
    Put16(out, 1);
    Put16(out, 1);
    out.push_back(IconSize);
    out.push_back(IconSize);
    out.push_back(16); // colours
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, imageBytes);
    Put32(out, 6 + 16);
    PutInfoHeader(out, IconSize, 2 * IconSize, 4, colourBytes + maskBytes, 16);
    for (const Rgb &colour : IconPalette) {
        out.push_back(colour.blue);
        out.push_back(colour.green);
        out.push_back(colour.red);
        out.push_back(0);
    }
    for (int y = IconSize - 1; y >= 0; --y)
        for (int x = 0; x < IconSize; x += 2) {
            int left = IconPixel(x, y), right = IconPixel(x + 1, y);
            out.push_back(static_cast<std::uint8_t>(((left < 0 ? 0 : left) << 4) |
                                                    (right < 0 ? 0 : right)));
        }
    for (int y = IconSize - 1; y >= 0; --y)
        for (int byte = 0; byte < 4; ++byte) {
            std::uint8_t bits = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (IconPixel(byte * 8 + bit, y) == Transparent)
                    bits |= static_cast<std::uint8_t>(0x80 >> bit);
            out.push_back(bits);
        }
    return out;
}
