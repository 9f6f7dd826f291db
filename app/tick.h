#pragma once
// The main window's one-second tick: link supervision, the receive queue's overflow watch, the
// device port's return and the line recording's end. The work loop runs it (app/work_loop.h).
#include <windows.h>

void RunTick(HWND hWnd);
