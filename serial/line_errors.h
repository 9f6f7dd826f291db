#pragma once
// The line errors each port record's port reported, counted wherever its error word is read: the
// consumer's status poll, and the reader's recovery from a failed read, which clears the word
// before any poll could see it. A count is one reading that named the error.
#include "protocol/external.h"

#include <windows.h>

// Either thread: one of each kind the error word names, for record iIndex.
void CountLineErrors(int iIndex, DWORD dwErrors);
// The counts of record iIndex since the last take, which starts them again at 0; all 0 for an
// index outside the table. They outlive a close: a port opened again goes on counting.
LineErrorCounts TakeRecordLineErrors(int iIndex);
