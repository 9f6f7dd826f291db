#pragma once
// The device port's receive notifications on the user-interface thread: each runs a receive step
// and, once nothing is left to frame, a publish step. WM_COMMNOTIFY may be posted by any process
// on the desktop, so only one naming the driver's own port is taken. Work that a notification
// leaves (bytes or messages not yet framed, slots not yet published) is continued at once when
// nothing else waits, and behind input and timers when something does.
#include <windows.h>

constexpr UINT_PTR RECEIVE_TIMER_ID = 2; // the continuation that waits behind other messages

// WM_COMMNOTIFY of the window.
void OnReceiveNotify(HWND hWnd, WPARAM wParam, LPARAM lParam);
// WM_TIMER with RECEIVE_TIMER_ID.
void OnReceiveTimer(HWND hWnd);
// Continues work that did not come from a notification (the tick queues the link slots).
void ContinueWork(HWND hWnd);
// Between the exchanges of a long piece of work that must finish before its caller is answered:
// the device's bytes waiting are framed, and what they decide waits in the pending set, so that
// the receive queue never fills meanwhile. Nothing when a notification's work is under way
// already (the caller is nested inside it).
void ReceiveMeanwhile();
// Once a second: reports bytes the receive queue had to drop, once at the start of an episode and
// once, with their number, when a second passes without more.
void WatchReceiveOverflow();
