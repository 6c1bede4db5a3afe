// The checks a SC_EXEC_SCSI_CMD block must pass before the virtual manager accepts it. Stricter
// than most managers: a field that does not fit is refused, never quietly corrected, so that a
// fault in the program shows up in the tests.
#ifndef M770B_SIM_ASPI_REQUESTCHECK_H
#define M770B_SIM_ASPI_REQUESTCHECK_H

#include "scsi/wnaspi32.h"

#include <cstdint>

struct BlockRefusal {
    const char *reason; // the trace's refused= value; null when the block is accepted
    BYTE status;        // the ASPI status it is refused with
};

// The structural checks of one execute block (target, LUN, notification, CDB length, direction,
// buffer), in the order they are applied; the first that applies decides. The transfer's length
// against the adapter's limit is the scenario's (SimManager.cpp).
BlockRefusal CheckExecuteBlock(const SRB_ExecSCSICmd &srb);

#endif
