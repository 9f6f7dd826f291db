#include "serial/abandoned_readers.h"

namespace {

AbandonedReader AbandonedReaders[ABANDONED_READER_MAX] = {};
int iAbandoned = 0;
// Readers that found the list full: their end cannot be seen, so they count for ever.
int iUntracked = 0;

void Release(AbandonedReader& Reader) {
    RxQueueFree(Reader.hRxQueue);
    if (Reader.hWakeEvent)
        CloseHandle(Reader.hWakeEvent);
    CloseHandle(Reader.hThread);
}

} // namespace

void AbandonReader(HANDLE hThread, HRXQUEUE hRxQueue, HANDLE hWakeEvent) {
    if (iAbandoned == ABANDONED_READER_MAX) {
        // What it holds is leaked, never freed under it.
        if (hThread)
            CloseHandle(hThread);
        ++iUntracked;
        return;
    }
    AbandonedReaders[iAbandoned++] = {hThread, hRxQueue, hWakeEvent};
}

void ReapAbandonedReaders() {
    for (int i = 0; i < iAbandoned;) {
        if (WaitForSingleObject(AbandonedReaders[i].hThread, 0) == WAIT_OBJECT_0) {
            Release(AbandonedReaders[i]);
            AbandonedReaders[i] = AbandonedReaders[--iAbandoned];
            AbandonedReaders[iAbandoned] = {};
        } else {
            ++i;
        }
    }
}

int AbandonedReaderCount() {
    return iAbandoned + iUntracked;
}
