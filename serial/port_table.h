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
// Asked of the port's driver (SetupComm): some keep no more than 4 KB of the line by default.
constexpr DWORD PORT_SYSTEM_INPUT_BYTES = 64 * 1024;
// A read on an idle line ends empty after this long, and the reader starts the next.
constexpr DWORD PORT_EMPTY_READ_MS = 1000;

// Who touches what: "UI" is the user-interface thread, which opens, sets up and closes the record
// and reads from its queue; "reader" is the record's reader thread, which keeps its own copy of
// the record as it was when it started (the start area) and touches the live record only in
// PortDeliver and NoteFailedReads, each time after checking that iGeneration is still its own.
// The table is pinned for every operation, which keeps it in place but locks nothing.
struct PortRecord {
    // 0: the record is free. UI: set at open before the reader starts, closed and cleared at close
    // once the reader has ended (or been given up on, when its generation is no longer current).
    // Reader: its copy for every read; the live one only to purge the port in PortDeliver.
    HANDLE hCom;
    LONG iSpeed;          // UI only
    HANDLE hReaderThread; // UI only
    // UI: created before the reader starts, freed once it has ended. Reader: pushes into its copy.
    // What the block holds is guarded by the queue's own lock (rx_queue.h).
    HRXQUEUE hRxQueue;
    OVERLAPPED Overlapped; // stays zero; the reader builds its own
    // The notification target, one at a time. UI: swapped with interlocked exchanges, the new one
    // set before the other is cleared. Reader: read once per chunk in PortDeliver, without a lock,
    // so a chunk is announced to the old target or to the new one.
    PortCallback volatile pCallback;
    HWND volatile hNotifyWindow;
    // Reader: set when it posts a notification, cleared by the 100 ms rule and when
    // the post fails. UI: cleared by every PortRead. Interlocked operations only, on both sides.
    volatile LONG bNotifyPosted;
    // Reader only, in PortDeliver (0 at open, before the reader starts).
    volatile DWORD dwLastNotifyTick;
    COMMTIMEOUTS Timeouts; // UI only
    // A whole COMMPROP, although only COMMPROP_LENGTH bytes are announced: the system may fill
    // the structure's full size. UI only.
    COMMPROP LineProperties;
    LONG iPortNumber;       // UI: set at open, before the reader starts; read-only from then on
    DWORD dwReaderThreadId; // UI only
    // Bytes queued and not read. Reader: increased in PortDeliver. UI: decreased in PortRead.
    // Interlocked adds only.
    volatile LONG iPendingCount;
    // UI: created before the reader starts and waited on until the reader has copied the start
    // area. Reader: released once, through its copy.
    HANDLE hStartSemaphore;
    SerialPort* pOwner; // UI: set at open, before the reader starts. Reader: read in PortDeliver.
    // Auto-reset: a new read size or a close wakes the reader from any wait. UI: created before
    // the reader starts, signalled at will, closed once the reader has ended. Reader: waits on its
    // copy.
    HANDLE hWakeEvent;
    // Unique to one open, never 0 while open: a reader delivers only into the record of its own
    // open, not into one a later open of the same port filled. UI: set before the reader starts,
    // cleared (interlocked) at close. Reader: compared with its copy before it touches the record.
    volatile LONG iGeneration;
    // Reads in a row that failed (not those that timed out empty): a port whose device has gone,
    // such as a pulled USB adapter, fails every read. Reader: interlocked exchange, while current.
    // UI: read by PortReadsFailing.
    volatile LONG iFailedReads;
};

static_assert(offsetof(COMMPROP, wcProvChar) + sizeof(WCHAR) == COMMPROP_LENGTH,
              "COMMPROP is announced with its packed length");
static_assert(sizeof(COMMPROP) >= COMMPROP_LENGTH);
static_assert(sizeof(COMMTIMEOUTS) == 5 * sizeof(DWORD));
static_assert(std::is_trivially_copyable_v<PortRecord>, "records are cleared and copied as bytes");

// Movable global block of PORT_COUNT records; null when no port is open. UI: allocated and freed,
// freed only while no reader can run (none open, none given up on that has not ended). Reader:
// read to pin the table in PortDeliver and NoteFailedReads.
extern HGLOBAL hPortTable;
// Per record index, outliving the table: the generation of the open whose reader is to go on
// (0: none), and the read size. A reader runs only while the flag holds its own generation, so a
// reader a close gave up on never resumes in a later open of the same port. UI: written with
// interlocked exchanges (open, set-up, close; a new read size). Reader: read before every read
// and whenever its wait wakes, without a lock.
extern volatile LONG iRunFlag[PORT_COUNT];
extern volatile LONG iReadSize[PORT_COUNT];
// The record a new reader thread starts from; free again once PortSetup returns. UI: filled just
// before the reader is created. Reader: copied first thing, then the start semaphore released;
// the UI waits for that release (or the reader's end) before the area may be filled again.
extern PortRecord StartArea;

// Record index (port number - 1), -1 not available, -2 already in use.
int PortOpen(SerialPort* pOwner, int iSpeed, int iDataBits, int iStopBits, int iParity);
// 1 on success, 0 when the port refused the settings or the queue or reader could not be made.
int PortSetup(PortRecord* pRecord, int iSpeed, int iDataBits, int iStopBits, int iParity);
// Stops and waits for the reader before releasing anything; a reader that does not end within
// about 3 s is abandoned with what it holds, and the table is kept until it has ended.
// -1: only free an unused table.
void PortClose(int iIndex);
// What a close leaves to its caller of the record's receive queue.
struct PortLeftover {
    HRXQUEUE hRxQueue; // the queue, with what it holds unread; null when none
    // The reader's thread while it has not been seen to end: until then it may still push into
    // the queue, which must not be freed. Null once it has ended.
    HANDLE hReader;
    int iDiscarded; // bytes the port's driver still held, thrown away with the port
};
// As PortClose, but the queue goes to the caller instead of being freed.
PortLeftover PortCloseKeepingQueue(int iIndex);
// Whether the record's port still answers (ClearCommError): the handle of a device that has gone,
// such as a pulled USB adapter, does not, even while a read on it hangs. Counts the line errors
// the port reports.
bool PortResponds(int iIndex);
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
