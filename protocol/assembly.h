#pragma once
// Receive assembly and framing: the device's byte stream cut into messages.
#include <array>

class SerialPort;

constexpr int ASSEMBLY_BUFFER_SIZE = 1024;
// A pass that finds more than this many bytes it cannot frame throws them away.
constexpr int ASSEMBLY_DISCARD_ABOVE = 1000;
constexpr int RECEIVE_CHUNK = 16;

extern std::array<unsigned char, ASSEMBLY_BUFFER_SIZE> AssemblyBuffer; // unconsumed bytes, oldest first
extern int iWrtPtr;                                                    // valid bytes in AssemblyBuffer
extern int iSerialRxCount;                                             // messages and stray high bytes seen

// Drains the port's receive queue into AssemblyBuffer and frames what arrived. Called for every
// WM_COMMNOTIFY.
void ReceiveFromPort(SerialPort* pPort);
// One framing pass over AssemblyBuffer.
void FrameMessages();
// "%08d" into a status panel control.
void ShowCount(int iValue, int iControl);
// The infodriver Rx and Tx counters into controls 2006 and 2007.
void ShowLinkCounts();
