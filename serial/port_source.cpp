// The serial side of the protocol core's outside calls, for the real driver.
#include "protocol/external.h"
#include "serial/device_port.h"

void PollPortStatus(SerialPort* pPort) {
    COMSTAT Status{};
    DWORD dwErrors = 0;
    pPort->GetStatus(&Status, &dwErrors);
}

bool DeviceInputWaiting() {
    return DevicePort.HasInput();
}

int ReadPort(SerialPort* pPort, unsigned char* pBuffer, int iMaxBytes) {
    return pPort->Read(pBuffer, iMaxBytes);
}
