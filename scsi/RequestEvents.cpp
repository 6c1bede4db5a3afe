#include "scsi/RequestEvents.h"

const RequestEventCalls KernelEventCalls = {CreateEventA, ResetEvent, MsgWaitForMultipleObjects,
                                            CloseHandle, GetTickCount};

RequestEventCalls EventCalls = KernelEventCalls;
