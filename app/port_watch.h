#pragma once
// The device port comes back by itself: an open port whose reads keep failing (a pulled USB
// adapter) is closed, and a port that is not open is tried again every few seconds with the same
// settings, so that an operator never has to restart the driver because a cable was re-plugged.
#include <windows.h>

constexpr int PORT_RETRY_TICKS = 5; // seconds between attempts to open the port again

// On every one-second tick. hWnd becomes the notification target of a port opened again.
void WatchDevicePort(HWND hWnd);
