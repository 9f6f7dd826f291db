#pragma once
// Tally resolution: which of the device's 128 tally numbers are lit, published as slots 1 to 128
// and as the status panel's tally boxes.
#include <array>

constexpr int TALLY_COUNT = 128;
constexpr unsigned char TALLY_NOT_PUBLISHED = 2;

extern std::array<unsigned char, TALLY_COUNT + 1> TallyLit;   // this resolution; 1 = lit
extern std::array<unsigned char, TALLY_COUNT + 1> TallyShown; // last queued: 0, 1, or 2 never

// Run for every tally trigger: the changed tallies are queued for publishing, and their boxes are
// due to be shown.
void ResolveTallies();
// Shows the boxes of the tallies that resolutions changed since the last call. Publishing does it
// once the tallies' slots are sent, before the other slots: each box costs about an exchange, and
// a tally's slot should not wait for the panel, nor its box for bulk data.
void ShowTallyBoxes();
// Lights tally number p (0 to 255) and whatever its re-entry selects.
void LightTally(int p);
// iFirstFlag: the first flag slot of a group re-entry (G + 21 + 8j).
void LightGroupSources(int iFirstFlag);
// iFirstFlag: the first flag slot of a block re-entry (h + 29 + 8j).
void LightBlockSources(int iFirstFlag);

// Makes the next resolution publish every tally number. Configuration runs it at start.
void ForgetPublishedTallies();
void ForgetDueTallyBoxes(); // the protocol state's reset
