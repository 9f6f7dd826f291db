#pragma once
// Debug, Record line: the device port's line recorded into a file beside the log file, named
// after the device number and the start time (Dravik_007_20261209_143501.rec), for the device
// simulator to play back elsewhere. Deliberate and temporary: nothing of it is in the settings.
#include <windows.h>

constexpr DWORD RECORDING_CLOSE_WAIT_MS = 3000; // how long a closing driver waits for the file

// The menu command: starts a recording, or stops the one running.
void ToggleLineRecording(HWND hWnd);
// On every one-second tick: a recording that has ended by itself (its size limit, a failed write)
// is reported and its mark cleared, a stopped one reported once its file is complete.
void WatchLineRecording(HWND hWnd);
// At the main window's destruction: stops a recording and waits a little for its file.
void FinishLineRecording();
