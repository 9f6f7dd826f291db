#pragma once
// The debug list and the log file. Until the main window exists the debug list is an in-memory
// collector of the newest lines; the log file is the real one.
#include "protocol/external.h"

constexpr int DEBUG_LIST_LINES = 500;
constexpr int DEBUG_LINE_CHARS = 160;
constexpr int LOG_PATH_CHARS = 260;

extern int iDebugMode; // debug list switched on while non-zero
extern int iLogMode;   // log file switched on while non-zero
extern char szLogPath[LOG_PATH_CHARS];

// The collected debug lines, oldest first.
int DebugLineCount();
const char* DebugLineAt(int iLine);
void ClearDebugLines();
