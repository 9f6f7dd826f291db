#pragma once
// The window's side of its work loop (app/work_loop.h): its messages become the loop's events, and
// the loop's requests become PostMessage and SetTimer. Any process on the desktop may post or send
// the window any of these messages: WM_COMMNOTIFY is taken only when it names the driver's own
// port, and nothing in a message is read as a pointer.
#include <windows.h>

constexpr UINT_PTR TICK_TIMER_ID = 1;
constexpr UINT TICK_PERIOD_MS = 1000;
constexpr UINT_PTR CONTINUATION_TIMER_ID = 2; // the continuation that waits behind input and timers

// WM_COMMNOTIFY, WM_TIMER with the tick's or the continuation's id, and WM_DEVICECHANGE (a hint
// only: its lParam is never read): the loop's events for the window hWnd. False for any other
// message.
bool OnWorkMessage(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);
// A command, or a message whose default handling opens a loop (the system menu, caption-button
// tracking, moving and sizing), that must not run now: it waits, in order, until the exchange or
// the work under way has ended. A caption button pressed by nobody (a posted press, with the
// button up) is refused: its tracking loop would hold the window until a release that never
// comes. True when the message was kept or refused, and the window procedure answers 0.
bool HoldMessage(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);
// The infodriver client's exchanges: nothing runs inside one.
void NoteExchange(bool bBegins);
// Starts the loop for the window: its one-second tick.
void StartWork(HWND hWnd);
