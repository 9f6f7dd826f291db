#pragma once
// The line errors the device port reports (framing, parity, overrun), said with the driver's line
// settings at most once a minute: each is a character the port could not read as sent.

// Once a second: takes the port's new counts and says them when a minute has passed since the
// last line.
void ReportLineErrors();
void ForgetLineErrors(); // the protocol state's reset
