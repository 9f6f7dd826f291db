#pragma once
// The device's command bytes: a message starts with its command byte sent twice, and its total
// length (both command bytes included) is fixed by the command alone.
#include <array>

enum class MessageKind : unsigned char {
    Unrecognised, // the pair only
    Block,
    Group,
    Short,
    Output,
    Text,
    Marker,
    Trigger,
};

struct CommandEntry {
    unsigned char bFirst; // first command byte of the run
    unsigned char bLast;  // last command byte of the run
    MessageKind eKind;
    int iLength;         // Extensions off
    int iLengthExtended; // Extensions on
};

// clang-format off
constexpr std::array<CommandEntry, 7> CommandTable = {{
    // Command bytes  Kind                   Length  With Extensions
    {0x81, 0x84,      MessageKind::Block,    25,     29},
    {0x91, 0x92,      MessageKind::Group,    23,     23},
    {0xA1, 0xA1,      MessageKind::Short,     5,     21},
    {0xB1, 0xB4,      MessageKind::Output,   12,     12},
    {0xC1, 0xC1,      MessageKind::Text,     21,     21},
    {0xD1, 0xD1,      MessageKind::Marker,    2,      2},
    {0xD2, 0xD2,      MessageKind::Trigger,   2,      2},
}};
// clang-format on

constexpr unsigned char FIRST_COMMAND_BYTE = 0x80;
constexpr int TEXT_RESYNC_FIRST = 2; // offsets of a text message searched for an embedded pair
constexpr int TEXT_RESYNC_LAST = 19;

// Every byte value mapped to its table row, or -1 for a byte that is no known command.
constexpr std::array<signed char, 256> BuildCommandIndex() {
    std::array<signed char, 256> index{};
    for (auto& i : index)
        i = -1;
    for (int iRow = 0; iRow < static_cast<int>(CommandTable.size()); ++iRow)
        for (int c = CommandTable[iRow].bFirst; c <= CommandTable[iRow].bLast; ++c)
            index[c] = static_cast<signed char>(iRow);
    return index;
}
constexpr std::array<signed char, 256> CommandIndex = BuildCommandIndex();

constexpr MessageKind KindOf(unsigned char bCommand) {
    return CommandIndex[bCommand] < 0 ? MessageKind::Unrecognised
                                      : CommandTable[CommandIndex[bCommand]].eKind;
}

// Total length of the message; 2 (the pair) for an unrecognised command.
constexpr int MessageLength(unsigned char bCommand, bool bExtended) {
    if (CommandIndex[bCommand] < 0)
        return 2;
    const CommandEntry& entry = CommandTable[CommandIndex[bCommand]];
    return bExtended ? entry.iLengthExtended : entry.iLength;
}

static_assert(KindOf(0x80) == MessageKind::Unrecognised && KindOf(0x85) == MessageKind::Unrecognised);
static_assert(KindOf(0xB4) == MessageKind::Output && KindOf(0xB5) == MessageKind::Unrecognised);
static_assert(MessageLength(0x83, false) == 25 && MessageLength(0x83, true) == 29);
static_assert(MessageLength(0xA1, true) == 21 && MessageLength(0xD3, true) == 2);
