#pragma once
// Decoding of complete messages into slots.
#include <array>

constexpr int SLOT_TABLE_SIZE = 2000;

// The raw value last decoded into each protocol slot (numbers as received, flags 0 or 1). Tally
// resolution reads it.
extern std::array<unsigned char, SLOT_TABLE_SIZE> SlotByteTable;

// Queues the slot texts of the message of AssemblyBuffer[iStart, iEnd) whose command byte is bCommand. Called
// by the framer for block, group, short, output and text messages only.
void DecodeMessage(unsigned char bCommand, int iStart, int iEnd);
