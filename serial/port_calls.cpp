#include "serial/port_calls.h"

const PortSystemCalls SYSTEM_PORT_CALLS = {ReadFile,  GetOverlappedResult, CancelIoEx,  ClearCommError,
                                           PurgeComm, GetCommState,        SetCommState};
PortSystemCalls PortCalls = SYSTEM_PORT_CALLS;
