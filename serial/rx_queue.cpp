#include "serial/rx_queue.h"

LONG iRxQueueSize = RX_QUEUE_BYTES;

namespace {

// Every wait bounded: a holder keeps the lock for one copy only, so a few yields find it free, and
// a sleep lets a holder of lower priority (the window's thread, below the reader) run.
bool LockWithin(SRWLOCK& Lock, DWORD dwMs) {
    if (TryAcquireSRWLockExclusive(&Lock))
        return true;
    const DWORD dwStart = GetTickCount();
    for (int iTries = 0;; ++iTries) {
        Sleep(iTries < 8 ? 0 : 1);
        if (TryAcquireSRWLockExclusive(&Lock))
            return true;
        if (GetTickCount() - dwStart >= dwMs)
            return false;
    }
}

// Pins the queue block and holds its lock for one operation; either may fail.
class QueueAccess {
  public:
    explicit QueueAccess(HRXQUEUE hQueue) : hBlock(hQueue) {
        if (!hBlock)
            return;
        pQueue = static_cast<RxQueue*>(GlobalLock(hBlock));
        if (pQueue && !LockWithin(pQueue->Lock, RX_LOCK_WAIT_MS)) {
            GlobalUnlock(hBlock);
            pQueue = nullptr;
        }
    }
    ~QueueAccess() {
        if (pQueue) {
            ReleaseSRWLockExclusive(&pQueue->Lock);
            GlobalUnlock(hBlock);
        }
    }
    QueueAccess(const QueueAccess&) = delete;
    QueueAccess& operator=(const QueueAccess&) = delete;
    RxQueue* operator->() const { return pQueue; }
    RxQueue& operator*() const { return *pQueue; }
    explicit operator bool() const { return pQueue != nullptr; }

  private:
    HRXQUEUE hBlock;
    RxQueue* pQueue = nullptr;
};

int FillOf(const RxQueue& q) {
    return (q.iWriteIndex - q.iReadIndex + q.iSize) % q.iSize;
}

} // namespace

HRXQUEUE RxQueueCreate() {
    const LONG iSize = iRxQueueSize > 1 ? iRxQueueSize : 2;
    // Committed whole, so that a push never finds a page missing; the system takes the pages only
    // as they are first written.
    BYTE* pRing = static_cast<BYTE*>(
        VirtualAlloc(nullptr, static_cast<SIZE_T>(iSize), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    HRXQUEUE hQueue = pRing ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(RxQueue)) : nullptr;
    RxQueue* pQueue = hQueue ? static_cast<RxQueue*>(GlobalLock(hQueue)) : nullptr;
    if (!pQueue) {
        if (hQueue)
            GlobalFree(hQueue);
        if (pRing)
            VirtualFree(pRing, 0, MEM_RELEASE);
        return nullptr;
    }
    InitializeSRWLock(&pQueue->Lock);
    pQueue->iSize = iSize;
    pQueue->iKeep = iSize / 4 < RX_KEEP_BYTES ? iSize / 4 : RX_KEEP_BYTES;
    pQueue->pRing = pRing;
    GlobalUnlock(hQueue);
    return hQueue;
}

void RxQueueFree(HRXQUEUE hQueue) {
    if (!hQueue)
        return;
    while (GlobalFlags(hQueue) & GMEM_LOCKCOUNT)
        GlobalUnlock(hQueue);
    if (RxQueue* pQueue = static_cast<RxQueue*>(GlobalLock(hQueue))) {
        VirtualFree(pQueue->pRing, 0, MEM_RELEASE);
        GlobalUnlock(hQueue);
    }
    GlobalFree(hQueue);
}

int RxQueuePush(HRXQUEUE hQueue, const BYTE* pBytes, int iLength) {
    if (!hQueue || !pBytes || iLength <= 0)
        return 0;
    QueueAccess q(hQueue);
    if (!q) {
        // The lock is busy; count the loss where it can be seen once the lock is free again.
        if (RxQueue* pQueue = static_cast<RxQueue*>(GlobalLock(hQueue))) {
            InterlockedExchangeAdd(&pQueue->iDropped, iLength);
            GlobalUnlock(hQueue);
        }
        return 0;
    }
    int iRoom = q->iSize - 1 - FillOf(*q);
    int iStored = iLength < iRoom ? iLength : iRoom;
    for (int i = 0; i < iStored; ++i) {
        q->pRing[q->iWriteIndex] = pBytes[i];
        if (++q->iWriteIndex == q->iSize) {
            q->iWriteIndex = 0;
            q->iDeepest = q->iSize;
        }
    }
    if (q->iWriteIndex > q->iDeepest)
        q->iDeepest = q->iWriteIndex;
    if (iStored < iLength)
        InterlockedExchangeAdd(&q->iDropped, iLength - iStored);
    return iStored;
}

int RxQueueRead(HRXQUEUE hQueue, BYTE* pBuffer, int iCount) {
    if (!hQueue || !pBuffer || iCount <= 0)
        return 0;
    QueueAccess q(hQueue);
    if (!q)
        return 0;
    int n = 0;
    while (n < iCount && q->iReadIndex != q->iWriteIndex) {
        pBuffer[n++] = q->pRing[q->iReadIndex];
        if (++q->iReadIndex == q->iSize)
            q->iReadIndex = 0;
    }
    if (q->iReadIndex == q->iWriteIndex)
        q->iReadIndex = q->iWriteIndex = 0;
    return n;
}

int RxQueueFill(HRXQUEUE hQueue) {
    if (!hQueue)
        return -1;
    QueueAccess q(hQueue);
    return q ? FillOf(*q) : -1;
}

int RxQueueCapacity(HRXQUEUE hQueue) {
    if (!hQueue)
        return -1;
    QueueAccess q(hQueue);
    return q ? q->iSize - 1 : -1;
}

int RxQueueDropped(HRXQUEUE hQueue) {
    if (!hQueue)
        return -1;
    QueueAccess q(hQueue);
    return q ? q->iDropped : -1;
}

int RxQueueTrim(HRXQUEUE hQueue, DWORD dwNowMs) {
    if (!hQueue)
        return 0;
    QueueAccess q(hQueue);
    if (!q)
        return 0;
    if (FillOf(*q) > q->iKeep) {
        q->bSmall = false;
        return 0;
    }
    if (!q->bSmall) {
        q->bSmall = true;
        q->dwSmallSince = dwNowMs;
    }
    // Nothing waits beyond the kept pages: the indices go back to the start whenever they meet.
    if (dwNowMs - q->dwSmallSince < RX_TRIM_AFTER_MS || q->iDeepest <= q->iKeep ||
        q->iWriteIndex > q->iKeep || q->iReadIndex > q->iKeep)
        return 0;
    SYSTEM_INFO Info{};
    GetSystemInfo(&Info);
    const LONG iPage = static_cast<LONG>(Info.dwPageSize);
    const LONG iFrom = (q->iKeep + iPage - 1) / iPage * iPage;
    const LONG iTo = q->iDeepest / iPage * iPage;
    q->iDeepest = q->iKeep;
    if (iTo <= iFrom)
        return 0;
    // The pages stay committed, so that the reader can always write them again; their contents no
    // longer matter, and unlocking pages that are not locked takes them out of the working set.
    const SIZE_T nBytes = static_cast<SIZE_T>(iTo - iFrom);
    VirtualAlloc(q->pRing + iFrom, nBytes, MEM_RESET, PAGE_READWRITE);
    VirtualUnlock(q->pRing + iFrom, nBytes);
    return iTo - iFrom;
}
