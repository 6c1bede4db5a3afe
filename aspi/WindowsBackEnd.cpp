// The back end of the DLL we ship: the Windows SCSI port and class drivers.
#include "aspi/DeviceBackEnd.h"

namespace {

class TWindowsBackEnd : public TDeviceBackEnd {
  public:
    DWORD OpenDevice(const char *name, DWORD access, HANDLE *device) override {
        *device = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        return *device == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }

    DWORD ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                        DWORD *returned) override {
        *returned = 0;
        if (!DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr))
            return GetLastError();
        return ERROR_SUCCESS;
    }

    void CloseDevice(HANDLE device) override { CloseHandle(device); }

    bool IsCdRomDrive(char letter) override {
        const char root[] = {letter, ':', '\\', 0};
        return GetDriveTypeA(root) == DRIVE_CDROM;
    }

    void SignalEvent(HANDLE event) override { SetEvent(event); }
};

} // namespace

TDeviceBackEnd &SystemBackEnd() {
    static TWindowsBackEnd backEnd;
    return backEnd;
}
