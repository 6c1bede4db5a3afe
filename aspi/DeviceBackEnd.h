// The operating system services our ASPI manager uses: opening a device by its Win32 name,
// sending it an I/O control request, closing it, telling CD-ROM drive letters, and signalling a
// completion event. The
// manager reaches Windows only through this interface, so unit tests and the virtual loader
// drive can stand in for the SCSI port and class drivers.
#ifndef M770B_ASPI_DEVICEBACKEND_H
#define M770B_ASPI_DEVICEBACKEND_H

#include <windows.h>

class TDeviceBackEnd {
  public:
    virtual ~TDeviceBackEnd() = default;

    // Opens a device ("\\.\Scsi0:", "\\.\CdRom0") with the access asked (kReadWrite, or
    // FILE_READ_ATTRIBUTES alone), shared for reading and writing. Returns ERROR_SUCCESS and the
    // handle, or the Win32 error code.
    static constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
    virtual DWORD OpenDevice(const char *name, DWORD access, HANDLE *device) = 0;

    // DeviceIoControl on a handle from OpenDevice. Returns ERROR_SUCCESS with the byte count
    // of the answer in *returned, or the Win32 error code.
    virtual DWORD ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out,
                                DWORD outSize, DWORD *returned) = 0;

    virtual void CloseDevice(HANDLE device) = 0;

    // Whether drive letter X: is a CD-ROM drive (GetDriveType).
    virtual bool IsCdRomDrive(char letter) = 0;

    // Signals the event a client gave in SRB_PostProc.
    virtual void SignalEvent(HANDLE event) = 0;
};

// The back end the exported entry points use: Windows itself in the DLL we ship, the virtual
// loader drive in the test build. Each DLL links exactly one definition.
TDeviceBackEnd &SystemBackEnd();

#endif
