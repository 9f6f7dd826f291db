#pragma once
// The reader thread of an open port record and the consumer's side of its receive queue.
#include <windows.h>

constexpr UINT PORT_NOTIFY_MESSAGE = 0x44; // WM_COMMNOTIFY
// A consumer that has not read since the last notification is told again at most this often,
// however much waits: the queue holds minutes of the line, and a notification for every chunk of
// a backlog only fills the consumer's message queue while it is held (hundreds of thousands in a
// few minutes, past the system's quota of posted messages), to be thrown away once it is free.
constexpr DWORD PORT_NOTIFY_INTERVAL_MS = 100;
constexpr DWORD PORT_RETRY_WAIT_MS = 100;  // between reads that fail at once
constexpr DWORD PORT_IDLE_WAIT_MS = 1000;  // while the read size is 0; a new size wakes it
constexpr LONG PORT_FAILING_READS = 10;    // this many failed reads in a row: the port is failing

struct PortRecord;

// The readers' millisecond clock, GetTickCount; a test puts a clock of its own in before it opens
// a port.
using PortTickSource = DWORD(WINAPI*)();
extern PortTickSource volatile pfnPortTickCount;

// Thread function; its argument is the start area.
DWORD WINAPI PortReader(LPVOID pStartArea);
// Delivers a chunk for the reader whose copy of the start area is Reader, as long as its open is
// the record's.
void PortDeliver(const PortRecord& Reader, const BYTE* pBytes, int iLength);
// Bytes copied from the record's queue, 0..iCount; clears the notification flag.
int PortRead(int iIndex, BYTE* pBuffer, int iCount);
// The port's error word and status, with cbInQue replaced by the queue's fill level.
void PortGetStatus(int iIndex, COMSTAT* pStatus, DWORD* pdwErrors);
// Delivered bytes not yet read: a count, not the queue itself, so no lock is taken.
bool PortInputWaiting(int iIndex);
// Bytes the record's queue had to drop, or -1.
int PortDroppedBytes(int iIndex);
// Once a second: the record's queue gives back the pages a backlog took (RxQueueTrim).
int PortTrimQueue(int iIndex);
// Whether the record's reads have kept failing (PORT_FAILING_READS in a row).
bool PortReadsFailing(int iIndex);
