#pragma once
// Where each field of a device message goes: the layouts of the data-carrying messages, as runs of
// fields. Offset 0 is the first command byte; data start at offset 2. Slots are relative to the
// message's base slot. Rows are listed in the order their slots are written. A row whose bytes lie
// beyond the message (the long-form rows when Extensions is off) is not decoded.
#include <array>

enum class FieldKind : unsigned char {
    Number, // one byte, published as unsigned decimal
    Flags,  // bits of a byte, bit 0 first, each published as "1" or "0"
};

struct FieldRun {
    FieldKind eKind;
    int iFirstOffset;
    int iOffsetStep;
    int iBytes;     // bytes in the run
    int iFirstSlot; // relative to the base slot; flags take consecutive slots
    int iBits;      // flags used of each byte (bit 0 up); 0 for numbers
    bool bStored;   // also kept in SlotByteTable
};

constexpr FieldKind NUM = FieldKind::Number;
constexpr FieldKind FLAGS = FieldKind::Flags;

// clang-format off

// Block message b (0x80 + b): base 200 b.
constexpr std::array<FieldRun, 4> BlockLayout = {{
    // Kind   Offsets        Bytes  Slots   Bits  Stored
    {NUM,     2,  2,         12,     1,     0,    true},  // numbers 1 to 12: 2, 4, ..., 24
    {NUM,    26,  2,          2,    13,     0,    true},  // numbers 13, 14 (long form)
    {FLAGS,   3,  2,         11,    21,     8,    true},  // flags h+21 to h+108: 3, 5, ..., 23
    {FLAGS,  25,  2,          2,   109,     8,    true},  // flags h+109 to h+124 (long form)
}};

// Group message g (0x90 + g): base 1000 or 1100.
constexpr std::array<FieldRun, 4> GroupLayout = {{
    {NUM,     3,  2,          6,     1,     0,    true},  // numbers 1 to 6: 3, 5, ..., 13
    {NUM,    15,  1,          8,     7,     0,    true},  // numbers 7 to 14: 15 to 22
    {FLAGS,   2,  2,          6,    21,     8,    true},  // flags h+21 to h+68: 2, 4, ..., 12
    {FLAGS,  14,  1,          1,    69,     4,    true},  // flags h+69 to h+72: bits 0 to 3 of 14
}};

// Short message (0xA1): base 951. The long form's offsets 5 to 20 are not decoded.
constexpr std::array<FieldRun, 2> ShortLayout = {{
    {NUM,     2,  1,          2,     0,     0,    false}, // numbers 951, 952
    {FLAGS,   4,  1,          1,     2,     7,    true},  // flags 953 to 959: bits 0 to 6 of 4
}};

// Output message o (0xB0 + o): base 200 o + 131. Offset 3 is not decoded.
constexpr std::array<FieldRun, 3> OutputLayout = {{
    {NUM,     2,  2,          3,     0,     0,    true},  // numbers 1 to 3: 2, 4, 6
    {NUM,     7,  1,          5,     3,     0,    true},  // numbers 4 to 8: 7 to 11
    {FLAGS,   5,  1,          1,    10,     4,    true},  // flags h+10 to h+13: bits 0 to 3 of 5
}};

// clang-format on

constexpr int BlockBase(int iBlock) {
    return 200 * iBlock;
}
constexpr int GroupBase(int iGroup) {
    return iGroup == 1 ? 1000 : 1100;
}
constexpr int SHORT_BASE = 951;
constexpr int OutputBase(int iOutput) {
    return 200 * iOutput + 131;
}

// Text message (0xC1): offset 2 the index n, offsets 3 to 19 up to 17 characters, to slot 1200 + n.
constexpr int TEXT_BASE = 1200;
constexpr int TEXT_INDEX_OFFSET = 2;
constexpr int TEXT_FIRST_OFFSET = 3;
constexpr int TEXT_LAST_OFFSET = 19;
constexpr int TEXT_MAX_CHARS = TEXT_LAST_OFFSET - TEXT_FIRST_OFFSET + 1;

// Highest slot a layout run reaches, so the tables can be checked against SlotByteTable.
template <std::size_t N>
constexpr int LastSlot(const std::array<FieldRun, N>& layout, int iBase) {
    int iLast = 0;
    for (const FieldRun& run : layout) {
        int iSlots = run.eKind == FieldKind::Number ? run.iBytes : run.iBytes * run.iBits;
        if (iBase + run.iFirstSlot + iSlots - 1 > iLast)
            iLast = iBase + run.iFirstSlot + iSlots - 1;
    }
    return iLast;
}
