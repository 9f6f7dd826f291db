// Tally resolution: roots, re-entry closure, the published slots and tally boxes.
#include "protocol_fixture.h"

#include <set>

namespace {

class TallyTest : public ProtocolTest {
  protected:
    // Publishes the first resolution (everything "0") so that later writes are only changes.
    void Prime() {
        Deliver(Msg(0xD2));
        ASSERT_EQ(memhost::Writes().size(), 128u);
    }
    std::set<int> Lit() const {
        std::set<int> lit;
        for (int n = 1; n <= TALLY_COUNT; ++n) {
            if (memhost::SlotText(n) == "1")
                lit.insert(n);
            EXPECT_EQ(memhost::SlotText(n) == "1", TallyLit[n] == 1) << n;
        }
        return lit;
    }
    void Trigger(const Bytes& before = {}) { Deliver(Join({before, Msg(0xD2)})); }
};

// Output message o whose number k (1 to 4) is a root.
Bytes OutputRoot(unsigned char bCommand, int k, int iTally) {
    const int NumberOffsets[] = {2, 4, 6, 7};
    return MsgAt(bCommand, {{NumberOffsets[k - 1], iTally}, {5, 1 << (k - 1)}});
}

} // namespace

TEST_F(TallyTest, FirstTriggerPublishesAllTalliesAsNotLit) {
    Trigger();
    EXPECT_EQ(WrittenSlots(), Range(1, 128));
    for (int n = 1; n <= 128; ++n) {
        EXPECT_EQ(memhost::SlotText(n), "0");
        EXPECT_STREQ(PanelText(1005 + n), " ") << n;
    }
    // After a forced republish the next trigger writes every box again.
    memhost::ClearPanel();
    ForgetPublishedTallies();
    Trigger();
    EXPECT_STREQ(PanelText(1133), " ");
}

TEST_F(TallyTest, OutputFlagMakesItsNumberARoot) {
    Prime();
    Trigger(MsgAt(0xB1, {{2, 5}, {5, 0x01}}));
    EXPECT_EQ(Lit(), (std::set<int>{5}));
    EXPECT_STREQ(PanelText(1010), "5");
    // The tally goes ahead of the output message that came with it.
    EXPECT_EQ(memhost::Writes()[128], (SlotWrite{5, "1"}));

    // Every output message and every number of it can be a root; a clear flag is no root.
    Trigger(Join({OutputRoot(0xB2, 2, 17), OutputRoot(0xB3, 3, 120), OutputRoot(0xB4, 4, 127),
                  MsgAt(0xB1, {{2, 5}, {4, 6}, {5, 0x00}})}));
    EXPECT_EQ(Lit(), (std::set<int>{17, 120, 127}));
    EXPECT_STREQ(PanelText(1010), " ");
    EXPECT_STREQ(PanelText(1132), "127");
}

TEST_F(TallyTest, BlockReentryLightsItsSelections) {
    // Re-entry 93 (block 1): flag bit 0 of offset 5 selects number 9 (offset 18).
    Trigger(Join({OutputRoot(0xB1, 1, 93), MsgAt(0x81, {{5, 0x01}, {18, 12}})}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 12}));

    // Bit 4 selects numbers 1 and 2, each gated by its flag from offset 3.
    Trigger(MsgAt(0x81, {{5, 0x10}, {3, 0x03}, {2, 20}, {4, 21}}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 20, 21}));
    Trigger(MsgAt(0x81, {{5, 0x10}, {3, 0x02}, {2, 20}, {4, 21}}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 21}));

    // Re-entry 114 is the last of block 4: flags from offset 11, bit 3 selects number 12.
    Trigger(Join({OutputRoot(0xB1, 1, 114), MsgAt(0x84, {{11, 0x08}, {24, 66}, {5, 0xFF}, {18, 1}})}));
    EXPECT_EQ(Lit(), (std::set<int>{114, 66}));
    // Bits 5 to 7 with their gates: numbers 3 to 8.
    Trigger(MsgAt(0x84, {{11, 0xE0}, {3, 0xFC}, {6, 33}, {8, 34}, {10, 35}, {12, 36}, {14, 37}, {16, 38}}));
    EXPECT_EQ(Lit(), (std::set<int>{114, 33, 34, 35, 36, 37, 38}));
}

TEST_F(TallyTest, GroupReentryLightsItsSelections) {
    Trigger(Join({OutputRoot(0xB1, 1, 89), MsgAt(0x91, {{2, 0x08}, {18, 40}})}));
    EXPECT_EQ(Lit(), (std::set<int>{89, 40}));

    // 120 uses group message 2, flags from offset 8.
    Trigger(Join({OutputRoot(0xB1, 1, 120), MsgAt(0x92, {{8, 0x81}, {15, 3}, {22, 4}}),
                  MsgAt(0x91, {{8, 0xFF}, {15, 50}})}));
    EXPECT_EQ(Lit(), (std::set<int>{120, 3, 4}));
}

TEST_F(TallyTest, ReentriesThatSelectEachOtherLightOnceAndStop) {
    // 93 selects 99 (block 1 number 9), 99 selects 93 (block 2 number 9), 99 also selects 7.
    Trigger(Join({OutputRoot(0xB1, 1, 93), MsgAt(0x81, {{5, 0x01}, {18, 99}}),
                  MsgAt(0x82, {{5, 0x03}, {18, 93}, {20, 7}})}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 99, 7}));

    // A ring through every re-entry: group 1 -> group 2 -> each block range -> back.
    Bytes stream = OutputRoot(0xB1, 1, 89);
    std::vector<int> ring;
    for (int p = 89; p <= 96; ++p)
        ring.push_back(p);
    for (int p : {99, 100, 101, 102, 105, 106, 107, 108, 111, 112, 113, 114, 117, 118, 119, 120})
        ring.push_back(p);
    // Each re-entry selects the next one in the ring through flag bit 0 of its table.
    Bytes g1 = Msg(0x91), g2 = Msg(0x92), blocks[4] = {Msg(0x81), Msg(0x82), Msg(0x83), Msg(0x84)};
    int iGroupNumber[2] = {0, 0};
    for (std::size_t r = 0; r < ring.size(); ++r) {
        int p = ring[r], next = ring[(r + 1) % ring.size()];
        if (p <= 92 || p >= 117) {
            Bytes& g = p <= 92 ? g1 : g2;
            int j = p <= 92 ? p - 89 : p - 117;
            int& k = iGroupNumber[p <= 92 ? 0 : 1];
            g[2 + 2 * j] |= static_cast<unsigned char>(1 << k);
            g[15 + k] = static_cast<unsigned char>(next);
            ++k;
        } else {
            int b = p <= 96 ? 1 : p <= 102 ? 2 : p <= 108 ? 3 : 4;
            int j = p - (b == 1 ? 93 : b == 2 ? 99 : b == 3 ? 105 : 111);
            Bytes& m = blocks[b - 1];
            m[5 + 2 * j] |= static_cast<unsigned char>(1 << j);
            m[18 + 2 * j] = static_cast<unsigned char>(next);
        }
    }
    Trigger(Join({stream, g1, g2, blocks[0], blocks[1], blocks[2], blocks[3]}));
    EXPECT_EQ(Lit(), std::set<int>(ring.begin(), ring.end()));
}

TEST_F(TallyTest, RootsAndSelectionsOutsideOneToOneTwentySevenLightNothing) {
    Prime();
    for (int iRoot : {0, 128, 200, 255}) {
        Trigger(OutputRoot(0xB1, 1, iRoot));
        EXPECT_TRUE(Lit().empty()) << iRoot;
        for (std::size_t w = 128; w < memhost::Writes().size(); ++w)
            EXPECT_GT(memhost::Writes()[w].iSlot, 128) << iRoot;
    }
    Trigger(
        Join({OutputRoot(0xB1, 1, 93), MsgAt(0x81, {{5, 0x0F}, {18, 0}, {20, 128}, {22, 200}, {24, 11}})}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 11}));
    EXPECT_EQ(memhost::SlotText(128), "0");
}

TEST_F(TallyTest, TxOutputNamesTheOnlyRoot) {
    EXPECT_EQ(TxOutputSlot(0), 0);
    EXPECT_EQ(TxOutputSlot(1), 331);
    EXPECT_EQ(TxOutputSlot(2), 332);
    EXPECT_EQ(TxOutputSlot(4), 334);
    EXPECT_EQ(TxOutputSlot(5), 531);
    EXPECT_EQ(TxOutputSlot(12), 734);
    EXPECT_EQ(TxOutputSlot(16), 934);
    EXPECT_EQ(TxOutputSlot(17), 17);
    EXPECT_EQ(TxOutputSlot(1205), 1205);
    EXPECT_EQ(TxOutputSlot(-3), -3);

    iTXoutput = TxOutputSlot(2);
    // Flags say numbers 1 and 3 are roots; only number 2 (slot 332) counts, flag or not.
    Trigger(MsgAt(0xB1, {{2, 10}, {4, 20}, {6, 30}, {5, 0x05}}));
    EXPECT_EQ(Lit(), (std::set<int>{20}));

    // Any slot of the table will do, re-entries included.
    iTXoutput = 1010;
    Trigger(Join({MsgAt(0x91, {{18, 93}}), MsgAt(0x81, {{5, 0x01}, {18, 44}})}));
    EXPECT_EQ(Lit(), (std::set<int>{93, 44}));
}

TEST_F(TallyTest, TxOutputOutsideTheSlotTableLightsNothing) {
    Prime();
    SlotByteTable.fill(5);
    for (int iSlot : {-1, -100000, 2000, 4095, 65535, 2147483647}) {
        iTXoutput = iSlot;
        ResolveTallies();
        for (int n = 0; n <= TALLY_COUNT; ++n)
            ASSERT_EQ(TallyLit[n], 0) << iSlot;
    }
    EXPECT_EQ(memhost::Writes().size(), 128u);
}

TEST_F(TallyTest, IdenticalTriggerWritesNothingAndLeavesTheBoxes) {
    Trigger(Join({OutputRoot(0xB1, 1, 93), MsgAt(0x81, {{5, 0x01}, {18, 12}})}));
    std::size_t nWrites = memhost::Writes().size();
    memhost::ClearPanel();
    Trigger();
    EXPECT_EQ(memhost::Writes().size(), nWrites);
    for (int n = 1; n <= 128; ++n)
        EXPECT_STREQ(PanelText(1005 + n), "") << n;

    // Turning a root off writes just the change.
    Trigger(MsgAt(0xB1, {{2, 93}, {5, 0x00}}));
    EXPECT_EQ(Lit(), std::set<int>{});
    ASSERT_EQ(memhost::Writes().size(), nWrites + 3);
    EXPECT_EQ(memhost::Writes()[nWrites], (SlotWrite{12, "0"}));
    EXPECT_EQ(memhost::Writes()[nWrites + 1], (SlotWrite{93, "0"}));
    EXPECT_EQ(memhost::Writes()[nWrites + 2], (SlotWrite{341, "0"}));
    EXPECT_STREQ(PanelText(1017), " ");
    EXPECT_STREQ(PanelText(1098), " ");
    EXPECT_STREQ(PanelText(1006), "");
}

TEST_F(TallyTest, SourceWalksNamedOutsideTheSlotTableReadNothingThere) {
    // Every flag set and every number 1: a walk that read outside the table would act on whatever
    // lies beyond it, and one that reads inside lights 1.
    SlotByteTable.fill(1);
    for (int iFirstFlag : {-50, -8, 2000, 2100, 5000}) {
        TallyLit = {};
        LightGroupSources(iFirstFlag);
        LightBlockSources(iFirstFlag);
        for (int n = 0; n <= TALLY_COUNT; ++n)
            EXPECT_EQ(TallyLit[n], 0) << iFirstFlag << " lit " << n;
    }
    // Walks that start inside and run past the end act on their part inside only.
    for (int iFirstFlag : {1995, 1999}) {
        TallyLit = {};
        LightGroupSources(iFirstFlag);
        LightBlockSources(iFirstFlag);
        for (int n = 0; n <= TALLY_COUNT; ++n)
            EXPECT_EQ(TallyLit[n], n == 1 ? 1 : 0) << iFirstFlag << " lit " << n;
    }
}
