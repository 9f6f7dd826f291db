#include "serial/serial_port.h"

#include "serial/abandoned_readers.h"
#include "serial/port_reader.h"
#include "serial/port_table.h"

namespace {

bool Ended(HANDLE hThread) {
    return !hThread || WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
}

int AtLeastZero(int i) {
    return i > 0 ? i : 0;
}

} // namespace

SerialPort::~SerialPort() {
    if (iIndex >= 0)
        PortClose(iIndex);
    ReleaseQueue(hLeftover, hLeftoverReader);
}

// Freed once the reader that pushes into it has ended; until then it goes with the readers a
// close gave up on.
void SerialPort::ReleaseQueue(HRXQUEUE hQueue, HANDLE hReader) {
    if (!hQueue)
        return;
    iDroppedBefore += AtLeastZero(RxQueueDropped(hQueue));
    if (Ended(hReader)) {
        RxQueueFree(hQueue);
        if (hReader)
            CloseHandle(hReader);
    } else {
        AbandonReader(hReader, hQueue, nullptr);
    }
}

void SerialPort::ReleaseLeftoverIfDone() {
    if (hLeftover && RxQueueFill(hLeftover) == 0 && Ended(hLeftoverReader)) {
        ReleaseQueue(hLeftover, hLeftoverReader);
        hLeftover = nullptr;
        hLeftoverReader = nullptr;
    }
}

void SerialPort::KeepLeftover(HRXQUEUE hQueue, HANDLE hReader) {
    ReleaseLeftoverIfDone();
    if (!hLeftover) {
        hLeftover = hQueue;
        hLeftoverReader = hReader;
        return;
    }
    // An earlier close's bytes still wait: this one's go behind them, and what does not fit is
    // counted as dropped.
    BYTE Chunk[4096];
    for (int n; (n = RxQueueRead(hQueue, Chunk, sizeof Chunk)) > 0;)
        RxQueuePush(hLeftover, Chunk, n);
    ReleaseQueue(hQueue, hReader);
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
    if (iIndex >= 0) {
        const PortLeftover Left = PortCloseKeepingQueue(iIndex);
        iLostAtClose += Left.iDiscarded;
        if (Left.hRxQueue)
            KeepLeftover(Left.hRxQueue, Left.hReader);
    }
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
    if (hLeftover) {
        // The count travels as PortRead takes it.
        const int n = RxQueueRead(hLeftover, pBuffer, iMaxBytes < 0 ? 0 : (iMaxBytes & 0xFFFF));
        if (n > 0)
            return n;
        ReleaseLeftoverIfDone();
    }
    return PortRead(iIndex, pBuffer, iMaxBytes);
}

void SerialPort::GetStatus(COMSTAT* pStatus, DWORD* pdwErrors) {
    if (pStatus && pdwErrors)
        PortGetStatus(iIndex, pStatus, pdwErrors);
}

bool SerialPort::HasInput() const {
    return (hLeftover && RxQueueFill(hLeftover) > 0) || (iIndex >= 0 && PortInputWaiting(iIndex));
}

bool SerialPort::ReadsFailing() const {
    return iIndex >= 0 && PortReadsFailing(iIndex);
}

void SerialPort::TrimQueue() {
    if (iIndex >= 0)
        PortTrimQueue(iIndex);
}

bool SerialPort::Responds() const {
    return iIndex >= 0 && PortResponds(iIndex);
}

int SerialPort::GetDroppedBytes() const {
    int iDropped = iDroppedBefore;
    if (hLeftover)
        iDropped += AtLeastZero(RxQueueDropped(hLeftover));
    if (iIndex >= 0)
        iDropped += AtLeastZero(PortDroppedBytes(iIndex));
    return iDropped;
}

int SerialPort::TakeBytesLostAtClose() {
    const int iLost = iLostAtClose;
    iLostAtClose = 0;
    return iLost;
}
