#pragma once
// The receive queue between a port's reader thread and the user-interface thread: a ring behind a
// process-private lock whose every wait is bounded by 200 ms. It holds more than ten minutes of
// the line at 115200 bit/s, so that whatever holds the user-interface thread (an infodriver that
// does not answer, a long reset, a modal loop) the bytes wait instead of being lost.
#include <windows.h>

#include <cstddef>
#include <type_traits>

// 8 MiB: 12 minutes at 115200 bit/s, 36 at 38400.
constexpr LONG RX_QUEUE_BYTES = 8 * 1024 * 1024;
constexpr DWORD RX_LOCK_WAIT_MS = 200;
// A backlog takes the ring's pages as deep as it went. Once the queue has held no more than the
// ring's first RX_KEEP_BYTES for RX_TRIM_AFTER_MS, the pages beyond are given back to the system:
// a stall of minutes would otherwise leave megabytes in the driver's working set for its life.
constexpr LONG RX_KEEP_BYTES = 64 * 1024;
constexpr DWORD RX_TRIM_AFTER_MS = 10000;

// The size a queue is created with: RX_QUEUE_BYTES, unless a test wants a queue it can fill.
// UI thread only, read when a port opens.
extern LONG iRxQueueSize;

// The reader thread pushes, the user-interface thread reads; both pin the block for each operation.
// One movable block holds this header; the ring is reserved and committed apart, so that its pages
// can be given back.
struct RxQueue {
    // A slim lock private to this process, held for one copy at a time: taken without a trip into
    // the system when free, where a semaphore cost one for every wait and every release (under
    // Wine ten times the framing of the bytes it guarded). Initialised at creation, before the
    // reader starts; the block never moves while the queue lives.
    SRWLOCK Lock;
    LONG iSize; // bytes of the ring; set at creation, read-only
    LONG iKeep; // bytes at the ring's start that are never given back; set at creation, read-only
    BYTE* pRing; // iSize bytes; set at creation, read-only, released at free
    // Under Lock: the reader writes bytes at iWriteIndex and advances it, the user-interface
    // thread copies bytes from iReadIndex and advances that, and moves both back to 0 whenever
    // they meet, so that the ring's pages are touched only as deep as the backlog ever went.
    LONG iWriteIndex; // where the next received byte goes
    LONG iReadIndex;  // the next byte to hand out
    // Bytes refused because the ring was full or the lock was not obtained. Reader: interlocked
    // adds, with or without the lock. User-interface thread: read under the lock.
    LONG iDropped;
    // Under Lock. The ring's bytes beyond which no write has gone since its pages were last given
    // back (reader, as it writes), and when the queue last held more than iKeep bytes (user-interface
    // thread, once a second).
    LONG iDeepest;
    DWORD dwSmallSince;
    bool bSmall;
};
static_assert(std::is_trivially_copyable_v<RxQueue>, "the queue lives in a zero-filled global block");

using HRXQUEUE = HGLOBAL;

// A queue of iRxQueueSize bytes, of which iRxQueueSize - 1 can wait unread (equal indices mean
// empty). Allocated once; its pages are taken by the system as the ring fills.
HRXQUEUE RxQueueCreate();
void RxQueueFree(HRXQUEUE hQueue);
// Stores what fits and drops the rest of the chunk (counted in RxQueueDropped); never overwrites
// unread bytes. Returns the number of bytes stored.
int RxQueuePush(HRXQUEUE hQueue, const BYTE* pBytes, int iLength);
// Bytes copied, 0 when empty or when the lock was not obtained in time.
int RxQueueRead(HRXQUEUE hQueue, BYTE* pBuffer, int iCount);
// Fill level, or -1 when the queue cannot be read.
int RxQueueFill(HRXQUEUE hQueue);
// Bytes the queue holds unread at most, or -1 for none.
int RxQueueCapacity(HRXQUEUE hQueue);
// Bytes dropped since the queue was created, or -1 when the queue cannot be read.
int RxQueueDropped(HRXQUEUE hQueue);
// User-interface thread, once a second, with the time: gives the ring's pages beyond its first
// iKeep bytes back to the system once the queue has held no more than that for RX_TRIM_AFTER_MS.
// Returns the bytes given back.
int RxQueueTrim(HRXQUEUE hQueue, DWORD dwNowMs);
