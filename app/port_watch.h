#pragma once
// The device port comes back by itself: an open port whose handle no longer answers (a pulled USB
// adapter), or whose reads keep failing, is closed, and a port that is not open is tried again
// every few seconds with the same settings, and at once whenever the system announces a change
// of the COM ports, so that an operator never has to restart the driver because a cable was
// re-plugged. What the closed port received and the window had not read yet is still framed.
#include <windows.h>

constexpr int PORT_RETRY_TICKS = 5; // seconds between attempts to open the port again

// On every one-second tick. hWnd becomes the notification target of a port opened again, and is
// registered for the system's notifications of COM port arrivals and removals.
void WatchDevicePort(HWND hWnd);
// The work loop's look at the port after a WM_DEVICECHANGE, which is only a hint: any process may
// send it, with anything in lParam, which is never read; what the port answers decides.
void CheckDevicePortNow(HWND hWnd);
