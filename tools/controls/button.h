#pragma once
// The indicator's state, kept in its window extra bytes so that the library needs no tables.
#include <windows.h>

int ButtonLook(HWND hWnd);
HFONT ButtonFont(HWND hWnd); // the font named by the text, else the one given by WM_SETFONT

void PaintButton(HWND hWnd, HDC hDC);
