#include "serial/port_table.h"

#include "serial/abandoned_readers.h"
#include "serial/port_reader.h"
#include "serial/serial_port.h"

#include <cstdio>
#include <cstring>

HGLOBAL hPortTable = nullptr;
volatile LONG iRunFlag[PORT_COUNT] = {};
volatile LONG iReadSize[PORT_COUNT] = {};
PortRecord StartArea = {};

namespace {

constexpr DWORD CLOSE_CANCEL_STEP_MS = 20;
constexpr DWORD CLOSE_CANCEL_LIMIT_MS = 2000;
constexpr DWORD CLOSE_LAST_WAIT_MS = 1000;
constexpr DWORD WRITE_TIMEOUT_MS = 1000;

LONG iLastGeneration = 0;

LONG NextGeneration() {
    if (++iLastGeneration <= 0)
        iLastGeneration = 1;
    return iLastGeneration;
}

void CloseIfOpen(HANDLE& h) {
    if (h) {
        CloseHandle(h);
        h = nullptr;
    }
}

bool AnyRecordInUse(const PortRecord* pRecords) {
    for (int i = 0; i < PORT_COUNT; ++i)
        if (pRecords[i].hCom)
            return true;
    return false;
}

// Frees the table when no record is in use and no abandoned reader may still pin it; the caller
// has unpinned it. GlobalFree would free the block even while a reader holds it pinned.
void FreeTableIfUnused() {
    ReapAbandonedReaders();
    if (!hPortTable || AbandonedReaderCount() > 0)
        return;
    bool bInUse;
    {
        PortTablePin Pin;
        bInUse = Pin.Records() && AnyRecordInUse(Pin.Records());
    }
    if (!bInUse) {
        GlobalFree(hPortTable);
        hPortTable = nullptr;
    }
}

void ApplyTimeouts(PortRecord& Record, DWORD dwInterval, DWORD dwMultiplier) {
    Record.Timeouts = {dwInterval, dwMultiplier, 0, 0, WRITE_TIMEOUT_MS};
    SetCommTimeouts(Record.hCom, &Record.Timeouts);
}

// Ends the reader: its pending read is cancelled until the thread has really ended, since a
// reader that still runs would touch the queue and the record about to be released. Bounded,
// so a close never hangs. True when the thread has ended.
bool StopReader(PortRecord& Record, int iIndex) {
    InterlockedExchange(&iRunFlag[iIndex], 0);
    InterlockedExchange(&Record.iGeneration, 0);
    if (Record.hWakeEvent)
        SetEvent(Record.hWakeEvent);
    if (!Record.hReaderThread)
        return true;
    for (DWORD dwWaited = 0; dwWaited < CLOSE_CANCEL_LIMIT_MS; dwWaited += CLOSE_CANCEL_STEP_MS) {
        CancelIoEx(Record.hCom, nullptr);
        SetEvent(Record.hWakeEvent);
        if (WaitForSingleObject(Record.hReaderThread, CLOSE_CANCEL_STEP_MS) == WAIT_OBJECT_0)
            return true;
    }
    // Closing the handle is the last means of ending a read the cancel did not reach.
    CloseIfOpen(Record.hCom);
    return WaitForSingleObject(Record.hReaderThread, CLOSE_LAST_WAIT_MS) == WAIT_OBJECT_0;
}

// Releases everything setup made for the record and clears it. A reader that would not end is
// abandoned with its queue and wake event, which are released once it has been seen to end; its
// cleared generation keeps it from reading or delivering again.
void ReleaseRecord(PortRecord& Record, int iIndex) {
    const bool bReaderEnded = StopReader(Record, iIndex);
    CloseIfOpen(Record.hCom);
    if (bReaderEnded) {
        RxQueueFree(Record.hRxQueue);
        CloseIfOpen(Record.hReaderThread);
        CloseIfOpen(Record.hWakeEvent);
    } else {
        AbandonReader(Record.hReaderThread, Record.hRxQueue, Record.hWakeEvent);
    }
    CloseIfOpen(Record.hStartSemaphore);
    std::memset(&Record, 0, sizeof Record);
}

} // namespace

int PortOpen(SerialPort* pOwner, int iSpeed, int iDataBits, int iStopBits, int iParity) {
    const int n = pOwner->GetPortNumber();
    if (n < 1 || n > PORT_COUNT)
        return -1;
    ReapAbandonedReaders();
    if (!hPortTable) {
        hPortTable = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, PORT_COUNT * sizeof(PortRecord));
        if (!hPortTable)
            return -1;
    }
    int iResult = -1;
    {
        PortTablePin Pin;
        if (!Pin.Records()) {
            iResult = -1;
        } else if (Pin.Records()[n - 1].hCom) {
            // Wine lets a process open a port it already holds; the record must not be overwritten.
            return -2;
        } else {
            char szPath[32];
            std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", n);
            SetLastError(0);
            HANDLE hCom = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
            if (GetLastError() == ERROR_ACCESS_DENIED) {
                if (hCom != INVALID_HANDLE_VALUE)
                    CloseHandle(hCom);
                iResult = -2;
            } else if (hCom != INVALID_HANDLE_VALUE) {
                PortRecord& Record = Pin.Records()[n - 1];
                Record.iPortNumber = n;
                Record.hCom = hCom;
                Record.iSpeed = iSpeed;
                Record.pOwner = pOwner;
                InterlockedExchange(&iReadSize[n - 1], PORT_OPEN_READ_SIZE);
                if (PortSetup(&Record, iSpeed, iDataBits, iStopBits, iParity))
                    return n - 1;
                ReleaseRecord(Record, n - 1);
            }
        }
    }
    FreeTableIfUnused();
    return iResult;
}

int PortSetup(PortRecord* pRecord, int iSpeed, int iDataBits, int iStopBits, int iParity) {
    PortRecord& Record = *pRecord;
    const int iIndex = Record.iPortNumber - 1;
    std::memset(&StartArea, 0, sizeof StartArea);

    // A speed of 0 or less is refused here, before any time-out is computed from it.
    if (iSpeed <= 0)
        return 0;
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    if (!GetCommState(Record.hCom, &Dcb))
        return 0;
    Dcb.BaudRate = static_cast<DWORD>(iSpeed);
    Dcb.ByteSize = static_cast<BYTE>(iDataBits);
    Dcb.Parity = static_cast<BYTE>(iParity);
    Dcb.StopBits = static_cast<BYTE>(iStopBits);
    if (!SetCommState(Record.hCom, &Dcb))
        return 0;

    Record.hRxQueue = RxQueueCreate();
    if (!Record.hRxQueue)
        return 0;
    ApplyTimeouts(Record, static_cast<DWORD>(100000 / iSpeed), static_cast<DWORD>(iReadSize[iIndex]));

    // Private objects: a named one would be shared with any other process whose port handle has
    // the same value.
    Record.hStartSemaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    Record.hWakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!Record.hStartSemaphore || !Record.hWakeEvent)
        return 0;
    WaitForSingleObject(Record.hStartSemaphore, PORT_START_WAIT_MS);

    Record.iGeneration = NextGeneration();
    InterlockedExchange(&iRunFlag[iIndex], Record.iGeneration);
    StartArea = Record;
    Record.hReaderThread = CreateThread(nullptr, 0, PortReader, &StartArea, 0, &Record.dwReaderThreadId);
    if (!Record.hReaderThread) {
        InterlockedExchange(&iRunFlag[iIndex], 0);
        Record.iGeneration = 0;
        return 0;
    }
    Record.LineProperties.wPacketLength = COMMPROP_LENGTH;
    GetCommProperties(Record.hCom, &Record.LineProperties);

    // The start area is free again once the reader has taken its copy; a reader that died first
    // must not leave the open waiting for ever.
    const HANDLE hWait[] = {Record.hStartSemaphore, Record.hReaderThread};
    WaitForMultipleObjects(2, hWait, FALSE, INFINITE);
    return 1;
}

void PortClose(int iIndex) {
    if (!hPortTable)
        return;
    if (iIndex != -1) {
        PortTablePin Pin;
        PortRecord* pRecord = Pin.Record(iIndex);
        if (!pRecord)
            return;
        PortRecord& Record = *pRecord;
        if (Record.hCom) {
            PurgeComm(Record.hCom, PURGE_RXCLEAR);
            ReleaseRecord(Record, iIndex);
        }
    }
    FreeTableIfUnused();
}

int PortSetReadSize(int iIndex, int iSize) {
    PortTablePin Pin;
    PortRecord* pRecord = Pin.Record(iIndex);
    if (!pRecord)
        return 1;
    PortRecord& Record = *pRecord;
    if (iSize < 0) {
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&Record.hNotifyWindow), nullptr);
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&Record.pCallback), nullptr);
        return 1;
    }
    // The reader's buffer bounds every read.
    if (iSize > PORT_READ_BUFFER)
        iSize = PORT_READ_BUFFER;
    DWORD dwInterval = Record.iSpeed > 0 ? static_cast<DWORD>(100000 / Record.iSpeed) : 0;
    ApplyTimeouts(Record, dwInterval < 1 ? 1 : dwInterval, static_cast<DWORD>(iSize));
    InterlockedExchange(&iReadSize[iIndex], iSize);
    SetEvent(Record.hWakeEvent);
    return 1;
}

namespace {

// One notification target at a time. The new target is set before the other is cleared, so a
// chunk delivered in between still finds somebody to tell.
int SetNotifyTarget(int iIndex, HWND hWnd, PortCallback pCallback, int iSize) {
    {
        PortTablePin Pin;
        PortRecord* pRecord = Pin.Record(iIndex);
        if (!pRecord)
            return 0;
        auto* pWindowField = reinterpret_cast<PVOID volatile*>(&pRecord->hNotifyWindow);
        auto* pCallbackField = reinterpret_cast<PVOID volatile*>(&pRecord->pCallback);
        if (hWnd) {
            InterlockedExchangePointer(pWindowField, hWnd);
            InterlockedExchangePointer(pCallbackField, nullptr);
        } else {
            InterlockedExchangePointer(pCallbackField, reinterpret_cast<PVOID>(pCallback));
            InterlockedExchangePointer(pWindowField, nullptr);
        }
    }
    return PortSetReadSize(iIndex, iSize);
}

} // namespace

int PortSetNotifyWindow(int iIndex, HWND hWnd, int iSize) {
    return SetNotifyTarget(iIndex, hWnd, nullptr, iSize);
}

int PortSetCallback(int iIndex, PortCallback pCallback, int iSize) {
    return SetNotifyTarget(iIndex, nullptr, pCallback, iSize);
}

bool PortPeek(int iIndex, PortRecord* pRecord) {
    if (!pRecord)
        return false;
    PortTablePin Pin;
    const PortRecord* pHeld = Pin.Record(iIndex);
    if (!pHeld)
        return false;
    std::memcpy(pRecord, pHeld, sizeof *pRecord);
    return true;
}
