#pragma once
// Reader threads a close gave up on. Such a reader may still touch its queue, its wake event and
// the port table, so these are kept until it has been seen to end. The list and its counts are
// the user-interface thread's alone: the readers in it never look at it, and the thread handle's
// signalled state is what says that one has ended.
#include "serial/rx_queue.h"

#include <windows.h>

constexpr int ABANDONED_READER_MAX = 16;

struct AbandonedReader {
    HANDLE hThread;
    HRXQUEUE hRxQueue;
    HANDLE hWakeEvent;
};

// Takes over the thread handle, the queue and the wake event of a reader that has not ended.
void AbandonReader(HANDLE hThread, HRXQUEUE hRxQueue, HANDLE hWakeEvent);
// Releases what the abandoned readers that have ended held.
void ReapAbandonedReaders();
// Abandoned readers that may still run; the port table must not be freed while there are any.
int AbandonedReaderCount();
