// The program's own pictures: the jumper picture of the jumper window (a 24-bit bitmap file)
// and the program icon (32 x 32, 16 colours). The generator writes them into app/res/, and a
// unit test checks that the committed files are exactly what these functions produce.
#ifndef M770B_TOOLS_PROGRAMPICTURES_H
#define M770B_TOOLS_PROGRAMPICTURES_H

#include <cstdint>
#include <vector>

#include "tools/pictures/Canvas.h"

using Bytes = std::vector<std::uint8_t>;

constexpr int JumperWidth = 126;
constexpr int JumperHeight = 75;
constexpr Rgb JumperField = {191, 191, 191};
constexpr Rgb JumperPin = {0, 0, 0};
constexpr Rgb JumperIdFrame = {127, 127, 127};
constexpr Rgb JumperFirmwareFrame = {255, 0, 0};

// The jumper block as seen from the back of the drive: two rows of eight pins; the left three
// columns framed in dark grey under "SCSI ID"; the two right-most pins of the lower row framed
// in red above "Firmware".
Canvas DrawJumperPicture();
// The jumper picture's pin centres, row by row from the top, left to right, and their radius.
struct PinCentre {
    int x, y;
};
std::vector<PinCentre> JumperPinCentres();
constexpr int JumperPinRadius = 4;

// A bitmap file: 14-byte file header, 40-byte information header, no colour table, 24 bits per
// pixel, rows bottom-up padded to four bytes.
Bytes EncodeBitmapFile(const Canvas &canvas);

// The program icon as an icon file with one 32 x 32 image of 16 colours (4 bits per pixel, the
// standard 16-colour palette) and its transparency mask.
Bytes EncodeProgramIcon();

#endif
