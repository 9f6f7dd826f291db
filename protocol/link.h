#pragma once
// Supervision of the serial link: alive while doubled command bytes keep arriving.

extern int iSilentTicks; // timer ticks since the last command pair; 5 once failure is declared
extern bool bCommsOK;    // set while the link is judged good

// The framer found a command pair.
void MarkLinkAlive();
// Publishes bCommsOK in slots 4091 (and 4092) and shows it in control 2001.
void ShowLinkStatus();
// Drops the receive state after a failure.
void ResetLink();
