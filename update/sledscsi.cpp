#include "update/sledscsi.h"

#include <cstring>
#include <exception>

#include "outcome/MessageBoxes.h"
#include "outcome/ProcessEnd.h"
#include "record/RunRecord.h"
#include "scsi/DriveCommands.h"
#include "scsi/RequestBlocks.h"
#include "update/FirmwareImage.h"
#include "update/SessionGuard.h"
#include "update/UpdateTexts.h"
#include "update/WorkerStart.h"
#include "update/WriteUnit.h"

DWORD WriteOffset = 0;

// A step that fails ends the process itself. What reaches here is the toolkit's or the runtime's
// exception: a step that could not be handed to the user-interface thread, or one that threw.
// The drive gets nothing more, and the progress window must not stay behind.
void TSledSCSI::Execute() {
    try {
        WriteDrive();
    } catch (const std::exception &) {
        EndWithWorkerFailure();
    }
}

// The write sequence, row by row: the offset change, the bar set to its absolute position, from
// the second row on a repaint of the whole window, then the step on the user-interface thread.
void TSledSCSI::WriteDrive() {
    using Step = void (TSledSCSI::*)();
    struct Row {
        bool advanceOffset;
        int position;
        Step step;
        const char *name; // the step as the run's record names it, told before it is handed over
    };
    static const Row rows[] = {
        {false, 10, &TSledSCSI::EraseStep, "erase"},
        {false, 20, &TSledSCSI::WriteChunkStep<1>, "chunk 1 of 8"},
        {true, 30, &TSledSCSI::WriteChunkStep<2>, "chunk 2 of 8"},
        {true, 40, &TSledSCSI::WriteChunkStep<3>, "chunk 3 of 8"},
        {true, 50, &TSledSCSI::WriteChunkStep<4>, "chunk 4 of 8"},
        {true, 60, &TSledSCSI::WriteChunkStep<5>, "chunk 5 of 8"},
        {true, 70, &TSledSCSI::WriteChunkStep<6>, "chunk 6 of 8"},
        {true, 80, &TSledSCSI::WriteChunkStep<7>, "chunk 7 of 8"},
        {true, 90, &TSledSCSI::WriteChunkStep<8>, "chunk 8 of 8"},
        {false, 95, &TSledSCSI::VerifyStep, "checksum read"},
        {false, 100, nullptr, nullptr},
    };
    WriteOffset = 0;
    for (const Row &row : rows) {
        if (row.advanceOffset)
            WriteOffset += FirmwareChunkSize;
        WriteForm->WriteProgressBar.SetPosition(row.position);
        if (&row != rows)
            WriteForm->Repaint();
        if (row.step) {
            RecordDriveStep(row.name);
            Synchronize(row.step);
        }
    }
    WriteForm->SetModalResult(ModalResultOk);
    for (int i = 0; i < 3; ++i)
        WriteForm->Repaint();
    // The run goes on with the next drive only after this notice.
    WriteForm->WorkerFinished();
}

// From here to the checksum comparison the drive's flash is incomplete: meanwhile Windows does not
// go to sleep when idle nor end the session without the user's say (SessionGuard.h says what
// no program can keep from happening).
void TSledSCSI::EraseStep() {
    HoldSessionForWrite(WriteForm->Handle());
    if (EraseFlash(WriteForm->Target) != 0)
        EndProcess();
}

template <int Slot> void TSledSCSI::WriteChunkStep() {
    static_assert(Slot >= 1 && Slot <= ChunkSlotCount, "chunk-write slots are 1..8");
    std::memcpy(ChunkBuffer[Slot - 1], WriteForm->Image + WriteOffset, FirmwareChunkSize);
    const BYTE moreFollows = Slot < ChunkSlotCount ? 1 : 0;
    if (WriteFlashChunk(Slot, WriteForm->Target, WriteOffset, moreFollows) != 0)
        EndProcess();
}

void TSledSCSI::VerifyStep() {
    if (ReadFlashChecksum(WriteForm->Target) != 0)
        EndProcess();
    if (SharedDataBuffer[0] != ExpectedChecksum[0] || SharedDataBuffer[1] != ExpectedChecksum[1]) {
        RecordDriveNote("checksum read " + HexDigits(SharedDataBuffer[0]) + " " +
                        HexDigits(SharedDataBuffer[1]) + ", the image's " +
                        HexDigits(ExpectedChecksum[0]) + " " + HexDigits(ExpectedChecksum[1]));
        ShowFatalErrorBox(UpdateText(UpdateMessage::ChecksumMismatch));
    }
    RecordDriveVerified();
    ReleaseSessionAfterWrite(WriteForm->Handle());
}
