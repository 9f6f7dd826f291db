#include "protocol/tally.h"

#include "protocol/decode.h"
#include "protocol/external.h"
#include "protocol/pending.h"
#include "protocol/settings.h"

#include <cstdio>

namespace {

constexpr std::array<unsigned char, TALLY_COUNT + 1> NothingPublished() {
    std::array<unsigned char, TALLY_COUNT + 1> shown{};
    for (auto& b : shown)
        b = TALLY_NOT_PUBLISHED;
    return shown;
}

constexpr int FIRST_TALLY_CONTROL = 1005; // control 1005 + n shows tally number n

// Re-entry tally numbers and the first flag slot of the table each one walks.
struct ReentryRange {
    int iFirstTally;
    int iLastTally;
    int iFirstFlag; // flag slot of iFirstTally; each following number is 8 slots further
    bool bGroup;
};

// clang-format off
constexpr std::array<ReentryRange, 6> ReentryTable = {{
    // Tallies      First flag slot  Kind
    { 89,  92,      1021,            true},   // group message 1
    {117, 120,      1121,            true},   // group message 2
    { 93,  96,       229,            false},  // block message 1
    { 99, 102,       429,            false},  // block message 2
    {105, 108,       629,            false},  // block message 3
    {111, 114,       829,            false},  // block message 4
}};
// clang-format on

// A slot outside the table holds nothing, whoever names it.
unsigned char T(int iSlot) {
    return iSlot >= 0 && iSlot < SLOT_TABLE_SIZE ? SlotByteTable[iSlot] : 0;
}

} // namespace

std::array<unsigned char, TALLY_COUNT + 1> TallyLit{};
std::array<unsigned char, TALLY_COUNT + 1> TallyShown = NothingPublished();

namespace {
std::array<bool, TALLY_COUNT + 1> BoxDue{}; // changed by a resolution, not yet shown
} // namespace

void ForgetPublishedTallies() {
    TallyShown = NothingPublished();
}

void ForgetDueTallyBoxes() {
    BoxDue = {};
}

void LightTally(int p) {
    if (p <= 0 || p >= TALLY_COUNT || TallyLit[p] == 1)
        return;
    TallyLit[p] = 1;
    for (const ReentryRange& range : ReentryTable) {
        if (p < range.iFirstTally || p > range.iLastTally)
            continue;
        int iFirstFlag = range.iFirstFlag + 8 * (p - range.iFirstTally);
        if (range.bGroup)
            LightGroupSources(iFirstFlag);
        else
            LightBlockSources(iFirstFlag);
        return;
    }
}

void LightGroupSources(int iFirstFlag) {
    // Number 7 + k of the group message (offset 15 + k).
    int iNumbers = iFirstFlag >= 1100 ? 1107 : 1007;
    for (int k = 0; k < 8; ++k)
        if (T(iFirstFlag + k) == 1)
            LightTally(T(iNumbers + k));
}

void LightBlockSources(int iFirstFlag) {
    int h = iFirstFlag / 100 * 100;
    // Flags 0 to 3 select numbers 9 to 12 outright.
    for (int k = 0; k < 4; ++k)
        if (T(iFirstFlag + k) == 1)
            LightTally(T(h + 9 + k));
    // Flags 4 to 7 select a pair of numbers 1 to 8, each gated by its own flag from offset 3.
    for (int m = 0; m < 4; ++m) {
        if (T(iFirstFlag + 4 + m) != 1)
            continue;
        if (T(h + 21 + 2 * m) == 1)
            LightTally(T(h + 1 + 2 * m));
        if (T(h + 22 + 2 * m) == 1)
            LightTally(T(h + 2 + 2 * m));
    }
}

void ResolveTallies() {
    TallyLit = {};
    if (iTXoutput != 0) {
        // A slot outside the table names no root.
        if (iTXoutput > 0 && iTXoutput < SLOT_TABLE_SIZE)
            LightTally(T(iTXoutput));
    } else {
        for (int o = 1; o <= 4; ++o)
            for (int k = 0; k < 4; ++k)
                if (T(200 * o + 141 + k) == 1)
                    LightTally(T(200 * o + 131 + k));
    }
    for (int n = 1; n <= TALLY_COUNT; ++n) {
        if (TallyLit[n] == TallyShown[n])
            continue;
        TallyShown[n] = TallyLit[n];
        QueueSlot(n, TallyLit[n] == 1 ? "1" : "0");
        BoxDue[static_cast<std::size_t>(n)] = true;
    }
}

void ShowTallyBoxes() {
    for (int n = 1; n <= TALLY_COUNT; ++n) {
        if (!BoxDue[static_cast<std::size_t>(n)])
            continue;
        BoxDue[static_cast<std::size_t>(n)] = false;
        char szNumber[8] = " ";
        if (TallyLit[n] == 1)
            std::snprintf(szNumber, sizeof szNumber, "%d", n);
        SetPanelText(FIRST_TALLY_CONTROL + n, szNumber);
    }
}
