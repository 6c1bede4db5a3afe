// The worker thread that writes the firmware image into one drive: erase, eight 32 KiB chunks,
// checksum. It only orders the steps, keeps WriteOffset and moves the progress window's bar;
// every step that talks to the drive runs on the user-interface thread through Synchronize
// while the worker waits. A failed step ends the process from inside the step. The drive and the
// image are those of the progress window WriteForm that starts the worker. The run's record gets
// a line as each step starts, before it is handed over (so a record cut off inside it names the
// step), a checksum that differs, and the drive verified.
#ifndef M770B_UPDATE_SLEDSCSI_H
#define M770B_UPDATE_SLEDSCSI_H

#include <windows.h>

#include "ui/Thread.h"

// Byte offset of the chunk being sent, in the image and in the drive's flash: 0 at the start of
// every drive, advanced by 0x8000 after each of chunks 1 to 7. Written only by the worker
// between steps, read only by the chunk steps while the worker waits.
extern DWORD WriteOffset;

constexpr DWORD FirmwareChunkSize = 0x8000;

class TSledSCSI : public TThread {
  public:
    explicit TSledSCSI(bool createSuspended) : TThread(createSuspended) {}
    ~TSledSCSI() override = default;

  protected:
    void Execute() override;

  private:
    void WriteDrive();
    void EraseStep();
    // Chunk-write slot 1..8: copies the image's 0x8000 bytes at WriteOffset into the slot's
    // ChunkBuffer, then sends them; slots 1 to 7 say that more chunks follow.
    template <int Slot> void WriteChunkStep();
    void VerifyStep();
};

#endif
