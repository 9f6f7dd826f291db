#pragma once
// The main window's one-second timer: link supervision, the receive queue's overflow watch, the
// device port's return and the line recording's end.
#include <windows.h>

constexpr UINT_PTR TICK_TIMER_ID = 1;
constexpr UINT TICK_PERIOD_MS = 1000;

// WM_TIMER with TICK_TIMER_ID. One that comes less than nine tenths of a period after the last
// tick is left out.
void OnTick(HWND hWnd);
// No tick for well over a period: something kept the timer from coming.
bool TickOverdue();
