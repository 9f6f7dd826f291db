#include "serial/line_recorder.h"

#include "serial/recording_format.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD WRITER_PERIOD_MS = 1000; // the writer wakes this seldom: the ring holds over a minute
constexpr int HEADER_CHARS = 1024;
// The end record: its time, then 0 and 0. The limit keeps room for it and a loss note.
constexpr int END_RECORD_BYTES = RECORDING_NUMBER_BYTES + 2;
constexpr int END_BYTES_MAX = 2 * RECORDING_NUMBER_BYTES + 1 + END_RECORD_BYTES;
// A loss note (time, 0, count) ahead of a chunk record (time 0, length, bytes).
constexpr int RECORD_BYTES_MAX = 2 * RECORDING_NUMBER_BYTES + 1 + 1 + 2 + RECORDING_MAX_CHUNK;
static_assert(RECORD_BYTES_MAX < RECORDING_RING_MIN_BYTES);
static_assert((RECORDING_RING_BYTES & (RECORDING_RING_BYTES - 1)) == 0);

// The ring between the tap (the reader thread) and the writer thread: the tap writes the bytes
// from the head on and then moves the head; the writer reads from the tail to the head and then
// moves the tail. Each index is written by one side only; counts run on and wrap at 2^32.
BYTE Ring[RECORDING_RING_BYTES];
std::atomic<DWORD> dwHead{0}; // the tap writes it (under iTapLock), the writer reads it
std::atomic<DWORD> dwTail{0}; // the writer writes it, the tap reads it
DWORD dwRingMask = 0;         // written by the UI thread before the tap opens and the writer starts

// The tap's switches. iTapIndex: written by the UI thread at a start, read by the reader.
// bTapOpen: set by the UI thread at a start (under iTapLock), cleared by it at a stop, by the tap
// at the limit and by the writer (under iTapLock) when it ends; read by the reader and the writer.
std::atomic<int> iTapIndex{-1};
std::atomic<bool> bTapOpen{false};
// The tap's lock, naming its holder. A reader only tries it and never waits; the UI thread (at a
// start) and the writer (at its end) wait the few microseconds a tap holds it.
enum TapLock { TAP_FREE, TAP_HELD_BY_READER, TAP_HELD_BY_OWNER };
std::atomic<int> iTapLock{TAP_FREE};
// Bytes of chunks that found the tap busy: added by any reader, taken by the tap under the lock.
std::atomic<LONGLONG> llLostBusy{0};

// The tap's own state, only touched under iTapLock: set by the UI thread at a start, kept by the
// tap, read by the writer once it has closed the tap for good.
struct TapState {
    LONGLONG llStartCount;  // performance counter at the start
    LONGLONG llFrequency;
    LONGLONG llLastMs;      // time of the last record, ms from the start
    LONGLONG llFileBytes;   // header and records put into the ring so far
    LONGLONG llLimitBytes;
    LONGLONG llLineBytes;
    LONGLONG llLostBytes;
    LONGLONG llLostUnnoted; // lost since the last record: noted ahead of the next one
    bool bAtLimit;
};
TapState Tap = {};

// The writer's: set by the UI thread before the writer starts, used by the writer alone, and the
// result read by the UI thread once the writer has ended.
HANDLE hWriterFile = nullptr;
char szHeaderText[HEADER_CHARS] = "";
int iHeaderLength = 0;
RecordingResult Result = {};
LONGLONG llWritten = 0;
DWORD dwWriteError = 0;
std::atomic<bool> bStopAsked{false}; // the UI thread writes it, the writer reads it

// The UI thread's. The wake event is set by the UI thread (a stop) and the tap (the limit); it is
// closed only after the writer has ended, and the writer waits for the tap before it ends.
HANDLE hWriterThread = nullptr;
HANDLE hWriterWake = nullptr;

void LockTap() {
    for (int iFree = TAP_FREE; !iTapLock.compare_exchange_weak(iFree, TAP_HELD_BY_OWNER, std::memory_order_acquire);
         iFree = TAP_FREE)
        YieldProcessor();
}

void UnlockTap() {
    iTapLock.store(TAP_FREE, std::memory_order_release);
}

void CopyIntoRing(DWORD dwAt, const BYTE* pBytes, int iLength) {
    for (int i = 0; i < iLength; ++i)
        Ring[(dwAt + static_cast<DWORD>(i)) & dwRingMask] = pBytes[i];
}

LONGLONG MsSinceStart(LONGLONG llCount) {
    return (llCount - Tap.llStartCount) * 1000 / Tap.llFrequency;
}

// A record's time, and ahead of it a note of what was lost since the record before, if anything:
// the record that follows takes the same time. Under iTapLock, or with the tap closed.
int PutTimeAndLoss(BYTE* p, LONGLONG llGap) {
    const LONGLONG llBusy = llLostBusy.exchange(0, std::memory_order_relaxed);
    Tap.llLostBytes += llBusy;
    Tap.llLostUnnoted += llBusy;
    int n = PutRecordingNumber(p, static_cast<unsigned long long>(llGap));
    if (Tap.llLostUnnoted > 0) {
        p[n++] = 0;
        n += PutRecordingNumber(p + n, static_cast<unsigned long long>(Tap.llLostUnnoted));
        p[n++] = 0;
    }
    return n;
}

// Under iTapLock, with the tap open.
void Append(LONGLONG llCount, const BYTE* pBytes, int iLength) {
    const LONGLONG llMs = MsSinceStart(llCount);
    BYTE Head[RECORD_BYTES_MAX - RECORDING_MAX_CHUNK];
    int n = PutTimeAndLoss(Head, llMs > Tap.llLastMs ? llMs - Tap.llLastMs : 0);
    n += PutRecordingNumber(Head + n, static_cast<unsigned long long>(iLength));
    const int iSize = n + iLength;
    if (Tap.llFileBytes + iSize + END_BYTES_MAX > Tap.llLimitBytes) {
        Tap.bAtLimit = true;
        bTapOpen.store(false, std::memory_order_release);
        SetEvent(hWriterWake);
        return;
    }
    const DWORD dwAt = dwHead.load(std::memory_order_relaxed);
    const DWORD dwFree = (dwRingMask + 1) - (dwAt - dwTail.load(std::memory_order_acquire));
    if (static_cast<DWORD>(iSize) > dwFree) {
        Tap.llLostBytes += iLength;
        Tap.llLostUnnoted += iLength;
        return;
    }
    CopyIntoRing(dwAt, Head, n);
    CopyIntoRing(dwAt + static_cast<DWORD>(n), pBytes, iLength);
    dwHead.store(dwAt + static_cast<DWORD>(iSize), std::memory_order_release);
    Tap.llLastMs = llMs;
    Tap.llFileBytes += iSize;
    Tap.llLineBytes += iLength;
    Tap.llLostUnnoted = 0;
}

// After this no tap touches the tap's state or the ring's head again.
void CloseTap() {
    LockTap();
    bTapOpen.store(false, std::memory_order_relaxed);
    UnlockTap();
}

bool WriteAll(const BYTE* pBytes, DWORD dwLength) {
    while (dwLength > 0) {
        DWORD dwDone = 0;
        if (!WriteFile(hWriterFile, pBytes, dwLength, &dwDone, nullptr) || dwDone == 0) {
            dwWriteError = GetLastError();
            if (dwWriteError == 0)
                dwWriteError = ERROR_WRITE_FAULT;
            return false;
        }
        pBytes += dwDone;
        dwLength -= dwDone;
        llWritten += dwDone;
    }
    return true;
}

// Everything in the ring to the file.
bool Drain() {
    const DWORD dwEnd = dwHead.load(std::memory_order_acquire);
    DWORD dwAt = dwTail.load(std::memory_order_relaxed);
    while (dwAt != dwEnd) {
        const DWORD dwOffset = dwAt & dwRingMask;
        const DWORD dwPiece = dwEnd - dwAt < dwRingMask + 1 - dwOffset ? dwEnd - dwAt : dwRingMask + 1 - dwOffset;
        if (!WriteAll(Ring + dwOffset, dwPiece))
            return false;
        dwAt += dwPiece;
        dwTail.store(dwAt, std::memory_order_release);
    }
    return true;
}

// With the tap closed: a note of what was lost since the last record, then the end.
bool WriteEnd() {
    LARGE_INTEGER Now;
    QueryPerformanceCounter(&Now);
    const LONGLONG llMs = MsSinceStart(Now.QuadPart);
    const LONGLONG llGap = Tap.bAtLimit || llMs < Tap.llLastMs ? 0 : llMs - Tap.llLastMs;
    BYTE End[END_BYTES_MAX];
    int n = PutTimeAndLoss(End, llGap);
    End[n++] = 0;
    End[n++] = 0;
    if (!WriteAll(End, static_cast<DWORD>(n)))
        return false;
    Tap.llLastMs += llGap;
    return true;
}

DWORD WINAPI RecordingWriter(LPVOID) {
    bool bFailed = !WriteAll(reinterpret_cast<const BYTE*>(szHeaderText), static_cast<DWORD>(iHeaderLength));
    while (!bFailed) {
        const bool bEnding = bStopAsked.load(std::memory_order_acquire) ||
                             !bTapOpen.load(std::memory_order_acquire);
        if (bEnding)
            CloseTap();
        if (!Drain()) {
            bFailed = true;
            break;
        }
        if (bEnding) {
            bFailed = !WriteEnd();
            break;
        }
        WaitForSingleObject(hWriterWake, WRITER_PERIOD_MS);
    }
    CloseTap();
    CloseHandle(hWriterFile);
    hWriterFile = nullptr;
    Result.iEnd = bFailed ? RECORDING_FAILED : (Tap.bAtLimit ? RECORDING_AT_LIMIT : RECORDING_STOPPED);
    Result.dwError = bFailed ? dwWriteError : 0;
    Result.llFileBytes = llWritten;
    Result.llLineBytes = Tap.llLineBytes;
    Result.llLostBytes = Tap.llLostBytes + llLostBusy.exchange(0);
    Result.llDurationMs = Tap.llLastMs;
    return 0;
}

int RingSizeFor(int iRingBytes) {
    int iSize = RECORDING_RING_BYTES;
    while (iSize > RECORDING_RING_MIN_BYTES && iSize > iRingBytes)
        iSize /= 2;
    return iSize;
}

} // namespace

DWORD LineRecorderStart(HANDLE hFile, const char* pszHeader, int iIndex, LONGLONG llLimitBytes, int iRingBytes) {
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_HANDLE;
    DWORD dwError = 0;
    if (hWriterThread != nullptr)
        dwError = ERROR_BUSY;
    if (dwError == 0) {
        const char* pszLines = pszHeader != nullptr ? pszHeader : "";
        const std::size_t nLines = std::strlen(pszLines);
        // Each line ends in a line feed, and an empty line ends them all.
        const char* pszEnd = nLines > 0 && pszLines[nLines - 1] != '\n' ? "\n\n" : "\n";
        const int iLength =
            std::snprintf(szHeaderText, sizeof szHeaderText, "%s\n%s%s", RECORDING_MAGIC, pszLines, pszEnd);
        iHeaderLength = iLength;
        if (iLength < 0 || iLength >= static_cast<int>(sizeof szHeaderText))
            dwError = ERROR_INSUFFICIENT_BUFFER;
    }
    if (dwError == 0) {
        hWriterWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (hWriterWake == nullptr)
            dwError = GetLastError();
    }
    if (dwError != 0) {
        CloseHandle(hFile);
        return dwError;
    }

    LockTap();
    LARGE_INTEGER Frequency, Now;
    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Now);
    Tap = {};
    Tap.llStartCount = Now.QuadPart;
    Tap.llFrequency = Frequency.QuadPart;
    Tap.llFileBytes = iHeaderLength;
    Tap.llLimitBytes = llLimitBytes;
    dwRingMask = static_cast<DWORD>(RingSizeFor(iRingBytes) - 1);
    dwHead.store(0, std::memory_order_relaxed);
    dwTail.store(0, std::memory_order_relaxed);
    llLostBusy.store(0, std::memory_order_relaxed);
    Result = {};
    llWritten = 0;
    dwWriteError = 0;
    hWriterFile = hFile;
    bStopAsked.store(false, std::memory_order_relaxed);
    iTapIndex.store(iIndex, std::memory_order_relaxed);
    bTapOpen.store(true, std::memory_order_relaxed);
    hWriterThread = CreateThread(nullptr, 0, RecordingWriter, nullptr, 0, nullptr);
    if (hWriterThread == nullptr) {
        dwError = GetLastError();
        bTapOpen.store(false, std::memory_order_relaxed);
        hWriterFile = nullptr;
    }
    UnlockTap();
    if (dwError != 0) {
        CloseHandle(hFile);
        CloseHandle(hWriterWake);
        hWriterWake = nullptr;
    }
    return dwError;
}

void LineRecorderStop() {
    bTapOpen.store(false, std::memory_order_release);
    bStopAsked.store(true, std::memory_order_release);
    if (hWriterWake != nullptr)
        SetEvent(hWriterWake);
}

bool LineRecorderRunning() {
    return bTapOpen.load(std::memory_order_acquire);
}

bool LineRecorderFinished(DWORD dwWaitMs, RecordingResult* pResult) {
    if (hWriterThread == nullptr || WaitForSingleObject(hWriterThread, dwWaitMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(hWriterThread);
    hWriterThread = nullptr;
    CloseHandle(hWriterWake);
    hWriterWake = nullptr;
    iTapIndex.store(-1, std::memory_order_relaxed);
    if (pResult != nullptr)
        *pResult = Result;
    return true;
}

void LineRecorderTap(int iIndex, const BYTE* pBytes, int iLength) {
    if (iLength <= 0 || iIndex != iTapIndex.load(std::memory_order_relaxed) ||
        !bTapOpen.load(std::memory_order_relaxed))
        return;
    LARGE_INTEGER Now;
    QueryPerformanceCounter(&Now);
    int iHolder = TAP_FREE;
    if (!iTapLock.compare_exchange_strong(iHolder, TAP_HELD_BY_READER, std::memory_order_acquire)) {
        // Held by another reader: only one a close gave up on can still be delivering. One of the
        // two chunks is lost to the recording; neither reader waits. Held by the owner, the
        // recording is starting or ending: the chunk is not yet or no longer part of it.
        if (iHolder == TAP_HELD_BY_READER)
            llLostBusy.fetch_add(iLength, std::memory_order_relaxed);
        return;
    }
    if (bTapOpen.load(std::memory_order_acquire))
        Append(Now.QuadPart, pBytes, iLength);
    UnlockTap();
}
