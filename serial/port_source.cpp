// The serial side of the protocol core's outside calls, for the real driver.
#include "protocol/external.h"
#include "serial/device_port.h"
#include "serial/line_errors.h"

void PollPortStatus(SerialPort* pPort) {
    COMSTAT Status{};
    DWORD dwErrors = 0;
    pPort->GetStatus(&Status, &dwErrors);
}

LineErrorCounts TakeLineErrors() {
    return TakeRecordLineErrors(DevicePort.GetIndex());
}

bool DeviceInputWaiting() {
    return DevicePort.HasInput();
}

int ReadPort(SerialPort* pPort, unsigned char* pBuffer, int iMaxBytes) {
    return pPort->Read(pBuffer, iMaxBytes);
}
