#pragma once
// The main window's one-second timer: link supervision, the receive queue's overflow watch, the
// device port's return, the line recording's end, and the re-arming of the receive work.
#include <windows.h>

constexpr UINT_PTR TICK_TIMER_ID = 1;
constexpr UINT TICK_PERIOD_MS = 1000;

// WM_TIMER with TICK_TIMER_ID. One that comes less than nine tenths of a period after the last
// tick is left out. One that comes while work is under way (receive/WorkUnderWay) is deferred:
// the silence supervision would otherwise reset the framer inside a pass, or the poll exchange
// with the infodriver inside another exchange.
void OnTick(HWND hWnd);
// The deferred tick, once no work is under way.
void RunDeferredTick(HWND hWnd);
// No tick for well over a period: something kept the timer from coming.
bool TickOverdue();
