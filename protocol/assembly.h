#pragma once
// Receive assembly and framing: the device's byte stream cut into messages.
#include <array>

class SerialPort;

constexpr int ASSEMBLY_BUFFER_SIZE = 1024;
// A pass that finds more than this many bytes it cannot frame throws them away.
constexpr int ASSEMBLY_DISCARD_ABOVE = 1000;
constexpr int RECEIVE_CHUNK = 16;
// One notification takes at most this many new bytes from the port's queue, and its framing stops
// after the message that spends this much time: a device that outpaces publishing must not hold
// the user-interface thread. What is left is taken up by the next notification.
constexpr int RECEIVE_BUDGET_BYTES = ASSEMBLY_BUFFER_SIZE;
constexpr unsigned long FRAMING_BUDGET_MS = 100;

extern std::array<unsigned char, ASSEMBLY_BUFFER_SIZE> AssemblyBuffer; // unconsumed bytes, oldest first
extern int iWrtPtr;                                                    // valid bytes in AssemblyBuffer
extern int iSerialRxCount;                                             // messages and stray high bytes seen

// Drains the port's receive queue into AssemblyBuffer, up to the budget of one notification, and
// frames what arrived. Returns the number of bytes taken from the port.
int ReceiveFromPort(SerialPort* pPort);
// One framing pass over AssemblyBuffer.
void FrameMessages();
// True when the last ReceiveFromPort left work that needs no further byte from the device: its
// budget ran out before the port's queue was empty, or its pass ended early (an unrecognised pair,
// a command inside a text, the time budget) with bytes still buffered. The caller then asks for
// another notification at once instead of waiting for the device.
bool ReceiveWaiting();
// Control 2008, when the count changed since it was last shown. A busy line frames hundreds of
// messages a second, and each write of a panel control costs more than framing a message: the
// window's work for a notification shows it once, at its end.
void ShowRxCount();
void ForgetShownRxCount(); // the protocol state's reset
// "%08d" into a status panel control.
void ShowCount(int iValue, int iControl);
// The infodriver Rx and Tx counters into controls 2006 and 2007, those that changed since last shown.
void ShowLinkCounts();
// The next ShowLinkCounts shows both again (the protocol state's reset).
void ForgetShownLinkCounts();
