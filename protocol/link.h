#pragma once
// Supervision of the serial link (alive while doubled command bytes keep arriving) and of the
// infodriver's redundancy state, both checked once a second.
#include "protocol/commissioning.h"

constexpr int SILENT_TICKS_TO_FAIL = 5; // the tick that finds four silent ones declares the failure

extern int iSilentTicks;     // timer ticks since the last command pair; 5 once failure is declared
extern bool bCommsOK;        // set while the link is judged good
extern int iRedundancyState; // the infodriver's last answer to the redundancy poll; 0 at start

// The one-second tick: silence supervision, then the redundancy poll.
void OnLinkTimer();
// The framer found a command pair.
void MarkLinkAlive();
// Queues bCommsOK for slots 4091 (and 4092) and shows it in control 2001.
void ShowLinkStatus();
// Drops the receive state after a failure.
void ResetLink();
