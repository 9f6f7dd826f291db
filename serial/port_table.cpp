#include "serial/port_table.h"

#include "serial/abandoned_readers.h"
#include "serial/line_errors.h"
#include "serial/port_calls.h"
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

bool RunningUnderWine() {
    const HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll && GetProcAddress(hNtdll, "wine_get_version");
}
const bool bWine = RunningUnderWine();

// A read returns as soon as the first byte is there, with whatever the port holds. Windows does
// that with both the interval and the multiplier at MAXDWORD and a constant above 0, ending a read
// on an idle line empty after the constant. An interval time-out of its own would be timed
// against the clock tick, 15.6 ms, and cost every tally one or two ticks. Wine waits with those
// values until every byte asked for has come; its own MAXDWORD, 0, 0 waits for the first byte
// instead (on Windows that returns at once, empty, and the reader would spin).
void ApplyTimeouts(PortRecord& Record) {
    if (bWine)
        Record.Timeouts = {MAXDWORD, 0, 0, 0, WRITE_TIMEOUT_MS};
    else
        Record.Timeouts = {MAXDWORD, MAXDWORD, PORT_EMPTY_READ_MS, 0, WRITE_TIMEOUT_MS};
    SetCommTimeouts(Record.hCom, &Record.Timeouts);
}

// Every field of the DCB is set: whatever the port's last user left (a terminal program, MODE,
// the adapter driver's defaults) would otherwise stay, and each of those fields loses bytes:
// XON/XOFF takes 0x11 and 0x13 out of the line, null stripping every 0x00, DSR sensitivity
// everything on a three-wire cable, the error character replaces bytes, and abort on error
// refuses every read after one line error until the error is cleared.
bool ConfigureLine(HANDLE hCom, int iSpeed, int iDataBits, int iStopBits, int iParity) {
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    if (!PortCalls.pfnGetCommState(hCom, &Dcb))
        return false;
    Dcb.BaudRate = static_cast<DWORD>(iSpeed);
    Dcb.ByteSize = static_cast<BYTE>(iDataBits);
    Dcb.Parity = static_cast<BYTE>(iParity);
    Dcb.StopBits = static_cast<BYTE>(iStopBits);
    Dcb.fBinary = TRUE;
    Dcb.fParity = iParity != NOPARITY;
    Dcb.fOutxCtsFlow = FALSE;
    Dcb.fOutxDsrFlow = FALSE;
    // Held on: converters powered from the port's control lines need them.
    Dcb.fDtrControl = DTR_CONTROL_ENABLE;
    Dcb.fRtsControl = RTS_CONTROL_ENABLE;
    Dcb.fDsrSensitivity = FALSE;
    Dcb.fTXContinueOnXoff = TRUE;
    Dcb.fOutX = FALSE;
    Dcb.fInX = FALSE;
    Dcb.fErrorChar = FALSE;
    Dcb.fNull = FALSE;
    Dcb.fAbortOnError = FALSE;
    Dcb.fDummy2 = 0;
    Dcb.wReserved = 0;
    // Unused without XON/XOFF, but some drivers refuse a DCB whose two characters are equal or
    // whose limits do not fit the buffer.
    Dcb.XonLim = 2048;
    Dcb.XoffLim = 512;
    Dcb.XonChar = 0x11;
    Dcb.XoffChar = 0x13;
    Dcb.ErrorChar = 0;
    Dcb.EofChar = 0;
    Dcb.EvtChar = 0;
    return PortCalls.pfnSetCommState(hCom, &Dcb) != FALSE;
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
        PortCalls.pfnCancelIoEx(Record.hCom, nullptr);
        SetEvent(Record.hWakeEvent);
        if (WaitForSingleObject(Record.hReaderThread, CLOSE_CANCEL_STEP_MS) == WAIT_OBJECT_0)
            return true;
    }
    // Closing the handle is the last means of ending a read the cancel did not reach.
    CloseIfOpen(Record.hCom);
    return WaitForSingleObject(Record.hReaderThread, CLOSE_LAST_WAIT_MS) == WAIT_OBJECT_0;
}

// Releases everything setup made for the record and clears it; the queue goes to *pKeep when
// given. A reader that would not end is abandoned with its queue (unless kept) and wake event,
// which are released once it has been seen to end; its cleared generation keeps it from reading
// again or touching the record.
void ReleaseRecord(PortRecord& Record, int iIndex, PortLeftover* pKeep = nullptr) {
    const bool bReaderEnded = StopReader(Record, iIndex);
    CloseIfOpen(Record.hCom);
    if (pKeep && Record.hRxQueue) {
        // A reader that has not ended may still push its last chunk: the keeper waits for its end
        // before it frees the queue. Without a handle to wait on, the queue stays abandoned.
        if (bReaderEnded || DuplicateHandle(GetCurrentProcess(), Record.hReaderThread, GetCurrentProcess(),
                                            &pKeep->hReader, SYNCHRONIZE, FALSE, 0)) {
            pKeep->hRxQueue = Record.hRxQueue;
            Record.hRxQueue = nullptr;
        } else {
            const int iUnread = RxQueueFill(Record.hRxQueue);
            pKeep->iDiscarded += iUnread > 0 ? iUnread : 0;
        }
    }
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

// PortClose's work; *pKeep, when given, takes the queue.
void CloseRecord(int iIndex, PortLeftover* pKeep) {
    if (!hPortTable)
        return;
    if (iIndex != -1) {
        PortTablePin Pin;
        PortRecord* pRecord = Pin.Record(iIndex);
        if (!pRecord)
            return;
        PortRecord& Record = *pRecord;
        if (Record.hCom) {
            // What the port's driver still holds goes with the port: counted, so that the loss can
            // be told.
            DWORD dwErrors = 0;
            COMSTAT Status{};
            if (pKeep && PortCalls.pfnClearCommError(Record.hCom, &dwErrors, &Status)) {
                CountLineErrors(iIndex, dwErrors);
                pKeep->iDiscarded += static_cast<int>(Status.cbInQue);
            }
            PortCalls.pfnPurgeComm(Record.hCom, PURGE_RXCLEAR);
            ReleaseRecord(Record, iIndex, pKeep);
        }
    }
    FreeTableIfUnused();
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

    if (iSpeed <= 0)
        return 0;
    // A request only: a driver that keeps its own size is still read.
    SetupComm(Record.hCom, PORT_SYSTEM_INPUT_BYTES, 0);
    if (!ConfigureLine(Record.hCom, iSpeed, iDataBits, iStopBits, iParity))
        return 0;

    Record.hRxQueue = RxQueueCreate();
    if (!Record.hRxQueue)
        return 0;
    ApplyTimeouts(Record);

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
    // Above the window's thread: a workstation busy with other work must not leave the line
    // unread for long.
    SetThreadPriority(Record.hReaderThread, THREAD_PRIORITY_ABOVE_NORMAL);
    Record.LineProperties.wPacketLength = COMMPROP_LENGTH;
    GetCommProperties(Record.hCom, &Record.LineProperties);

    // The start area is free again once the reader has taken its copy; a reader that died first
    // must not leave the open waiting for ever.
    const HANDLE hWait[] = {Record.hStartSemaphore, Record.hReaderThread};
    WaitForMultipleObjects(2, hWait, FALSE, INFINITE);
    return 1;
}

void PortClose(int iIndex) {
    CloseRecord(iIndex, nullptr);
}

PortLeftover PortCloseKeepingQueue(int iIndex) {
    PortLeftover Left{};
    CloseRecord(iIndex, &Left);
    return Left;
}

bool PortResponds(int iIndex) {
    PortTablePin Pin;
    const PortRecord* pRecord = Pin.Record(iIndex);
    if (!pRecord || !pRecord->hCom)
        return false;
    DWORD dwErrors = 0;
    COMSTAT Status{};
    if (!PortCalls.pfnClearCommError(pRecord->hCom, &dwErrors, &Status))
        return false;
    CountLineErrors(iIndex, dwErrors);
    return true;
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
    ApplyTimeouts(Record);
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
