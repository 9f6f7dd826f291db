#pragma once
// What Windows may do to the driver's process unasked, turned off for a driver that must keep up
// with its line whether or not anyone looks at its window.

// Before the first window: the window is never replaced by a ghost while an infodriver holds it,
// and the process is never run at low power or with coarse timers while minimised.
void ApplyProcessPolicy();
