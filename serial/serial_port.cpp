#include "serial/serial_port.h"

#include "serial/port_reader.h"
#include "serial/port_table.h"

SerialPort::~SerialPort() {
    if (iIndex >= 0)
        PortClose(iIndex);
}

int SerialPort::Open(int iPort) {
    if (iPortNumber > 0)
        Close();
    iPortNumber = iPort;
    iIndex = PortOpen(this, iSpeed, iDataBits, iStopBits, iParity);
    if (iIndex < 0) {
        iPortNumber = 0;
        return iIndex;
    }
    // No target and a read size of 0 until the consumer sets one.
    PortSetCallback(iIndex, nullptr, 0);
    bOpen = 1;
    return 1;
}

void SerialPort::Close() {
    if (iIndex >= 0)
        PortClose(iIndex);
    iIndex = -1;
    iPortNumber = 0;
    bOpen = 0;
}

void SerialPort::ReopenIfOpen(int iPort) {
    if (!bOpen)
        return;
    Close();
    Open(iPort);
}

void SerialPort::SetSpeed(int iBitsPerSecond) {
    const int iPort = iPortNumber;
    iSpeed = iBitsPerSecond;
    ReopenIfOpen(iPort);
}

void SerialPort::SetDataBits(int iBits) {
    const int iPort = iPortNumber;
    iDataBits = iBits;
    ReopenIfOpen(iPort);
}

void SerialPort::SetParity(int iParityCode) {
    const int iPort = iPortNumber;
    iParity = iParityCode;
    ReopenIfOpen(iPort);
}

void SerialPort::SetStopBits(int iStopBitCode) {
    const int iPort = iPortNumber;
    iStopBits = iStopBitCode;
    ReopenIfOpen(iPort);
}

int SerialPort::SetNotifyWindow(HWND hWnd, int iReadSize) {
    if (iIndex < 0 || !IsWindow(hWnd))
        return 0;
    PortSetNotifyWindow(iIndex, hWnd, iReadSize);
    return 1;
}

int SerialPort::Read(unsigned char* pBuffer, int iMaxBytes) {
    return PortRead(iIndex, pBuffer, iMaxBytes);
}

void SerialPort::GetStatus(COMSTAT* pStatus, DWORD* pdwErrors) {
    if (pStatus && pdwErrors)
        PortGetStatus(iIndex, pStatus, pdwErrors);
}

bool SerialPort::HasInput() const {
    return iIndex >= 0 && PortInputWaiting(iIndex);
}

bool SerialPort::ReadsFailing() const {
    return iIndex >= 0 && PortReadsFailing(iIndex);
}

void SerialPort::TrimQueue() {
    if (iIndex >= 0)
        PortTrimQueue(iIndex);
}

int SerialPort::GetDroppedBytes() const {
    return iIndex >= 0 ? PortDroppedBytes(iIndex) : -1;
}
