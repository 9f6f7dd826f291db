#pragma once
// The receive queue between a port's reader thread and the user-interface thread: a ring of
// 16384 bytes behind a process-private lock whose every wait is bounded by 200 ms.
#include <windows.h>

constexpr int RX_RING_SIZE = 16384;
// Equal indices mean empty, so the ring holds at most one byte less than its size.
constexpr int RX_RING_CAPACITY = RX_RING_SIZE - 1;
constexpr DWORD RX_LOCK_WAIT_MS = 200;

// The reader thread pushes, the user-interface thread reads; both pin the block for each operation.
struct RxQueue {
    // Under hLock: the reader writes bytes at iWriteIndex and advances it, the user-interface
    // thread copies bytes from iReadIndex and advances that; both read both indices.
    BYTE Ring[RX_RING_SIZE];
    // Unnamed semaphore, count 1: a lock private to this process. Set at creation, before the
    // reader starts, and closed at free, once the reader has ended; read-only in between.
    HANDLE hLock;
    LONG iWriteIndex; // where the next received byte goes
    LONG iReadIndex;  // the next byte to hand out
    // Bytes refused because the ring was full or the lock was not obtained. Reader: interlocked
    // adds, with or without the lock. User-interface thread: read under the lock.
    LONG iDropped;
};

using HRXQUEUE = HGLOBAL;

HRXQUEUE RxQueueCreate();
void RxQueueFree(HRXQUEUE hQueue);
// Stores what fits and drops the rest of the chunk (counted in RxQueueDropped); never overwrites
// unread bytes. Returns the number of bytes stored.
int RxQueuePush(HRXQUEUE hQueue, const BYTE* pBytes, int iLength);
// Bytes copied, 0 when empty or when the lock was not obtained in time.
int RxQueueRead(HRXQUEUE hQueue, BYTE* pBuffer, int iCount);
// Fill level 0..16383, or -1 when the queue cannot be read.
int RxQueueFill(HRXQUEUE hQueue);
// Bytes dropped since the queue was created, or -1 when the queue cannot be read.
int RxQueueDropped(HRXQUEUE hQueue);
