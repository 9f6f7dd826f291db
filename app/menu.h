#pragma once
// The menu's commands: the About box, Exit, and the switches of the debug list and the log file,
// each written back to the settings file at once.
#include <windows.h>

// The check marks of "On", "Hide" and "Enable" as the settings read at start say.
void SetStartMenuMarks(HWND hWnd);
// WM_COMMAND; false for an id that is not one of the menu's.
bool OnMenuCommand(HWND hWnd, int iCommand);
