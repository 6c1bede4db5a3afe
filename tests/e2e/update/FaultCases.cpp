#include "tests/e2e/update/FaultRun.h"

#include <string>

namespace {

// Fault rules: the fields the virtual drive writes into the completed request block.
const char Aborted[] = "status = 0x02";
const char NoAspi[] = "status = 0xE3";
const char BufferAlign[] = "status = 0xE1";
const char ErrorNoVendorSense[] = "status = 0x04\ntargstat = 0x02\nsense_key = 0x05\nasc = 0x24";
const char SelectionTimeout[] = "hastat = 0x11";
const char BusReset[] = "hastat = 0x0E";
const char WaitingTimeout[] = "hastat = 0x09";
const char UnknownAdapterStatus[] = "hastat = 0x42";
const char Busy[] = "targstat = 0x08";
const char Reservation[] = "targstat = 0x18";
const char OtherTargetStatus[] = "targstat = 0x28";
const char UnitAttention[] = "targstat = 0x02\nsense_key = 0x06\nasc = 0x29";

// CHECK CONDITION with the loader's sense key 9, as the manager reports it (SS_ERR) or as some
// managers do (SS_COMP with the target status alone).
std::string VendorSense(unsigned asc, unsigned ascq = 0, bool managerSaysError = true) {
    return std::string(managerSaysError ? "status = 0x04\n" : "") +
           "targstat = 0x02\nsense_key = 0x09\nasc = " + std::to_string(asc) +
           "\nascq = " + std::to_string(ascq);
}

const char NotErased[] = "Flash rom not erased. (Code 09-84-00)";

} // namespace

const std::vector<FaultCase> &FaultMatrix() {
    static const std::vector<FaultCase> cases = {
        {"erase CHECK CONDITION 09-82-00", EraseStep, VendorSense(0x82),
         "Erase failure. (Code 09-82-00)"},
        {"erase 09-83-00, no such row", EraseStep, VendorSense(0x83),
         "Firmware loader error. (Code 09-83-00)"},
        {"erase BUSY", EraseStep, Busy, "Target_Status: BUSY",
         "ASPI status 0x01, adapter status 0x00, target status 0x08, sense key 0x00, ASC 0x00, "
         "ASCQ 0x00"},
        {"erase SRB aborted", EraseStep, Aborted, "SRB aborted."},
        {"erase adapter bus reset", EraseStep, BusReset, "HA_Status: A bus reset was detected."},
        {"chunk 1 SRB aborted", 1, Aborted, "SRB aborted."},
        {"chunk 1 09-82-00", 1, VendorSense(0x82), "Erase failure. (Code 09-82-00)"},
        {"chunk 2 no ASPI", 2, NoAspi, "ASPI ERR: error"},
        {"chunk 2 09-87-00", 2, VendorSense(0x87), "Firmware data error. (Code 09-87-00)"},
        {"chunk 3 SS_ERR without vendor sense", 3, ErrorNoVendorSense,
         "SRB completed with error."},
        {"chunk 3 09-88-00", 3, VendorSense(0x88), "Firmware data error. (Code 09-88-00)"},
        {"chunk 4 09-85-00", 4, VendorSense(0x85), "Flash rom write error. (Code 09-85-00)",
         "ASPI status 0x04, adapter status 0x00, target status 0x02, sense key 0x09, ASC 0x85, "
         "ASCQ 0x00"},
        {"chunk 5 selection time-out", 5, SelectionTimeout, "HA_Status: Selection Timeout."},
        {"chunk 5 09-83-00, no such row", 5, VendorSense(0x83),
         "Firmware loader error. (Code 09-83-00)"},
        {"chunk 6 unknown adapter status", 6, UnknownAdapterStatus, "HA_Status: error"},
        {"chunk 6 09-85-01, a qualifier", 6, VendorSense(0x85, 1),
         "Firmware loader error. (Code 09-85-01)"},
        {"chunk 7 09-84-00 with SS_COMP", 7, VendorSense(0x84, 0, false), NotErased},
        {"chunk 7 unit attention", 7, UnitAttention, "Target_Status: Check Condition"},
        {"chunk 8 09-86-00", 8, VendorSense(0x86), "Flash rom check sum error. (Code 09-86-00)"},
        {"chunk 8 BUSY", 8, Busy, "Target_Status: BUSY"},
        {"checksum buffer alignment", ChecksumStep, BufferAlign, " Buffer alignment problem."},
        {"checksum waiting time-out", ChecksumStep, WaitingTimeout,
         "HA_Status: Timed out while SRB was waiting to be processed."},
        {"checksum reservation conflict", ChecksumStep, Reservation,
         "Target_Status: Reservation Conflict",
         "ASPI status 0x01, adapter status 0x00, target status 0x18, sense key 0x00, ASC 0x00, "
         "ASCQ 0x00"},
        {"checksum other target status", ChecksumStep, OtherTargetStatus, "Target_Status: error"},
        {"checksum 09-86-00 with SS_COMP", ChecksumStep, VendorSense(0x86, 0, false),
         "Flash rom check sum error. (Code 09-86-00)"},
        // An adapter that carries 16 KiB in one request would refuse the first chunk after the
        // erase.
        {"adapter limit 16 KiB", BeforeTheErase, "max_transfer = 0x4000",
         "The SCSI host adapter carries at most 16384 bytes in one command, and the firmware is "
         "written in commands of 32768 bytes. No drive has been changed. Connect the drive to a "
         "SCSI adapter that carries 32768 bytes in one command (or raise the transfer limit of "
         "this adapter's driver) and run the update again."},
    };
    return cases;
}
