#include "update/FirmwareImage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "outcome/ProgramTitle.h"
#include "ui/Dialogs.h"
#include "update/ImageRecord.h"
#include "update/UpdateTexts.h"

char ImageRevision[5];
BYTE ExpectedChecksum[2];

const char *ReadFirmwareImage(BYTE *&buffer) {
    buffer = static_cast<BYTE *>(std::malloc(FirmwareImageSize));
    if (!buffer)
        return UpdateText(UpdateMessage::ImageNoMemory);
    std::FILE *file = std::fopen(FirmwareFileName, "rb");
    if (!file) {
        std::free(buffer);
        buffer = nullptr;
        return UpdateText(UpdateMessage::ImageNotOpen);
    }
    std::size_t count = std::fread(buffer, 1, FirmwareImageSize, file);
    if (std::ferror(file) || count != FirmwareImageSize) {
        std::free(buffer);
        buffer = nullptr;
        std::fclose(file);
        return UpdateText(UpdateMessage::ImageReadError);
    }
    std::memcpy(ImageRevision, buffer + ImageRevisionOffset, 4);
    ImageRevision[4] = '\0';
    std::fclose(file);
    ExpectedChecksum[0] = buffer[ImageChecksumOffset];
    ExpectedChecksum[1] = buffer[ImageChecksumOffset + 1];
    return nullptr;
}

int LoadFirmwareFile(BYTE *&buffer) {
    if (const char *failure = ReadFirmwareImage(buffer)) {
        ShowMessage(failure);
        return 1;
    }
    RecordFirmwareImage(buffer);
    return 0;
}

std::string RevisionTitle(const char *imageRevision) {
    return std::string(ProgramTitle) + " " + imageRevision;
}
