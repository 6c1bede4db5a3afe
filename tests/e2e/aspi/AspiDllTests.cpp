// Our wnaspi32.dll as a client meets it: loaded from its file, entry points resolved by name
// and by ordinal. The test build over the virtual loader drive takes a drive through the whole
// write sequence the updater sends; the production build, on a machine without SCSI ports,
// offers no adapter and answers at once.
#include "ProjectVersion.h"
#include "scsi/wnaspi32.h"
#include "tests/e2e/robot/Robot.h"
#include "tools/firmware/SampleFirmware.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct TAspiDll {
    explicit TAspiDll(const std::string &path) {
        module = LoadLibraryA(WindowsPath(path).c_str());
        if (!module)
            return;
        support = reinterpret_cast<LPGETASPI32SUPPORTINFO>(
            reinterpret_cast<void *>(GetProcAddress(module, "GetASPI32SupportInfo")));
        send = reinterpret_cast<LPSENDASPI32COMMAND>(
            reinterpret_cast<void *>(GetProcAddress(module, "SendASPI32Command")));
        using TVersion = DWORD(__cdecl *)();
        auto version = reinterpret_cast<TVersion>(
            reinterpret_cast<void *>(GetProcAddress(module, "GetASPI32DLLVersion")));
        ours = version &&
               version() == (DWORD(M770B_VERSION_MAJOR) | (DWORD(M770B_VERSION_MINOR) << 8) |
                             (DWORD(M770B_VERSION_PATCH) << 16));
    }
    bool Usable() const { return module && support && send && ours; }
    bool ours = false; // Wine's builtin wnaspi32.dll answers otherwise
    HMODULE module = nullptr;
    LPGETASPI32SUPPORTINFO support = nullptr;
    LPSENDASPI32COMMAND send = nullptr;
};

// One SC_EXEC_SCSI_CMD as the updater sends it: cleared block, event, 16 sense bytes, LUN 0.
struct TCommand {
    SRB_ExecSCSICmd srb{};
    DWORD returned = 0;
};

TCommand Execute(const TAspiDll &dll, BYTE ha, BYTE target, BYTE flags, std::vector<BYTE> cdb,
                 BYTE *buffer = nullptr, DWORD length = 0) {
    TCommand command;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SRB_ExecSCSICmd &srb = command.srb;
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Flags = flags | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = 16;
    srb.SRB_CDBLen = BYTE(cdb.size());
    srb.SRB_PostProc = event;
    std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
    command.returned = dll.send(&srb);
    if (command.returned == SS_PENDING) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 30000)) << "never completed";
    }
    CloseHandle(event);
    return command;
}

DWORD DeviceType(const TAspiDll &dll, BYTE ha, BYTE target, BYTE &type) {
    SRB_GDEVBlock srb{};
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    const DWORD status = dll.send(&srb);
    type = srb.SRB_DeviceType;
    return status;
}

DWORD InquireAdapter(const TAspiDll &dll, BYTE ha) {
    SRB_HAInquiry srb{};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    return dll.send(&srb);
}

std::vector<BYTE> ReadFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), {});
}

std::string Folder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "m770b-spti-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void WriteText(const std::string &path, const char *text) {
    std::ofstream(path) << text;
}

const std::vector<BYTE> kErase = {0xE1, 0x04, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<BYTE> kIdentity = {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0};
const std::vector<BYTE> kChecksum = {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

std::vector<BYTE> ChunkCdb(DWORD offset, bool more) {
    return {0xE2,
            BYTE(more ? 1 : 0),
            0,
            BYTE(offset >> 16),
            BYTE(offset >> 8),
            BYTE(offset),
            0,
            0,
            0x80,
            0,
            0,
            0};
}

TEST(SptiOverVirtualLoader, WritesTheImageThroughTheCdRomClassDevice) {
    const std::string folder = Folder();
    WriteText(folder + "\\scenario.txt", "adapters = 2\n"
                                         "[device 0 3]\nkind = cdrom\n"
                                         "[device 1 2]\nkind = loader\nflash = flash.bin\n"
                                         "[device 1 4]\nkind = disk\n");
    DeleteFileA((folder + "\\flash.bin").c_str());
    DeleteFileA((folder + "\\passthrough.txt").c_str());
    SetEnvironmentVariableA("M770B_SIM_SCENARIO", (folder + "\\scenario.txt").c_str());
    TAspiDll dll(M770B_SPTI_DLL);
    ASSERT_TRUE(dll.Usable()) << "not our wnaspi32.dll (WINEDLLOVERRIDES=wnaspi32=n?)";
    EXPECT_EQ(reinterpret_cast<void *>(dll.support),
              reinterpret_cast<void *>(GetProcAddress(dll.module, MAKEINTRESOURCEA(1))));
    EXPECT_EQ(reinterpret_cast<void *>(dll.send),
              reinterpret_cast<void *>(GetProcAddress(dll.module, MAKEINTRESOURCEA(2))));

    // Discovery, as the updater does it.
    EXPECT_EQ((DWORD(SS_COMP) << 8) | 2, dll.support());
    EXPECT_EQ(SS_COMP, InquireAdapter(dll, 0));
    EXPECT_EQ(SS_COMP, InquireAdapter(dll, 1));
    EXPECT_EQ(SS_INVALID_HA, InquireAdapter(dll, 2));
    BYTE type = 0xFF;
    EXPECT_EQ(SS_COMP, DeviceType(dll, 0, 3, type));
    EXPECT_EQ(DTYPE_CDROM, type);
    EXPECT_EQ(SS_COMP, DeviceType(dll, 1, 2, type));
    EXPECT_EQ(DTYPE_CDROM, type);
    EXPECT_EQ(SS_COMP, DeviceType(dll, 1, 4, type));
    EXPECT_EQ(DTYPE_DASD, type);
    EXPECT_EQ(SS_NO_DEVICE, DeviceType(dll, 1, 5, type));

    BYTE data[0x8000] = {};
    TCommand inquiry = Execute(dll, 1, 2, SRB_DIR_IN, {0x12, 0, 0, 0, 36, 0}, data, 36);
    ASSERT_EQ(SS_PENDING, inquiry.returned);
    ASSERT_EQ(SS_COMP, inquiry.srb.SRB_Status);
    EXPECT_EQ(0, std::memcmp(data + 8, "VANDREL", 7));
    EXPECT_EQ(0, std::memcmp(data + 17, "Program", 7));
    EXPECT_EQ(0, std::memcmp(data + 25, "Mode1", 5));
    ASSERT_EQ(SS_COMP, Execute(dll, 1, 2, SRB_DIR_IN, kIdentity, data, 32).srb.SRB_Status);
    EXPECT_EQ(0, std::memcmp(data, "VANDREL ZD-M770B LOADER 1.10", 28));

    // A chunk before the erase: the loader's sense comes back through the pass-through.
    const std::vector<BYTE> image = MakeSampleFirmware(7, "1.30");
    std::memcpy(data, image.data(), 0x8000);
    TCommand early = Execute(dll, 1, 2, SRB_DIR_OUT, ChunkCdb(0, true), data, 0x8000);
    EXPECT_EQ(SS_ERR, early.srb.SRB_Status);
    EXPECT_EQ(0x02, early.srb.SRB_TargStat);
    EXPECT_EQ(0x09, early.srb.SenseArea[2]);
    EXPECT_EQ(0x84, early.srb.SenseArea[12]);

    // The write sequence.
    TCommand erase = Execute(dll, 1, 2, 0, kErase);
    ASSERT_EQ(SS_COMP, erase.srb.SRB_Status);
    EXPECT_EQ(0, erase.srb.SRB_TargStat);
    for (DWORD chunk = 0; chunk < 8; ++chunk) {
        SCOPED_TRACE(chunk);
        std::memcpy(data, &image[chunk * 0x8000], 0x8000);
        TCommand write =
            Execute(dll, 1, 2, SRB_DIR_OUT, ChunkCdb(chunk * 0x8000, chunk < 7), data, 0x8000);
        ASSERT_EQ(SS_COMP, write.srb.SRB_Status);
    }
    ASSERT_EQ(SS_COMP, Execute(dll, 1, 2, SRB_DIR_IN, kChecksum, data, 2).srb.SRB_Status);
    EXPECT_EQ(image[0x3FFFE], data[0]);
    EXPECT_EQ(image[0x3FFFF], data[1]);
    EXPECT_TRUE(ReadFile(folder + "\\flash.bin") == image) << "flash differs from the image";

    // Every command we sent went to the loader's class device (the CD-ROM at 0:3 is CdRom0),
    // with a time-out long enough for the erase and below the updater's 60 s; from the erase on
    // nothing else reached the loader (before it, the class driver polled it).
    std::ifstream log(folder + "\\passthrough.txt");
    std::string line;
    int lines = 0, foreign = 0;
    bool erased = false;
    while (std::getline(log, line)) {
        if (line.find(" by=program ") == std::string::npos) {
            foreign += erased && line.compare(0, 7, "CdRom1 ") == 0 &&
                       line.find(" control=") == std::string::npos;
            continue;
        }
        ++lines;
        erased = erased || line.find(" cdb=E104FF") != std::string::npos;
        EXPECT_EQ(0u, line.find("CdRom1 ")) << line;
        const unsigned long timeout = std::stoul(line.substr(line.find(" timeout=") + 9));
        EXPECT_TRUE(timeout >= 30 && timeout < 55) << line;
    }
    EXPECT_EQ(13, lines); // INQUIRY, identity, early chunk, erase, 8 chunks, checksum
    EXPECT_EQ(0, foreign) << "other commands reached the loader after its erase";
}

TEST(ProductionDll, OffersNoAdapterWhereNoScsiPortOpens) {
    TAspiDll dll(M770B_PRODUCTION_DLL);
    ASSERT_TRUE(dll.Usable()) << "not our wnaspi32.dll (WINEDLLOVERRIDES=wnaspi32=n?)";
    EXPECT_EQ(DWORD(SS_NO_ADAPTERS) << 8, dll.support());
    EXPECT_EQ(SS_INVALID_HA, InquireAdapter(dll, 0));
    BYTE type = 0;
    EXPECT_EQ(SS_INVALID_HA, DeviceType(dll, 0, 0, type));
    EXPECT_EQ(SS_INVALID_HA, Execute(dll, 0, 0, 0, {0, 0, 0, 0, 0, 0}).returned);
}

} // namespace
