#include "serial/port_reader.h"

#include "serial/line_errors.h"
#include "serial/line_recorder.h"
#include "serial/port_calls.h"
#include "serial/port_table.h"

PortTickSource volatile pfnPortTickCount = GetTickCount;

namespace {

// Whether the reader's own open is still the one its port's run flag names.
bool IsCurrent(const PortRecord& Start) {
    return iRunFlag[Start.iPortNumber - 1] == Start.iGeneration;
}

int CurrentReadSize(int iIndex) {
    LONG iSize = iReadSize[iIndex];
    return iSize < 0 ? 0 : (iSize > PORT_READ_BUFFER ? PORT_READ_BUFFER : iSize);
}

// The port's error word bits that say the line itself went wrong.
constexpr DWORD LINE_ERRORS = CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_BREAK;

// Waits for the pending read. A read size set to 0 (by an open, before the consumer is attached)
// or a close ends it at once: it might otherwise wait a long time. True when this reader cancelled
// it.
bool AwaitRead(const PortRecord& Start, int iIndex, OVERLAPPED& Overlapped) {
    const HANDLE hWait[] = {Overlapped.hEvent, Start.hWakeEvent};
    while (WaitForMultipleObjects(2, hWait, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (!IsCurrent(Start) || iReadSize[iIndex] == 0) {
            PortCalls.pfnCancelIoEx(Start.hCom, &Overlapped);
            return true;
        }
    }
    return false;
}

// After a failed read. Only a line error in the port's error word (a wrong speed, a poor cable)
// has what the port's driver buffered purged; any other failure keeps it for the next read.
void RecoverFromFailedRead(const PortRecord& Start, int iIndex) {
    // Once closed, the handle value may belong to a later open of the port.
    if (!IsCurrent(Start))
        return;
    DWORD dwErrors = 0;
    COMSTAT Status{};
    if (!PortCalls.pfnClearCommError(Start.hCom, &dwErrors, &Status))
        return;
    CountLineErrors(iIndex, dwErrors);
    if ((dwErrors & LINE_ERRORS) != 0)
        PortCalls.pfnPurgeComm(Start.hCom, PURGE_RXCLEAR);
}

// The run of failed reads, published to the reader's own record while it is current.
void NoteFailedReads(const PortRecord& Start, LONG iFailed) {
    PortTablePin Pin;
    PortRecord* pRecord = Pin.Record(Start.iPortNumber - 1);
    if (pRecord && pRecord->iGeneration == Start.iGeneration)
        InterlockedExchange(&pRecord->iFailedReads, iFailed);
}

} // namespace

DWORD WINAPI PortReader(LPVOID pStartArea) {
    const PortRecord Start = *static_cast<const PortRecord*>(pStartArea);
    const int iIndex = Start.iPortNumber - 1;
    OVERLAPPED Overlapped{};
    Overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ReleaseSemaphore(Start.hStartSemaphore, 1, nullptr);
    if (!Overlapped.hEvent)
        return 1;

    BYTE Buffer[PORT_READ_BUFFER];
    LONG iFailed = 0;
    while (IsCurrent(Start)) {
        const int iSize = CurrentReadSize(iIndex);
        if (iSize == 0) {
            // A read of zero bytes completes at once with nothing; waiting for a new read size
            // instead keeps the thread from spinning until a consumer sets one.
            WaitForSingleObject(Start.hWakeEvent, PORT_IDLE_WAIT_MS);
            continue;
        }
        DWORD dwCount = 0;
        bool bFailed = false;
        bool bBackOff = false;
        if (PortCalls.pfnReadFile(Start.hCom, Buffer, iSize, &dwCount, &Overlapped)) {
            // A read that completes at once with nothing would turn again without rest.
            bBackOff = dwCount == 0;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            const bool bCancelled = AwaitRead(Start, iIndex, Overlapped);
            dwCount = 0;
            if (!PortCalls.pfnGetOverlappedResult(Start.hCom, &Overlapped, &dwCount, TRUE)) {
                // Wine reports a read that timed out empty as ERROR_TIMEOUT, Windows as success
                // with 0 bytes: both mean nothing arrived. A cancellation this reader did not ask
                // for is a failure like any other: some adapters' drivers cancel every read of a
                // device that has gone.
                const DWORD dwError = GetLastError();
                bFailed = dwError != ERROR_TIMEOUT && !(dwError == ERROR_OPERATION_ABORTED && bCancelled);
            }
        } else {
            bFailed = true;
        }
        // What a read delivered is the line's, even when the read then reported a failure.
        if (dwCount > static_cast<DWORD>(iSize))
            dwCount = static_cast<DWORD>(iSize);
        if (dwCount > 0)
            PortDeliver(Start, Buffer, static_cast<int>(dwCount));
        if (bFailed) {
            RecoverFromFailedRead(Start, iIndex);
            // A close's own cancellation is no failure of the port.
            bBackOff = IsCurrent(Start);
        }
        ResetEvent(Overlapped.hEvent);
        // Published on a change only: a healthy port costs nothing here.
        const LONG iNow = bBackOff ? iFailed + 1 : 0;
        if (iNow != iFailed && iNow <= PORT_FAILING_READS)
            NoteFailedReads(Start, iNow);
        iFailed = iNow;
        if (bBackOff)
            WaitForSingleObject(Start.hWakeEvent, PORT_RETRY_WAIT_MS);
    }
    CloseHandle(Overlapped.hEvent);
    return 0;
}

void PortDeliver(const PortRecord& Reader, const BYTE* pBytes, int iLength) {
    // The recording first, so that it holds every byte the window could have read: one stopped
    // right after the window saw a byte has it. The copy never waits; a full ring costs the
    // recording, not the line.
    LineRecorderTap(Reader.iPortNumber - 1, pBytes, iLength);
    const DWORD dwNow = pfnPortTickCount();
    // The reader's own queue: it outlives the reader, and a later open's queue may not be its.
    // The last chunk of a read a close ended goes there too, for whoever keeps the closed queue.
    // Only what the queue really took is pending; the rest is counted as dropped by the queue.
    const LONG iStored = RxQueuePush(Reader.hRxQueue, pBytes, iLength);
    PortTablePin Pin;
    PortRecord* pRecord = Pin.Record(Reader.iPortNumber - 1);
    // A closed open's record is cleared or filled by a later open: it is told nothing.
    if (!pRecord || pRecord->iGeneration != Reader.iGeneration)
        return;
    PortRecord& Record = *pRecord;
    InterlockedExchangeAdd(&Record.iPendingCount, iStored);

    if (HWND hWnd = Record.hNotifyWindow) {
        // The time since, in unsigned arithmetic: right across the wrap of the tick count.
        if (dwNow - Record.dwLastNotifyTick >= PORT_NOTIFY_INTERVAL_MS)
            InterlockedExchange(&Record.bNotifyPosted, 0);
        if (InterlockedCompareExchange(&Record.bNotifyPosted, 1, 0) == 0) {
            Record.dwLastNotifyTick = dwNow;
            // Nothing posted, nothing to wait for: the next chunk tries again.
            if (!PostMessageA(hWnd, PORT_NOTIFY_MESSAGE, 0, reinterpret_cast<LPARAM>(Record.pOwner)))
                InterlockedExchange(&Record.bNotifyPosted, 0);
        }
    } else if (PortCallback pCallback = Record.pCallback) {
        pCallback(Record.pOwner);
    } else {
        PortCalls.pfnPurgeComm(Record.hCom, PURGE_RXCLEAR);
    }
}

int PortRead(int iIndex, BYTE* pBuffer, int iCount) {
    PortTablePin Pin;
    PortRecord* pRecord = Pin.Record(iIndex);
    if (!pRecord)
        return 0;
    PortRecord& Record = *pRecord;
    // The count travels as an unsigned 16-bit number; a negative count asks for nothing.
    const int iAsked = iCount < 0 ? 0 : (iCount & 0xFFFF);
    // Cleared before the queue is read: a chunk the reader queues after this read has looked
    // then finds the flag clear and is announced. Cleared after, such a chunk could be neither
    // read nor announced, and wait in the queue until some later chunk came.
    InterlockedExchange(&Record.bNotifyPosted, 0);
    const int n = RxQueueRead(Record.hRxQueue, pBuffer, iAsked);
    InterlockedExchangeAdd(&Record.iPendingCount, -n);
    return n;
}

void PortGetStatus(int iIndex, COMSTAT* pStatus, DWORD* pdwErrors) {
    if (!pStatus || !pdwErrors)
        return;
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    if (!pRecord)
        return;
    const PortRecord& Record = *pRecord;
    const int iFill = RxQueueFill(Record.hRxQueue);
    if (PortCalls.pfnClearCommError(Record.hCom, pdwErrors, pStatus))
        CountLineErrors(iIndex, *pdwErrors);
    pStatus->cbInQue = static_cast<DWORD>(iFill);
}

bool PortReadsFailing(int iIndex) {
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    return pRecord && pRecord->hCom && pRecord->iFailedReads >= PORT_FAILING_READS;
}

bool PortInputWaiting(int iIndex) {
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    return pRecord && pRecord->iPendingCount > 0;
}

int PortTrimQueue(int iIndex) {
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    return pRecord ? RxQueueTrim(pRecord->hRxQueue, pfnPortTickCount()) : 0;
}

int PortDroppedBytes(int iIndex) {
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    return pRecord ? RxQueueDropped(pRecord->hRxQueue) : -1;
}
