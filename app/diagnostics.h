#pragma once
// The two diagnostic channels: the debug list under the status panel and the appended log file.
// Both are switched by their settings; the user-interface thread alone writes them.
#include <windows.h>

#include "protocol/external.h"

constexpr int DEBUG_LIST_ID = 100;
constexpr int DEBUG_LIST_LINES = 500; // the newest lines kept
constexpr int DEBUG_LINE_CHARS = 160; // a longer debug line is cut
constexpr int LOG_PATH_CHARS = 256;   // LogPath: at most 254 characters and the terminator

extern int iDebugMode;                 // debug lines are added while non-zero
extern int iLogMode;                   // log lines are written while non-zero
extern char szLogPath[LOG_PATH_CHARS]; // full name of the log file
extern HWND hDebugList;                // the list box; no lines are kept while it is null

// The list box of the main window (or of a tool's own window): child id 100 at y, filling the rest
// of the parent's client area. It becomes hDebugList.
HWND CreateDebugList(HWND hParent, int y);

// The local time stamped on each log line. Tests fix it; null restores the system clock.
using LogClock = void (*)(SYSTEMTIME* pTime);
void SetLogClock(LogClock pfnClock);
// The local time by that clock.
void ReadLogClock(SYSTEMTIME* pTime);
