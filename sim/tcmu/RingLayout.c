#include "sim/tcmu/RingLayout.h"

#include <linux/target_core_user.h>

const struct TcmuLayout TcmuRing = {
    .mailboxSize = sizeof(struct tcmu_mailbox),
    .version = offsetof(struct tcmu_mailbox, version),
    .flags = offsetof(struct tcmu_mailbox, flags),
    .ringOffset = offsetof(struct tcmu_mailbox, cmdr_off),
    .ringSize = offsetof(struct tcmu_mailbox, cmdr_size),
    .head = offsetof(struct tcmu_mailbox, cmd_head),
    .tail = offsetof(struct tcmu_mailbox, cmd_tail),
    .entrySize = sizeof(struct tcmu_cmd_entry),
    .id = offsetof(struct tcmu_cmd_entry_hdr, cmd_id),
    .uflags = offsetof(struct tcmu_cmd_entry_hdr, uflags),
    .iovCount = offsetof(struct tcmu_cmd_entry, req.iov_cnt),
    .cdbOffset = offsetof(struct tcmu_cmd_entry, req.cdb_off),
    .iov = offsetof(struct tcmu_cmd_entry, req.iov),
    .iovSize = sizeof(struct iovec),
    .status = offsetof(struct tcmu_cmd_entry, rsp.scsi_status),
    .readLength = offsetof(struct tcmu_cmd_entry, rsp.read_len),
    .sense = offsetof(struct tcmu_cmd_entry, rsp.sense_buffer),
    .senseSize = TCMU_SENSE_BUFFERSIZE,
    .mailboxVersion = TCMU_MAILBOX_VERSION,
    .outOfOrder = TCMU_MAILBOX_FLAG_CAP_OOOC,
    .readLengthCap = TCMU_MAILBOX_FLAG_CAP_READ_LEN,
    .opMask = TCMU_OP_MASK,
    .opCommand = TCMU_OP_CMD,
    .readLengthFlag = TCMU_UFLAG_READ_LEN,
};
