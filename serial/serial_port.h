#pragma once
// The configured COM port the device talks to. It only receives; the bytes reach the
// user-interface thread through WM_COMMNOTIFY (lParam: this object) and Read.
#include "serial/rx_queue.h"

#include <windows.h>

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // 1 opened; -1 not available; -2 already in use.
    int Open(int iPort);
    // What the closed port's queue still holds is read before anything of a later open: a port
    // closed because its device went, or to be opened again, loses none of what it received.
    void Close();
    // Each setter reopens an open port with the new value (new reader, new queue, no target).
    void SetSpeed(int iBitsPerSecond);
    void SetDataBits(int iBits);
    void SetParity(int iParityCode);
    void SetStopBits(int iStopBitCode);
    int GetPortNumber() const { return iPortNumber; }
    // 1 set; 0 when not open or the window does not exist.
    int SetNotifyWindow(HWND hWnd, int iReadSize);
    // From what an earlier close left first, then from the open port's queue.
    int Read(unsigned char* pBuffer, int iMaxBytes);
    void GetStatus(COMSTAT* pStatus, DWORD* pdwErrors);

    // Record index while open, negative otherwise (the failed open's result after one).
    int GetIndex() const { return iIndex; }
    bool IsOpen() const { return bOpen != 0; }
    // Received bytes wait to be read.
    bool HasInput() const;
    // Received bytes the queues of this object could not hold, since it was made.
    int GetDroppedBytes() const;
    // Once a second: the queue gives back the pages a backlog took, once it has long been small.
    void TrimQueue();
    // Bytes the port's driver still held when a close threw them away, since the last call.
    int TakeBytesLostAtClose();
    // The open port's reads keep failing: its device has probably gone.
    bool ReadsFailing() const;
    // The open port's handle still answers; false when not open.
    bool Responds() const;

  private:
    void ReopenIfOpen(int iPort);
    void KeepLeftover(HRXQUEUE hQueue, HANDLE hReader);
    void ReleaseQueue(HRXQUEUE hQueue, HANDLE hReader);
    void ReleaseLeftoverIfDone();

    int iIndex = -1;
    int iPortNumber = 0;
    int iSpeed = 9600;
    int iDataBits = 8;
    int iParity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int iStopBits = 0; // 0 one, 1 one and a half, 2 two
    int bOpen = 0;
    // The queue a close left with bytes unread, and its reader's thread while that may still push
    // into it (null once it has ended).
    HRXQUEUE hLeftover = nullptr;
    HANDLE hLeftoverReader = nullptr;
    int iDroppedBefore = 0; // bytes dropped by queues already released
    int iLostAtClose = 0;
};
