#pragma once
// The About box: the version from the program's own version block and the build's date and time.
#include <windows.h>

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT iMessage, WPARAM wParam, LPARAM lParam);
