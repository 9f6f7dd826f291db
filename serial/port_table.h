#pragma once
// The process-wide table of open COM ports: record i serves COM port i + 1. Each open record owns
// the port handle, a reader thread and a receive queue.
#include "serial/rx_queue.h"

#include <windows.h>

#include <cstddef>
#include <type_traits>

class SerialPort;
// Alternative notification target, called on the reader thread with the record's owner.
using PortCallback = void (*)(SerialPort* pOwner);

constexpr int PORT_COUNT = 256;
constexpr int PORT_READ_BUFFER = 256; // the reader's buffer; a read never asks for more
constexpr int PORT_OPEN_READ_SIZE = 16;
constexpr WORD COMMPROP_LENGTH = 62; // announced to GetCommProperties
constexpr DWORD PORT_START_WAIT_MS = 1000;

struct PortRecord {
    HANDLE hCom; // 0: the record is free
    LONG iSpeed;
    HANDLE hReaderThread;
    HRXQUEUE hRxQueue;
    OVERLAPPED Overlapped; // stays zero; the reader builds its own
    PortCallback volatile pCallback;
    HWND volatile hNotifyWindow;
    volatile LONG bNotifyPosted;
    volatile DWORD dwLastNotifyTick;
    COMMTIMEOUTS Timeouts;
    // A whole COMMPROP, although only COMMPROP_LENGTH bytes are announced: the system may fill
    // the structure's full size.
    COMMPROP LineProperties;
    LONG iPortNumber;
    DWORD dwReaderThreadId;
    volatile LONG iPendingCount;
    HANDLE hStartSemaphore;
    SerialPort* pOwner;
    HANDLE hWakeEvent; // auto-reset: a new read size or a close wakes the reader from any wait
    // Unique to one open, never 0 while open: a reader delivers only into the record of its own
    // open, not into one a later open of the same port filled.
    volatile LONG iGeneration;
    // Reads in a row that failed (not those that timed out empty): a port whose device has gone,
    // such as a pulled USB adapter, fails every read.
    volatile LONG iFailedReads;
};

static_assert(offsetof(COMMPROP, wcProvChar) + sizeof(WCHAR) == COMMPROP_LENGTH,
              "COMMPROP is announced with its packed length");
static_assert(sizeof(COMMPROP) >= COMMPROP_LENGTH);
static_assert(sizeof(COMMTIMEOUTS) == 5 * sizeof(DWORD));
static_assert(std::is_trivially_copyable_v<PortRecord>, "records are cleared and copied as bytes");

// Movable global block of PORT_COUNT records; null when no port is open.
extern HGLOBAL hPortTable;
// Per record index, outliving the table: the generation of the open whose reader is to go on
// (0: none), and the read size. A reader runs only while the flag holds its own generation, so a
// reader a close gave up on never resumes in a later open of the same port.
extern volatile LONG iRunFlag[PORT_COUNT];
extern volatile LONG iReadSize[PORT_COUNT];
// The record a new reader thread starts from; free again once PortSetup returns.
extern PortRecord StartArea;

// Record index (port number - 1), -1 not available, -2 already in use.
int PortOpen(SerialPort* pOwner, int iSpeed, int iDataBits, int iStopBits, int iParity);
// 1 on success, 0 when the port refused the settings or the queue or reader could not be made.
int PortSetup(PortRecord* pRecord, int iSpeed, int iDataBits, int iStopBits, int iParity);
// Stops and waits for the reader before releasing anything; a reader that does not end within
// about 3 s is abandoned with what it holds, and the table is kept until it has ended.
// -1: only free an unused table.
void PortClose(int iIndex);
int PortSetReadSize(int iIndex, int iReadSize);
int PortSetNotifyWindow(int iIndex, HWND hWnd, int iReadSize);
int PortSetCallback(int iIndex, PortCallback pCallback, int iReadSize);
// A copy of a record, for tests and benchmarks; false without a table or for a bad index.
bool PortPeek(int iIndex, PortRecord* pRecord);

// Pins the table for one operation.
class PortTablePin {
  public:
    PortTablePin()
        : hBlock(hPortTable), pRecords(hBlock ? static_cast<PortRecord*>(GlobalLock(hBlock)) : nullptr) {}
    ~PortTablePin() {
        if (pRecords)
            GlobalUnlock(hBlock);
    }
    PortTablePin(const PortTablePin&) = delete;
    PortTablePin& operator=(const PortTablePin&) = delete;
    PortRecord* Records() const { return pRecords; }
    // The record of index iIndex; null for an index outside the table, or when there is no table.
    PortRecord* Record(int iIndex) const {
        return pRecords && iIndex >= 0 && iIndex < PORT_COUNT ? pRecords + iIndex : nullptr;
    }

  private:
    HGLOBAL hBlock;
    PortRecord* pRecords;
};
