#pragma once
// The menu's commands: the About box, Exit, the switches of the debug list and the log file, each
// written back to the settings file at once, and the line recording.
#include <windows.h>

// Sets or clears the check mark of a command of pop-up iPopup.
void MarkMenuItem(HWND hWnd, int iPopup, UINT uCommand, bool bChecked);
// The check marks of "On", "Hide" and "Enable" as the settings read at start say.
void SetStartMenuMarks(HWND hWnd);
// WM_COMMAND; false for an id that is not one of the menu's.
bool OnMenuCommand(HWND hWnd, int iCommand);
