// Every text the firmware update shows: the image file's failures, the run's messages, the
// progress label's wording, the reason given for a blocked shut-down, the progress window's own
// failure and the refusal of an adapter that cannot carry a chunk. The progress window's fixed
// captions ("0%", "100%") stay in its layout table (WriteUnit.cpp), with the rectangle and font of
// the control that carries each.
#ifndef M770B_UPDATE_UPDATETEXTS_H
#define M770B_UPDATE_UPDATETEXTS_H

enum class UpdateMessage {
    ImageNoMemory,           // "Not enough Memory."
    ImageNotOpen,            // "File not open.(Firmware.bin)"
    ImageReadError,          // "Firmware file error.(Firmware.bin) "
    NoDriveSelected,         // "Select CD-R drive and click UPDATE."
    UpdateSuccessful,        // "Firmware update successful. Power down the drive and ..."
    ChecksumMismatch,        // "Firmware data check error."
    WriteLabelForm,          // "%s Updating... (%s >> %s)": each %s the next part of the label
    ShutdownReason,          // "Writing drive firmware. Do not switch off."
    ProgressEventNotCreated, // "Cannot create the progress window's event"
    AdapterTooNarrow,        // "The SCSI host adapter carries at most %s bytes ...": %s the limit
};

// The text of the message.
const char *UpdateText(UpdateMessage message);

#endif
