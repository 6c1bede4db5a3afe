// Judging a completed request: each status level's codes and messages, the order in which the
// levels are consulted, the loader's sense codes, the silent target status check, and the
// transport's other messages.
#include <cstring>
#include <string>

#include "scsi/RequestStatus.h"
#include "tests/unit/scsi/TransportFixture.h"

namespace {

using RequestStatusTest = TransportTest;

SRB_ExecSCSICmd Completed(BYTE status, BYTE haStat, BYTE targStat, BYTE key = 0, BYTE asc = 0,
                          BYTE ascq = 0) {
    SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_Status = status;
    request.SRB_HaStat = haStat;
    request.SRB_TargStat = targStat;
    request.SenseArea[0] = 0x70;
    request.SenseArea[2] = key;
    request.SenseArea[7] = 10;
    request.SenseArea[12] = asc;
    request.SenseArea[13] = ascq;
    return request;
}

struct Case {
    BYTE code;
    const char *message;
};

// The first fault found, as the user reads it: one error box, and the check fails.
void ExpectReported(const SRB_ExecSCSICmd &request, const std::string &message) {
    ResetRecordedMessages();
    EXPECT_EQ(ReportRequestStatus(request), 1);
    EXPECT_EQ(RecordedMessages(), std::vector<ShownMessage>{ErrorBoxWith(message)});
}

// The ASPI status decides alone: the adapter and target faults set alongside are not named.
TEST_F(RequestStatusTest, AspiStatusOtherThanCompleteIsNamedByItself) {
    const Case cases[] = {
        {0x02, "SRB aborted."},
        {0x03, "Unable to abort SRB."},
        {0x04, "SRB completed with error."}, // sense key not 9
        {0x80, "Invalid ASPI command."},
        {0x81, "Invalid host adapter number."},
        {0x82, "SCSI device not installed."},
        {0xE0, "Invalid parameter set in SRB."},
        {0xE1, " Buffer alignment problem."},
        {0xE2, "Device access security violation."},
        {0xE4, "ASPI for windows failed init."},
        {0xE5, "No resources available to execute cmd."},
        {0xE6, "Buffer size to big to handle!"},
        {0xE3, "ASPI ERR: error"}, // SS_NO_ASPI has no row of its own
        {0x00, "ASPI ERR: error"},
        {0x05, "ASPI ERR: error"},
        {0x7F, "ASPI ERR: error"},
        {0xE7, "ASPI ERR: error"},
        {0xFF, "ASPI ERR: error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.code));
        ExpectReported(Completed(c.code, HASTAT_SEL_TO, 0x08, 0x05, 0x24, 0x00), c.message);
    }
}

TEST_F(RequestStatusTest, AdapterStatusIsNamedBeforeTheTargetStatus) {
    const Case cases[] = {
        {0x09, "HA_Status: Timed out while SRB was waiting to be processed."},
        {0x0B, "HA_Status: While processing the SRB, the adapter timed out."},
        {0x0D, "HA_Status: While processing SRB, the adapter received a MESSAGE REJECT."},
        {0x0E, "HA_Status: A bus reset was detected."},
        {0x0F, "HA_Status: Parity error."},
        {0x10, "HA_Status: The adapter failed in issuing REQUEST SENSE."},
        {0x11, "HA_Status: Selection Timeout."},
        {0x12, "HA_Status: Data overrun data underrun."},
        {0x13, "HA_Status: Unexpected bus free."},
        {0x14, "HA_Status: Target bus phase sequence failure."},
        {0x01, "HA_Status: error"},
        {0x0A, "HA_Status: error"},
        {0x0C, "HA_Status: error"},
        {0x15, "HA_Status: error"},
        {0xFF, "HA_Status: error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.code));
        // Target status CHECK CONDITION with a loader code behind it: still the adapter speaks.
        ExpectReported(Completed(SS_COMP, c.code, 0x02, 0x09, 0x85, 0x00), c.message);
        ExpectReported(Completed(SS_COMP, c.code, 0x00), c.message);
    }
}

TEST_F(RequestStatusTest, TargetStatusIsNamedWhenAspiAndAdapterAreContent) {
    const Case cases[] = {
        {0x02, "Target_Status: Check Condition"}, // sense key 5
        {0x08, "Target_Status: BUSY"},
        {0x18, "Target_Status: Reservation Conflict"},
        {0x04, "Target_Status: error"},
        {0x10, "Target_Status: error"},
        {0x14, "Target_Status: error"},
        {0x28, "Target_Status: error"},
        {0xFF, "Target_Status: error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.code));
        ExpectReported(Completed(SS_COMP, HASTAT_OK, c.code, 0x05, 0x24, 0x00), c.message);
    }
}

TEST_F(RequestStatusTest, GoodRequestSucceedsSilently) {
    EXPECT_EQ(ReportRequestStatus(Completed(SS_COMP, HASTAT_OK, 0x00)), 0);
    // Sense bytes left from an earlier answer do not matter when the status is good.
    EXPECT_EQ(ReportRequestStatus(Completed(SS_COMP, HASTAT_OK, 0x00, 0x09, 0x82, 0x00)), 0);
    EXPECT_TRUE(RecordedMessages().empty());
}

// The loader's codes are read in the two places where sense data stands: SS_ERR, and a complete
// request whose target reported CHECK CONDITION.
TEST_F(RequestStatusTest, LoaderSenseCodesAreNamedWhereverSenseIsRead) {
    const Case cases[] = {
        {0x82, "Erase failure. (Code 09-82-00)"},
        {0x84, "Flash rom not erased. (Code 09-84-00)"},
        {0x85, "Flash rom write error. (Code 09-85-00)"},
        {0x86, "Flash rom check sum error. (Code 09-86-00)"},
        {0x87, "Firmware data error. (Code 09-87-00)"},
        {0x88, "Firmware data error. (Code 09-88-00)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.code));
        ExpectReported(Completed(SS_ERR, HASTAT_OK, 0x02, 0x09, c.code, 0x00), c.message);
        ExpectReported(Completed(SS_COMP, HASTAT_OK, 0x02, 0x09, c.code, 0x00), c.message);
        // With SS_ERR the sense data speaks, not the adapter status.
        ExpectReported(Completed(SS_ERR, HASTAT_DO_DU, 0x02, 0x09, c.code, 0x00), c.message);
    }
}

TEST_F(RequestStatusTest, UnlistedLoaderCodesAreNamedWithTheirBytes) {
    struct SenseCase {
        BYTE asc, ascq;
        const char *message;
    };
    const SenseCase cases[] = {
        {0x83, 0x00, "Firmware loader error. (Code 09-83-00)"},
        {0x85, 0x01, "Firmware loader error. (Code 09-85-01)"},
        {0x82, 0xFF, "Firmware loader error. (Code 09-82-FF)"},
        {0x00, 0x00, "Firmware loader error. (Code 09-00-00)"},
        {0x81, 0x00, "Firmware loader error. (Code 09-81-00)"},
        {0x89, 0x00, "Firmware loader error. (Code 09-89-00)"},
        {0xAB, 0xCD, "Firmware loader error. (Code 09-AB-CD)"},
    };
    for (const SenseCase &c : cases) {
        SCOPED_TRACE(c.message);
        ExpectReported(Completed(SS_ERR, HASTAT_OK, 0x02, 0x09, c.asc, c.ascq), c.message);
        ExpectReported(Completed(SS_COMP, HASTAT_OK, 0x02, 0x09, c.asc, c.ascq), c.message);
    }
}

// The sense key byte is compared whole: key 9 with the incorrect-length, end-of-medium or
// filemark bit set is not the loader speaking.
TEST_F(RequestStatusTest, SenseKeyNineWithFlagBitsIsNotALoaderCode) {
    for (BYTE key : {BYTE(0x29), BYTE(0x49), BYTE(0x89), BYTE(0x19), BYTE(0x05), BYTE(0x00)}) {
        SCOPED_TRACE(int(key));
        ExpectReported(Completed(SS_ERR, HASTAT_OK, 0x02, key, 0x85, 0x00),
                       "SRB completed with error.");
        ExpectReported(Completed(SS_COMP, HASTAT_OK, 0x02, key, 0x85, 0x00),
                       "Target_Status: Check Condition");
    }
}

TEST_F(RequestStatusTest, TargetStatusCheckLooksAtTheTargetStatusAlone) {
    struct TargetCase {
        SRB_ExecSCSICmd request;
        int result;
    };
    const TargetCase cases[] = {
        {Completed(SS_COMP, HASTAT_OK, 0x00), 0},
        {Completed(SS_ERR, HASTAT_OK, 0x00, 0x09, 0x82, 0x00), 0},
        {Completed(SS_ABORTED, HASTAT_SEL_TO, 0x00), 0},
        {Completed(SS_COMP, HASTAT_OK, 0x02, 0x09, 0x82, 0x00), 1},
        {Completed(SS_COMP, HASTAT_OK, 0x08), 1},
        {Completed(SS_COMP, HASTAT_OK, 0xFF), 1},
    };
    for (const TargetCase &c : cases) {
        EXPECT_EQ(CheckTargetStatus(c.request), c.result);
    }
    EXPECT_TRUE(RecordedMessages().empty());
}

} // namespace
