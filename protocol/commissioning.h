#pragma once
// Commissioning: the stream judged against the settings it is read with, so that the debug list
// and the log say which setting differs from the switcher's (the texts are in
// commissioning_texts.h). The framer calls it for every command pair and message: fixed state,
// a few comparisons each, nothing allocated.
#include "protocol/commands.h"

// The receive took iCount bytes from the port.
void WatchReceivedBytes(int iCount);
// The framer found a command pair at iAt of the assembly buffer.
void WatchCommandPair(int iAt, MessageKind eKind);
// The framer hands over the message AssemblyBuffer[iStart, iEnd).
void WatchMessage(MessageKind eKind, int iStart, int iEnd);
// The one-second tick: bytes that do not frame as messages, and the errors the port reported.
void JudgeLineEachSecond();
// Back to the start (the protocol state's reset).
void ForgetLineJudgements();
