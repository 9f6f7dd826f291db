#pragma once
// The driver sets no timer procedure, so a WM_TIMER that names one was posted by another process:
// dispatched, it would call an address of that process's choosing (Wine does not check it, and
// calls one named by a WM_SYSTIMER too). The main loop drops such messages itself; the loops that
// run beside it (the About box, message boxes, menus, moving and sizing) dispatch on their own and
// are guarded by a message filter.
#include <windows.h>

constexpr UINT WM_SYSTIMER = 0x0118; // the system's own timers; not in the SDK headers

// True for a WM_TIMER that names a timer procedure, and for a WM_SYSTIMER that names one in the
// address range of programs (the system's own name none under Wine, and one of the system's
// range under Windows), addressed to one of the driver's own windows or to its thread. Other
// windows of the thread keep their timer procedures.
bool IsForeignTimer(const MSG& msg);
// Drops foreign timers in the modal loops of the calling thread from now on. False when the system
// refused the filter; the driver then runs on without it.
bool GuardModalLoops();
