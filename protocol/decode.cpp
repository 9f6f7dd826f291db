#include "protocol/decode.h"

#include "protocol/assembly.h"
#include "protocol/commands.h"
#include "protocol/pending.h"
#include "protocol/settings.h"
#include "protocol/slotmap.h"

std::array<unsigned char, SLOT_TABLE_SIZE> SlotByteTable{};

static_assert(LastSlot(BlockLayout, BlockBase(4)) == 924);
static_assert(LastSlot(GroupLayout, GroupBase(2)) == 1172);
static_assert(LastSlot(ShortLayout, SHORT_BASE) == 959);
static_assert(LastSlot(OutputLayout, OutputBase(4)) == 944);
static_assert(TEXT_BASE + 255 < SLOT_TABLE_SIZE);

namespace {

const char* const FlagText[2] = {"0", "1"};

// Unsigned decimal without leading zeros; snprintf is needlessly slow for three digits.
const char* NumberText(unsigned char bValue, char (&szText)[4]) {
    char* p = szText + 3;
    *p = '\0';
    do {
        *--p = static_cast<char>('0' + bValue % 10);
        bValue = static_cast<unsigned char>(bValue / 10);
    } while (bValue != 0);
    return p;
}

template <std::size_t N>
void DecodeLayout(const std::array<FieldRun, N>& layout, int iBase, int iStart, int iEnd) {
    const int iLength = iEnd - iStart;
    for (const FieldRun& run : layout) {
        if (run.iFirstOffset + run.iOffsetStep * (run.iBytes - 1) >= iLength)
            continue;
        int iSlot = iBase + run.iFirstSlot;
        for (int b = 0; b < run.iBytes; ++b) {
            unsigned char bByte = AssemblyBuffer[iStart + run.iFirstOffset + run.iOffsetStep * b];
            if (run.eKind == FieldKind::Number) {
                if (run.bStored)
                    SlotByteTable[iSlot] = bByte;
                char szText[4];
                QueueSlot(iSlot, NumberText(bByte, szText));
                ++iSlot;
            } else {
                for (int k = 0; k < run.iBits; ++k, ++iSlot) {
                    unsigned char bBit = (bByte >> k) & 1u;
                    QueueSlot(iSlot, FlagText[bBit]);
                    if (run.bStored)
                        SlotByteTable[iSlot] = bBit;
                }
            }
        }
    }
}

void DecodeText(int iStart) {
    char szText[TEXT_MAX_CHARS + 1];
    int n = 0;
    while (n < TEXT_MAX_CHARS && AssemblyBuffer[iStart + TEXT_FIRST_OFFSET + n] != 0) {
        szText[n] = static_cast<char>(AssemblyBuffer[iStart + TEXT_FIRST_OFFSET + n]);
        ++n;
    }
    szText[n] = '\0';
    QueueSlot(TEXT_BASE + AssemblyBuffer[iStart + TEXT_INDEX_OFFSET], szText);
}

} // namespace

void DecodeMessage(unsigned char bCommand, int iStart, int iEnd) {
    if (iStart < 0 || iEnd > iWrtPtr || iEnd - iStart < MessageLength(bCommand, bExtensions))
        return; // only whole messages inside the buffer are decoded
    switch (KindOf(bCommand)) {
        case MessageKind::Block:
            DecodeLayout(BlockLayout, BlockBase(bCommand - 0x80), iStart, iEnd);
            break;
        case MessageKind::Group:
            DecodeLayout(GroupLayout, GroupBase(bCommand - 0x90), iStart, iEnd);
            break;
        case MessageKind::Short:
            DecodeLayout(ShortLayout, SHORT_BASE, iStart, iEnd);
            break;
        case MessageKind::Output:
            DecodeLayout(OutputLayout, OutputBase(bCommand - 0xB0), iStart, iEnd);
            break;
        case MessageKind::Text:
            DecodeText(iStart);
            break;
        default:
            break;
    }
}
