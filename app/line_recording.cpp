#include "app/line_recording.h"

#include "app/config.h"
#include "app/diagnostics.h"
#include "app/menu.h"
#include "app/panel.h"
#include "protocol/settings.h"
#include "resources/resource.h"
#include "serial/line_recorder.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int RECORDING_PATH_CHARS = MAX_PATH;
constexpr int SAME_SECOND_TRIES = 9; // a second recording started within the same second gets "-2"...
constexpr int HEADER_CHARS = 512;

enum RecordingPhase { PHASE_IDLE, PHASE_RECORDING, PHASE_FINISHING };

// User-interface thread only.
int iPhase = PHASE_IDLE;
char szRecordingPath[RECORDING_PATH_CHARS] = "";

// The log file's folder, with its separator; "" when the log path names none.
void LogFolder(char* pszFolder, int iSize) {
    const char* pszEnd = nullptr;
    for (const char* p = szLogPath; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/')
            pszEnd = p + 1;
    const int iLength = pszEnd != nullptr ? static_cast<int>(pszEnd - szLogPath) : 0;
    lstrcpynA(pszFolder, szLogPath, iLength + 1 < iSize ? iLength + 1 : iSize);
}

// Creates the file, never over an earlier one; INVALID_HANDLE_VALUE with the error in *pdwError.
HANDLE CreateRecordingFile(const SYSTEMTIME& Now, DWORD* pdwError) {
    char szFolder[RECORDING_PATH_CHARS];
    LogFolder(szFolder, sizeof szFolder);
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int iTry = 1; iTry <= SAME_SECOND_TRIES && hFile == INVALID_HANDLE_VALUE; ++iTry) {
        char szSuffix[8] = "";
        if (iTry > 1)
            std::snprintf(szSuffix, sizeof szSuffix, "-%d", iTry);
        std::snprintf(szRecordingPath, sizeof szRecordingPath, "%sDravik_%03d_%04u%02u%02u_%02u%02u%02u%s.rec",
                      szFolder, iDeviceNumber, Now.wYear, Now.wMonth, Now.wDay, Now.wHour, Now.wMinute,
                      Now.wSecond, szSuffix);
        // Others may read it while it grows.
        hFile = CreateFileA(szRecordingPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        *pdwError = hFile == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (*pdwError != ERROR_FILE_EXISTS)
            break;
    }
    return hFile;
}

// Every line of the recording goes to the debug list and the log.
void Both(const char* pszFormat, ...) DRAVIK_PRINTF(1, 2);
void Both(const char* pszFormat, ...) {
    char szText[RECORDING_PATH_CHARS + 160];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    DebugLine("%s", szText);
    LogLine("%s", szText);
}

void Start(HWND hWnd) {
    SYSTEMTIME Now{};
    ReadLogClock(&Now);
    DWORD dwError = 0;
    HANDLE hFile = CreateRecordingFile(Now, &dwError);
    if (hFile != INVALID_HANDLE_VALUE) {
        char szPort[64];
        GetPanelText(PORT_SUMMARY_CONTROL, szPort, sizeof szPort);
        char szHeader[HEADER_CHARS];
        std::snprintf(szHeader, sizeof szHeader,
                      "device %d\nstarted %04u-%02u-%02u %02u:%02u:%02u\nport %s\nspeed %ld\n", iDeviceNumber,
                      Now.wYear, Now.wMonth, Now.wDay, Now.wHour, Now.wMinute, Now.wSecond, szPort, lSpeed);
        // The device port's record: the port number less one, whether it is open now or later.
        dwError = LineRecorderStart(hFile, szHeader, iPort - 1, RECORDING_LIMIT_BYTES, RECORDING_RING_BYTES);
    }
    if (dwError != 0) {
        Both("Cannot record the line to %s (error %lu)", szRecordingPath, dwError);
        return;
    }
    iPhase = PHASE_RECORDING;
    MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_RECORD, true);
    Both("Recording the line to %s", szRecordingPath);
}

void Stop(HWND hWnd) {
    LineRecorderStop();
    iPhase = PHASE_FINISHING;
    if (hWnd != nullptr)
        MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_RECORD, false);
    Both("Line recording stopped: %s", szRecordingPath);
}

void Report(const RecordingResult& Result) {
    if (Result.iEnd == RECORDING_AT_LIMIT)
        Both("Line recording stopped at its limit of %lld MB: %s", RECORDING_LIMIT_BYTES >> 20, szRecordingPath);
    if (Result.iEnd == RECORDING_FAILED)
        Both("Line recording failed (error %lu) and stopped: %s", Result.dwError, szRecordingPath);
    else
        Both("Line recording complete: %s, %lld bytes of the line in %.1f s, file %lld bytes", szRecordingPath,
             Result.llLineBytes, static_cast<double>(Result.llDurationMs) / 1000.0, Result.llFileBytes);
    if (Result.llLostBytes > 0)
        Both("Line recording lost %lld bytes while the disk kept it waiting: %s", Result.llLostBytes,
             szRecordingPath);
}

// The file complete within dwWaitMs: reported, and a new recording may start.
bool Finished(HWND hWnd, DWORD dwWaitMs) {
    RecordingResult Result{};
    if (!LineRecorderFinished(dwWaitMs, &Result))
        return false;
    if (iPhase == PHASE_RECORDING && hWnd != nullptr)
        MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_RECORD, false);
    iPhase = PHASE_IDLE;
    Report(Result);
    return true;
}

} // namespace

void ToggleLineRecording(HWND hWnd) {
    if (iPhase == PHASE_RECORDING) {
        if (LineRecorderRunning()) {
            Stop(hWnd);
        } else if (!Finished(hWnd, 0)) {
            // Ended by itself a moment ago: the tick reports it once the file is complete.
            iPhase = PHASE_FINISHING;
            MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_RECORD, false);
        }
        return;
    }
    if (iPhase == PHASE_FINISHING && !Finished(hWnd, 0)) {
        Both("Line recording still being written: %s", szRecordingPath);
        return;
    }
    Start(hWnd);
}

void WatchLineRecording(HWND hWnd) {
    if (iPhase != PHASE_IDLE)
        Finished(hWnd, 0);
}

void FinishLineRecording() {
    if (iPhase == PHASE_RECORDING)
        Stop(nullptr);
    if (iPhase == PHASE_FINISHING)
        Finished(nullptr, RECORDING_CLOSE_WAIT_MS);
}
