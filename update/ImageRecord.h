// The firmware image as the run's record tells it: where the file is, its size, revision and
// checksum bytes, and its SHA-256 as the technician checks it (certutil -hashfile Firmware.bin
// SHA256, sha256sum), computed by Windows' CryptoAPI.
#ifndef M770B_UPDATE_IMAGERECORD_H
#define M770B_UPDATE_IMAGERECORD_H

#include <windows.h>

// Records the loaded `image` (FirmwareImageSize bytes, ImageRevision and ExpectedChecksum filled)
// and the file it came from: "Firmware.bin: <full path>, <size> bytes, revision "<r>", checksum
// bytes <b0> <b1>, SHA-256 <hash of the whole file>", and for a file longer than the image,
// ", SHA-256 of the <n> bytes written <hash of the image>". Where CryptoAPI or the second read
// of the file fails, the line says so instead of a hash.
void RecordFirmwareImage(const BYTE *image);

#endif
