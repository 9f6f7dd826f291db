#pragma once
// Test support: the protocol core's process-wide state back to what it is at start (settings
// included). The driver itself never resets it.
void ResetProtocolState();
