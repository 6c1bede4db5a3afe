#include "scsi/RequestEvents.h"

const RequestEventCalls KernelEventCalls = {CreateEventA, ResetEvent, WaitForSingleObject,
                                            CloseHandle, GetTickCount};

RequestEventCalls EventCalls = KernelEventCalls;
