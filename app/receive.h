#pragma once
// The device port's receive notifications on the user-interface thread: each runs a receive step
// and, once nothing is left to frame, a publish step. WM_COMMNOTIFY may be posted by any process
// on the desktop, so only one naming the driver's own port is taken. Work that a notification
// leaves (bytes or messages not yet framed, slots not yet published) is continued at once when
// nothing else waits, and behind input and timers when something does.
//
// Notifications and ticks are handled in whichever message loop dispatches them: the main loop,
// a dialog's, a menu's, a move's. One that comes while the work it would start cannot run (it is
// handled inside a notification's work or inside an exchange with the infodriver) is deferred,
// never dropped: the work under way takes it up when it ends, and the one-second tick re-arms the
// work whenever work waits and none is on its way.
#include <windows.h>

constexpr UINT_PTR RECEIVE_TIMER_ID = 2; // the continuation that waits behind other messages

// WM_COMMNOTIFY of the window.
void OnReceiveNotify(HWND hWnd, WPARAM wParam, LPARAM lParam);
// WM_TIMER with RECEIVE_TIMER_ID.
void OnReceiveTimer(HWND hWnd);
// A notification's work or an exchange with the infodriver is under way further out on the
// thread: a message handled now runs inside it, where neither framing nor the tick may cut in.
bool WorkUnderWay();
// Where outer work ends (a notification's work, the tick, an infodriver event): takes up the tick
// and the notifications deferred meanwhile, and continues work that waits. Nothing while work is
// still under way further out.
void ContinueWork(HWND hWnd);
// The tick's part: as ContinueWork, and work that waits with no continuation on its way (bytes in
// the queue whose notification was lost, a continuation that never came) is done here and now.
void RearmWork(HWND hWnd);
// A message that must not run inside work under way (a command that would open a modal loop
// there), posted to the window again once the work is over. A few at a time: a flood of them is
// nobody's work.
void DeferUntilWorkEnds(UINT iMessage, WPARAM wParam, LPARAM lParam);
// Once a second: reports bytes the receive queue had to drop, once at the start of an episode and
// once, with their number, when a second passes without more.
void WatchReceiveOverflow();
