#pragma once
// Which set of block and short messages the switcher sends, judged against the Extensions setting
// from where its messages begin: says SENDS_EXTENDED_TEXT or SENDS_PLAIN_TEXT when the line reads
// as the other set. Fed by the commissioning watch (commissioning.cpp): fixed state, a copy of
// each chunk and a few comparisons per message.
#include "protocol/commands.h"

// Bytes that joined the assembly buffer, in the order received.
void WatchFormBytes(const unsigned char* pBytes, int iCount);
// Bytes were lost before they reached the assembly buffer: no evidence spans the gap.
void WatchFormGap();
// The framer hands over the message that starts at AssemblyBuffer[iStart].
void WatchFormMessage(MessageKind eKind, int iStart);
void ForgetForm(); // the protocol state's reset
