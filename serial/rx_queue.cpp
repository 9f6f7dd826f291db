#include "serial/rx_queue.h"

LONG iRxQueueSize = RX_QUEUE_BYTES;

namespace {

// Pins the queue block and holds its lock for one operation; either may fail.
class QueueAccess {
  public:
    explicit QueueAccess(HRXQUEUE hQueue) : hBlock(hQueue) {
        if (!hBlock)
            return;
        pQueue = static_cast<RxQueue*>(GlobalLock(hBlock));
        if (pQueue && WaitForSingleObject(pQueue->hLock, RX_LOCK_WAIT_MS) != WAIT_OBJECT_0) {
            GlobalUnlock(hBlock);
            pQueue = nullptr;
        }
    }
    ~QueueAccess() {
        if (pQueue) {
            ReleaseSemaphore(pQueue->hLock, 1, nullptr);
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
    HANDLE hLock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (!hLock)
        return nullptr;
    HRXQUEUE hQueue =
        GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, offsetof(RxQueue, Ring) + static_cast<SIZE_T>(iSize));
    RxQueue* pQueue = hQueue ? static_cast<RxQueue*>(GlobalLock(hQueue)) : nullptr;
    if (!pQueue) {
        if (hQueue)
            GlobalFree(hQueue);
        CloseHandle(hLock);
        return nullptr;
    }
    pQueue->hLock = hLock;
    pQueue->iSize = iSize;
    GlobalUnlock(hQueue);
    return hQueue;
}

void RxQueueFree(HRXQUEUE hQueue) {
    if (!hQueue)
        return;
    while (GlobalFlags(hQueue) & GMEM_LOCKCOUNT)
        GlobalUnlock(hQueue);
    if (RxQueue* pQueue = static_cast<RxQueue*>(GlobalLock(hQueue))) {
        CloseHandle(pQueue->hLock);
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
        q->Ring[q->iWriteIndex] = pBytes[i];
        if (++q->iWriteIndex == q->iSize)
            q->iWriteIndex = 0;
    }
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
        pBuffer[n++] = q->Ring[q->iReadIndex];
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
