#include "update/UpdateTexts.h"

namespace {

struct UpdateTextRow {
    UpdateMessage message;
    const char *text;
};

constexpr UpdateTextRow UpdateTextTable[] = {
    // Loading "Firmware.bin" at start-up, shown in the plain message dialog.
    {UpdateMessage::ImageNoMemory, "Not enough Memory."},
    {UpdateMessage::ImageNotOpen, "File not open.(Firmware.bin)"},
    {UpdateMessage::ImageReadError, "Firmware file error.(Firmware.bin) "},
    // UPDATE with no box ticked (the plain message dialog), and the end of the run.
    {UpdateMessage::NoDriveSelected, "Select CD-R drive and click UPDATE."},
    {UpdateMessage::UpdateSuccessful, "Firmware update successful. Power down the drive and "
                                      "remove firmware jumper to use drive normally."},
    // The drive's checksum differs from the image's last two bytes.
    {UpdateMessage::ChecksumMismatch, "Firmware data check error."},
    // The progress label: the caption's head, the drive's present revision, the image's.
    {UpdateMessage::WriteLabelForm, "%s Updating... (%s >> %s)"},
    // What Windows Vista and later show for the shut-down blocked during a write.
    {UpdateMessage::ShutdownReason, "Writing drive firmware. Do not switch off."},
    // The exception box, when the progress window cannot be made.
    {UpdateMessage::ProgressEventNotCreated, "Cannot create the progress window's event"},
    // UPDATE on an adapter whose requests cannot carry a 32 KiB chunk: refused before any erase.
    {UpdateMessage::AdapterTooNarrow,
     "The SCSI host adapter carries at most %s bytes in one command, and the firmware is written "
     "in commands of 32768 bytes. No drive has been changed. Connect the drive to a SCSI adapter "
     "that carries 32768 bytes in one command (or raise the transfer limit of this adapter's "
     "driver) and run the update again."},
};

} // namespace

const char *UpdateText(UpdateMessage message) {
    for (const UpdateTextRow &row : UpdateTextTable)
        if (row.message == message)
            return row.text;
    return "";
}
