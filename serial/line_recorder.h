#pragma once
// The line recording: every chunk one port's reader delivers, in order, with the time the reader
// received it, written to a file (serial/recording_format.h). The reader only copies the chunk
// into a ring of the recording's own and never waits: a writer thread takes the ring to the disk,
// so a slow or stalled disk costs the recording, never the live road. One recording at a time.
#include <windows.h>

constexpr LONGLONG RECORDING_LIMIT_BYTES = 64LL * 1024 * 1024;
// A power of two. The line at 115200 bit/s fills it in well over a minute (16-byte chunks and
// their framing: about 13 KB a second), so a disk may stall that long before anything is lost.
constexpr int RECORDING_RING_BYTES = 1 << 20;
constexpr int RECORDING_RING_MIN_BYTES = 1024; // holds the longest record

enum RecordingEnd {
    RECORDING_STOPPED = 1, // asked to stop
    RECORDING_AT_LIMIT,    // the next record would have taken the file past its limit
    RECORDING_FAILED,      // a write failed: the file is cut short
};

struct RecordingResult {
    int iEnd;       // RecordingEnd
    DWORD dwError;  // RECORDING_FAILED: the system's error
    LONGLONG llFileBytes;
    LONGLONG llLineBytes;  // bytes of the line in the file
    LONGLONG llLostBytes;  // received but not recorded: the ring was full
    LONGLONG llDurationMs; // from the start to the last record
};

// User-interface thread. Takes over hFile (closed on failure too), writes the header text (lines
// of "key value", without the first line or the empty line that ends it) and records the chunks
// of port record iIndex. 0, or a system error: ERROR_BUSY while the last recording is still being
// written. The file stays within llLimitBytes; iRingBytes is rounded down to a power of two and
// at most RECORDING_RING_BYTES.
DWORD LineRecorderStart(HANDLE hFile, const char* pszHeader, int iIndex, LONGLONG llLimitBytes, int iRingBytes);
// Takes no more chunks; the writer finishes the file by itself.
void LineRecorderStop();
// Whether chunks are taken.
bool LineRecorderRunning();
// Once the writer has finished the file, within dwWaitMs: true with its result, and the next
// recording may start. False while it is being written, or when there is none.
bool LineRecorderFinished(DWORD dwWaitMs, RecordingResult* pResult);

// The reader thread, for every chunk it delivers on the live road.
void LineRecorderTap(int iIndex, const BYTE* pBytes, int iLength);
