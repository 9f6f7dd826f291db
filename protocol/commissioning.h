#pragma once
// Commissioning: the stream judged against the settings it is read with, so that the debug list
// and the log say which setting differs from the switcher's (the texts are in
// commissioning_texts.h). The receive and the framer call it for every chunk and message: fixed
// state, a few comparisons each, nothing allocated.
#include "protocol/commands.h"

// The receive took iCount bytes from the port; bBuffered: they joined the assembly buffer (false:
// dropped for want of room).
void WatchReceivedBytes(const unsigned char* pBytes, int iCount, bool bBuffered);
// The framer hands over the message AssemblyBuffer[iStart, iEnd).
void WatchMessage(MessageKind eKind, int iStart, int iEnd);
// The one-second tick: bytes that do not frame as messages, and the errors the port reported.
void JudgeLineEachSecond();
// Back to the start (the protocol state's reset).
void ForgetLineJudgements();
