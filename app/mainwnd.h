#pragma once
// The driver's main window, once created; destroying it ends the program.
#include <windows.h>

extern HWND hMainWnd;
