#include "scsi/RequestStatus.h"

#include <string>

#include "outcome/MessageBoxes.h"
#include "record/RunRecord.h"

namespace {

// One row per status code: its published name and what the user is told. A row that reads the
// sense data shows the loader's own message instead when the sense key is the vendor key 9.
// Each table ends in a row without a name, which holds the message for every other code.
struct StatusRow {
    BYTE code;
    const char *name;
    const char *message;
    bool readsSense;
};

// SRB_Status, when it is not SS_COMP.
constexpr StatusRow AspiStatusTable[] = {
    {SS_ABORTED, "SS_ABORTED", "SRB aborted.", false},
    {SS_ABORT_FAIL, "SS_ABORT_FAIL", "Unable to abort SRB.", false},
    {SS_ERR, "SS_ERR", "SRB completed with error.", true},
    {SS_INVALID_CMD, "SS_INVALID_CMD", "Invalid ASPI command.", false},
    {SS_INVALID_HA, "SS_INVALID_HA", "Invalid host adapter number.", false},
    {SS_NO_DEVICE, "SS_NO_DEVICE", "SCSI device not installed.", false},
    {SS_INVALID_SRB, "SS_INVALID_SRB", "Invalid parameter set in SRB.", false},
    {SS_BUFFER_ALIGN, "SS_BUFFER_ALIGN", " Buffer alignment problem.", false},
    {SS_SECURITY_VIOLATION, "SS_SECURITY_VIOLATION", "Device access security violation.", false},
    {SS_FAILED_INIT, "SS_FAILED_INIT", "ASPI for windows failed init.", false},
    {SS_ASPI_IS_BUSY, "SS_ASPI_IS_BUSY", "No resources available to execute cmd.", false},
    {SS_BUFFER_TO_BIG, "SS_BUFFER_TO_BIG", "Buffer size to big to handle!", false},
    {0, nullptr, "ASPI ERR: error", false},
};

// SRB_HaStat, when it is not HASTAT_OK.
constexpr StatusRow AdapterStatusTable[] = {
    {HASTAT_TIMEOUT, "HASTAT_TIMEOUT",
     "HA_Status: Timed out while SRB was waiting to be processed.", false},
    {HASTAT_COMMAND_TIMEOUT, "HASTAT_COMMAND_TIMEOUT",
     "HA_Status: While processing the SRB, the adapter timed out.", false},
    {HASTAT_MESSAGE_REJECT, "HASTAT_MESSAGE_REJECT",
     "HA_Status: While processing SRB, the adapter received a MESSAGE REJECT.", false},
    {HASTAT_BUS_RESET, "HASTAT_BUS_RESET", "HA_Status: A bus reset was detected.", false},
    {HASTAT_PARITY_ERROR, "HASTAT_PARITY_ERROR", "HA_Status: Parity error.", false},
    {HASTAT_REQUEST_SENSE_FAILED, "HASTAT_REQUEST_SENSE_FAILED",
     "HA_Status: The adapter failed in issuing REQUEST SENSE.", false},
    {HASTAT_SEL_TO, "HASTAT_SEL_TO", "HA_Status: Selection Timeout.", false},
    {HASTAT_DO_DU, "HASTAT_DO_DU", "HA_Status: Data overrun data underrun.", false},
    {HASTAT_BUS_FREE, "HASTAT_BUS_FREE", "HA_Status: Unexpected bus free.", false},
    {HASTAT_PHASE_ERR, "HASTAT_PHASE_ERR", "HA_Status: Target bus phase sequence failure.", false},
    {0, nullptr, "HA_Status: error", false},
};

// SRB_TargStat, the SCSI status byte, when it is not GOOD.
constexpr BYTE TargetStatusGood = 0x00;
constexpr StatusRow TargetStatusTable[] = {
    {0x02, "CHECK CONDITION", "Target_Status: Check Condition", true},
    {0x08, "BUSY", "Target_Status: BUSY", false},
    {0x18, "RESERVATION CONFLICT", "Target_Status: Reservation Conflict", false},
    {0, nullptr, "Target_Status: error", false},
};

// The loader's own sense codes: sense key 9 (vendor specific), the ASC of the row, ASCQ 0.
constexpr BYTE VendorSenseKey = 0x09;
constexpr BYTE VendorSenseQualifier = 0x00;
constexpr StatusRow VendorSenseTable[] = {
    {0x82, "ERASE FAILURE", "Erase failure. (Code 09-82-00)", false},
    {0x84, "FLASH NOT ERASED", "Flash rom not erased. (Code 09-84-00)", false},
    {0x85, "FLASH WRITE ERROR", "Flash rom write error. (Code 09-85-00)", false},
    {0x86, "FLASH CHECKSUM ERROR", "Flash rom check sum error. (Code 09-86-00)", false},
    {0x87, "FIRMWARE DATA ERROR", "Firmware data error. (Code 09-87-00)", false},
    {0x88, "FIRMWARE DATA ERROR", "Firmware data error. (Code 09-88-00)", false},
    {0, nullptr, nullptr, false},
};

// What binding the ASPI manager and executing a request may have to say.
struct TransportRow {
    TransportMessage message;
    const char *text;
};
constexpr TransportRow TransportTable[] = {
    {TransportMessage::LibraryNotFound, "wnaspi32.dll not found"},
    {TransportMessage::SupportInfoNotFound, "GetASPI32SupportInfo not found"},
    {TransportMessage::SendCommandNotFound, "SendASPI32Command not found"},
    {TransportMessage::EventNotCreated, "Can not create Event."},
    {TransportMessage::CommandTimedOut, "SCSI command timed out."},
};

// The row of the code, or the table's closing row.
const StatusRow &FindStatusRow(const StatusRow *table, BYTE code) {
    while (table->name && table->code != code) {
        ++table;
    }
    return *table;
}

// Sense data in fixed format: the sense key byte (compared whole, so the filemark,
// end-of-medium and incorrect-length bits must be clear), the ASC and the ASCQ.
constexpr int SenseKeyByte = 2;
constexpr int SenseCodeByte = 12;
constexpr int SenseQualifierByte = 13;

// The loader's message for its sense code. A code of key 9 without a row of its own is still
// named, with its three bytes, so that no refusal of the loader goes unseen.
void ShowVendorSense(const SRB_ExecSCSICmd &request) {
    const BYTE key = request.SenseArea[SenseKeyByte];
    const BYTE code = request.SenseArea[SenseCodeByte];
    const BYTE qualifier = request.SenseArea[SenseQualifierByte];
    const StatusRow &row = FindStatusRow(VendorSenseTable, code);
    if (row.message && qualifier == VendorSenseQualifier) {
        ShowErrorBox(row.message);
        return;
    }
    // "Firmware loader error. (Code KK-CC-QQ)", the three bytes in upper-case hexadecimal.
    const std::string message = "Firmware loader error. (Code " + HexDigits(key) + "-" +
                                HexDigits(code) + "-" + HexDigits(qualifier) + ")";
    ShowErrorBox(message.c_str());
}

// Reports the fault of one status level and returns 1. The raw status goes into the record
// before the box, which may stand a long time.
int ReportFault(const StatusRow *table, BYTE code, const SRB_ExecSCSICmd &request) {
    RecordRequestStatus(request, "failed");
    const StatusRow &row = FindStatusRow(table, code);
    if (row.readsSense && request.SenseArea[SenseKeyByte] == VendorSenseKey) {
        ShowVendorSense(request);
    } else {
        ShowErrorBox(row.message);
    }
    return 1;
}

} // namespace

int ReportRequestStatus(const SRB_ExecSCSICmd &request) {
    if (request.SRB_Status != SS_COMP) {
        return ReportFault(AspiStatusTable, request.SRB_Status, request);
    }
    if (request.SRB_HaStat != HASTAT_OK) {
        return ReportFault(AdapterStatusTable, request.SRB_HaStat, request);
    }
    if (request.SRB_TargStat != TargetStatusGood) {
        return ReportFault(TargetStatusTable, request.SRB_TargStat, request);
    }
    return 0;
}

void RecordRequestStatus(const SRB_ExecSCSICmd &request, const char *outcome) {
    RecordLine("Request " + HexByte(request.CDBByte[0]) + " to (" +
               std::to_string(request.SRB_HaId) + "," + std::to_string(request.SRB_Target) + ") " +
               outcome + ": ASPI status " + HexByte(request.SRB_Status) + ", adapter status " +
               HexByte(request.SRB_HaStat) + ", target status " + HexByte(request.SRB_TargStat) +
               ", sense key " + HexByte(request.SenseArea[SenseKeyByte]) + ", ASC " +
               HexByte(request.SenseArea[SenseCodeByte]) + ", ASCQ " +
               HexByte(request.SenseArea[SenseQualifierByte]));
}

const char *TransportText(TransportMessage message) {
    for (const TransportRow &row : TransportTable) {
        if (row.message == message) {
            return row.text;
        }
    }
    return "";
}

int CheckTargetStatus(const SRB_ExecSCSICmd &request) {
    return request.SRB_TargStat != TargetStatusGood;
}
