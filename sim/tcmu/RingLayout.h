/* Where the fields of the TCMU mailbox and command entries lie, and the constants of the ring,
   as the kernel's header linux/target_core_user.h defines them. Only a C compiler reads that
   header as it is (its inline helpers turn an integer into an enum), so RingLayout.c reads it
   and hands the numbers to the C++ code. */
#ifndef M770B_SIM_TCMU_RINGLAYOUT_H
#define M770B_SIM_TCMU_RINGLAYOUT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct TcmuLayout {
    /* struct tcmu_mailbox */
    size_t mailboxSize, version, flags, ringOffset, ringSize, head, tail;
    /* struct tcmu_cmd_entry: the header, the request and the response */
    size_t entrySize, id, uflags, iovCount, cdbOffset, iov, iovSize, status, readLength, sense;
    size_t senseSize;
    unsigned mailboxVersion, outOfOrder, readLengthCap, opMask, opCommand, readLengthFlag;
};

extern const struct TcmuLayout TcmuRing;

#ifdef __cplusplus
}
#endif

#endif
