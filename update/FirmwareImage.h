// The firmware image "Firmware.bin": a raw 256 KiB flash image without a header, read once at
// start-up from the current working directory and kept in memory for the whole run.
//
//   0x00000  0x198    image bytes
//   0x00198  4        revision text (a zero byte among the four ends it early)
//   0x0019C  0x3FE62  image bytes
//   0x3FFFE  1        expected checksum, first byte
//   0x3FFFF  1        expected checksum, second byte
#ifndef M770B_UPDATE_FIRMWAREIMAGE_H
#define M770B_UPDATE_FIRMWAREIMAGE_H

#include <windows.h>

#include <string>

// The image file, by its bare name: resolved against the working directory.
inline constexpr char FirmwareFileName[] = "Firmware.bin";

constexpr DWORD FirmwareImageSize = 0x40000;
constexpr DWORD ImageRevisionOffset = 0x198;
constexpr DWORD ImageChecksumOffset = 0x3FFFE;

// The image's four revision characters and a terminating zero, read as zero-terminated text.
extern char ImageRevision[5];
// Image bytes 0x3FFFE and 0x3FFFF, compared one by one with the two bytes the drive reports.
extern BYTE ExpectedChecksum[2];

// Allocates the image block (the pointer is stored in `buffer` even when null), opens
// "Firmware.bin" read-only in binary mode, reads it with one request of FirmwareImageSize bytes,
// closes it and fills ImageRevision and ExpectedChecksum. Returns null when the image is
// loaded, otherwise the message to show, after releasing what that failure releases: nothing
// when the block could not be allocated, the block when the file cannot be opened, the block
// and then the file when the read fails or returns fewer than FirmwareImageSize bytes (a short
// or empty file would leave the rest of the image, and maybe the checksum, undefined). Bytes of
// a longer file beyond FirmwareImageSize are never read.
// The messages are "Not enough Memory.", "File not open.(Firmware.bin)" and
// "Firmware file error.(Firmware.bin) ".
const char *ReadFirmwareImage(BYTE *&buffer);

// ReadFirmwareImage, and a failure's message shown in the plain message dialog. 0 when the image
// is loaded (and told to the run's record, ImageRecord.h), 1 when loading failed and its message
// has been shown.
int LoadFirmwareFile(BYTE *&buffer);

// The program title, a blank and the image revision: the main window's title once the image is
// loaded, and the progress window's.
std::string RevisionTitle(const char *imageRevision);

#endif
