#pragma once
// The layout of one input of the protocol fuzz target, shared by the target and the seed maker.
//
//   byte 0     settings: bit 0 Extensions; bit 1 well-formed messages only; bit 2 the link is
//              already judged good; bits 3 to 7 the cost of one slot exchange (StartCosts)
//   byte 1     the TXoutput setting (TxOutputSetting)
//   byte 2     n, the number of schedule bytes that follow
//   n bytes    the schedule, one operation a byte (ScheduleOp), played in order
//   the rest   the payload: the device's bytes as they stand or, with bit 1, the material of
//              well-formed messages: a selector byte picks the command (MessageCommands), the
//              bytes after it are the message's data, zeros when the input ends first
//
// What the schedule has not delivered when it ends arrives as one backlog at the end.
#include <array>
#include <climits>
#include <cstddef>

namespace fuzzinput {

constexpr unsigned char SETTING_EXTENSIONS = 0x01;
constexpr unsigned char SETTING_WELL_FORMED = 0x02;
constexpr unsigned char SETTING_LINK_KNOWN = 0x04;
constexpr int SETTING_COST_SHIFT = 3;
constexpr std::size_t HEADER_BYTES = 3;

// Schedule operations: the high bits of the byte name it, the low bits are its argument a.
// clang-format off
constexpr unsigned char OP_DELIVER_SMALL = 0x00;     // to 0x3F: a + 1 bytes (1 to 64), one notification
constexpr unsigned char OP_DELIVER_LARGE = 0x40;     // to 0x7F: 64 (a + 1) bytes (64 to 4096), likewise
constexpr unsigned char OP_TICKS = 0x80;             // to 0x8F: a + 1 link ticks, a second apart
constexpr unsigned char OP_CLOCK = 0x90;             // to 0x9F: the clock moves on by ClockSteps[a]
constexpr unsigned char OP_CUT_CONTINUATIONS = 0xA0; // to 0xBF: the next delivery arrives after only a
                                                     //   of the window's own notifications
constexpr unsigned char OP_REDUNDANCY = 0xC0;        // to 0xC7: the infodriver answers RedundancyStates[a]
constexpr unsigned char OP_IDLE = 0xC8;              // to 0xCF: a + 1 notifications with nothing new
constexpr unsigned char OP_COST = 0xD0;              // to 0xDF: a slot exchange costs OpCosts[a] ms
constexpr unsigned char OP_QUEUE_ONLY = 0xE0;        // to 0xFF: a + 1 bytes queued, no notification

constexpr std::array<unsigned long, 32> StartCosts = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 2, 2, 3, 5, 10, 20, 33, 34, 50, 99, 100, 250};
constexpr std::array<unsigned long, 16> OpCosts = {0, 0, 0, 0, 1, 1, 2, 3, 5, 10, 25, 34, 50, 99, 100, 101};
// Steps across the budget's edge and across the wrap of the millisecond counter.
constexpr std::array<unsigned long, 16> ClockSteps = {
    0, 1, 50, 99, 100, 101, 999, 1000, 60000, 0x7FFFFFFFul, 0xFFFFFFFFul, 0x100000000ul,
    ULONG_MAX - 99, ULONG_MAX - 49, ULONG_MAX - 1, ULONG_MAX};
constexpr std::array<int, 8> RedundancyStates = {2, 1, 5, 0, 3, -1, 2, 65535};
// TXoutput settings beyond 0 to 16: raw slots (numbers, flags, texts, the last entry of the byte
// table) and values that name no entry of it.
constexpr std::array<int, 24> RawTxOutputs = {
    93, 201, 209, 221, 331, 344, 532, 934, 951, 959, 1007, 1010, 1114, 1200,
    1999, 2000, 2001, 4091, 65535, 17, -1, -331, INT_MIN, INT_MAX};
// The commands of well-formed messages, as a selector byte picks them.
constexpr std::array<unsigned char, 14> MessageCommands = {
    0x81, 0x82, 0x83, 0x84, 0x91, 0x92, 0xA1, 0xB1, 0xB2, 0xB3, 0xB4, 0xC1, 0xD1, 0xD2};
// clang-format on

constexpr int TxOutputSetting(unsigned char bSelector) {
    return bSelector <= 16 ? bSelector : RawTxOutputs[(bSelector - 17) % RawTxOutputs.size()];
}

// The whole length of a well-formed message of this command, both command bytes included; 0 for a
// byte that starts none. Kept apart from the core's own table on purpose: a wrong length there
// makes a stream of well-formed messages lose some.
constexpr int WellFormedLength(unsigned char bCommand, bool bExtensions) {
    if (bCommand >= 0x81 && bCommand <= 0x84)
        return bExtensions ? 29 : 25;
    if (bCommand == 0x91 || bCommand == 0x92)
        return 23;
    if (bCommand == 0xA1)
        return bExtensions ? 21 : 5;
    if (bCommand >= 0xB1 && bCommand <= 0xB4)
        return 12;
    if (bCommand == 0xC1)
        return 21;
    if (bCommand == 0xD1 || bCommand == 0xD2)
        return 2;
    return 0;
}

// The selector byte that picks this command; -1 for none.
constexpr int CommandSelector(unsigned char bCommand) {
    for (std::size_t i = 0; i < MessageCommands.size(); ++i)
        if (MessageCommands[i] == bCommand)
            return static_cast<int>(i);
    return -1;
}

// Offsets of a text message that the receiver searches for an embedded command pair: a
// well-formed text has none there.
constexpr int TEXT_PAIR_FIRST = 2;
constexpr int TEXT_PAIR_LAST = 20;

} // namespace fuzzinput
