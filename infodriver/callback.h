#pragma once
// The driver's reaction to the infodriver's events: slot changes made from outside, the
// disconnect, and the requests it only notes.
#include "infodriver/client.h"

// Control slots with a meaning of their own.
constexpr int SLOT_RESET_REQUEST = 4089; // every slot 1..1328 set to the empty text
constexpr int SLOT_IGNORED = 4090;
constexpr int SLOT_ECHO_IN = 4094; // its text is written to SLOT_ECHO_OUT
constexpr int SLOT_ECHO_OUT = 4095;
constexpr int FIRST_WRITTEN_BACK = 1330; // changes below this are dropped
constexpr int LAST_RESET_SLOT = 1328;

// The event callback installed before Connect.
void InfodriverCallback(InfodriverClient* pClient, int iIndex, const char* pszText);
// True when the change was dealt with here; false when it is to be written back. Writes go
// through pClient (the driver's client unless given).
bool HandleSlotChange(int iIndex, const char* pszText, InfodriverClient* pClient = &Infodriver);
