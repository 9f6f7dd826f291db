// Every message kind into its slots, in the written order, and only what changed.
#include "protocol_fixture.h"

using DecodeTest = ProtocolTest;

namespace {
// Data byte at offset o set to o, so a slot's text names the offset it came from.
Bytes OffsetNumbered(unsigned char bCommand, bool bExtended = false) {
    Bytes m = Msg(bCommand, {}, bExtended);
    for (std::size_t o = 2; o < m.size(); ++o)
        m[o] = static_cast<unsigned char>(o);
    return m;
}
} // namespace

TEST_F(DecodeTest, BlockMessageSlotsAndOrderFollowExtensions) {
    Deliver(OffsetNumbered(0x81));
    EXPECT_EQ(WrittenSlots(), Concat(Range(201, 212), Range(221, 308)));
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(memhost::SlotText(200 + n), std::to_string(2 * n));
        EXPECT_EQ(SlotByteTable[200 + n], 2 * n);
    }
    // Flag slot h+21+8m+k holds bit k of offset 3+2m.
    for (int m = 0; m < 11; ++m)
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(SlotByteTable[221 + 8 * m + k], ((3 + 2 * m) >> k) & 1) << m << " " << k;

    ProtocolTest::SetUp();
    bExtensions = true;
    Deliver(OffsetNumbered(0x84, true));
    EXPECT_EQ(WrittenSlots(), Concat(Range(801, 814), Range(821, 924)));
    EXPECT_EQ(memhost::SlotText(813), "26");
    EXPECT_EQ(memhost::SlotText(814), "28");
    EXPECT_EQ(SlotByteTable[909], 1); // bit 0 of offset 25
    EXPECT_EQ(SlotByteTable[917], 1); // bit 0 of offset 27
    EXPECT_EQ(SlotByteTable[918], 1); // bit 1 of offset 27
}

TEST_F(DecodeTest, FlagBytesGoBitZeroFirstAndFullBytesAsNumbers) {
    Deliver(MsgAt(0x81, {{3, 0x05}, {2, 0xFF}, {5, 0xFF}}));
    EXPECT_EQ(memhost::SlotText(221), "1");
    EXPECT_EQ(memhost::SlotText(222), "0");
    EXPECT_EQ(memhost::SlotText(223), "1");
    for (int s = 224; s <= 228; ++s)
        EXPECT_EQ(memhost::SlotText(s), "0") << s;
    EXPECT_EQ(memhost::SlotText(201), "255");
    EXPECT_EQ(SlotByteTable[201], 255);
    for (int s = 229; s <= 236; ++s)
        EXPECT_EQ(memhost::SlotText(s), "1") << s;
    EXPECT_EQ(memhost::SlotText(202), "0");
}

TEST_F(DecodeTest, GroupMessageTwoTakesFlagsFromEvenAndNumbersFromOddOffsets) {
    Bytes m = OffsetNumbered(0x92);
    m[14] = 0xF5; // bits 4 to 7 ignored
    Deliver(m);
    EXPECT_EQ(WrittenSlots(), Concat(Range(1101, 1114), Range(1121, 1172)));
    const int NumberOffsets[] = {3, 5, 7, 9, 11, 13, 15, 16, 17, 18, 19, 20, 21, 22};
    for (int n = 0; n < 14; ++n) {
        EXPECT_EQ(memhost::SlotText(1101 + n), std::to_string(NumberOffsets[n]));
        EXPECT_EQ(SlotByteTable[1101 + n], NumberOffsets[n]);
    }
    for (int f = 0; f < 48; ++f)
        EXPECT_EQ(memhost::SlotText(1121 + f), (((2 + 2 * (f / 8)) >> (f % 8)) & 1) ? "1" : "0") << f;
    EXPECT_EQ(memhost::SlotText(1169), "1");
    EXPECT_EQ(memhost::SlotText(1170), "0");
    EXPECT_EQ(memhost::SlotText(1171), "1");
    EXPECT_EQ(memhost::SlotText(1172), "0");

    ProtocolTest::SetUp();
    Deliver(OffsetNumbered(0x91));
    EXPECT_EQ(WrittenSlots(), Concat(Range(1001, 1014), Range(1021, 1072)));
}

TEST_F(DecodeTest, OutputMessageSkipsOffsetThreeAndHighFlagBits) {
    Bytes m = OffsetNumbered(0xB3);
    m[3] = 99;
    m[5] = 0xFA; // flags 0, 1, 0, 1; the high four bits ignored
    Deliver(m);
    EXPECT_EQ(WrittenSlots(), Concat(Range(731, 738), Range(741, 744)));
    const char* Expected[] = {"2", "4", "6", "7", "8", "9", "10", "11"};
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(memhost::SlotText(731 + n), Expected[n]);
    EXPECT_EQ(memhost::SlotText(741), "0");
    EXPECT_EQ(memhost::SlotText(742), "1");
    EXPECT_EQ(memhost::SlotText(743), "0");
    EXPECT_EQ(memhost::SlotText(744), "1");
    for (int s = 0; s < SLOT_TABLE_SIZE; ++s)
        EXPECT_NE(SlotByteTable[s], 99) << s;
}

TEST_F(DecodeTest, ShortMessageNumbersBypassTheTableAndLongFormIsNotDecoded) {
    for (bool bLong : {false, true}) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
        Bytes m = MsgAt(0xA1, {{2, 17}, {3, 250}, {4, 0xC1}}, bLong);
        if (bLong)
            for (std::size_t o = 5; o < m.size(); ++o)
                m[o] = 0x33;
        Deliver(m);
        EXPECT_EQ(iWrtPtr, 0);
        EXPECT_EQ(WrittenSlots(), Range(951, 959));
        EXPECT_EQ(memhost::SlotText(951), "17");
        EXPECT_EQ(memhost::SlotText(952), "250");
        EXPECT_EQ(SlotByteTable[951], 0);
        EXPECT_EQ(SlotByteTable[952], 0);
        EXPECT_EQ(memhost::SlotText(953), "1");
        EXPECT_EQ(SlotByteTable[953], 1);
        EXPECT_EQ(memhost::SlotText(959), "1"); // bit 6
        EXPECT_EQ(memhost::SlotText(960), "");  // bit 7 ignored
    }
}

TEST_F(DecodeTest, TextMessageIsWrittenAsReceived) {
    Deliver(TextMsg(5, "CAM 1"));
    EXPECT_EQ(memhost::SlotText(1205), "CAM 1");

    Bytes full = TextMsg(255, "ABCDEFGHIJKLMNOPQ");
    full[20] = 'Z';
    Deliver(full);
    EXPECT_EQ(memhost::SlotText(1455), "ABCDEFGHIJKLMNOPQ");

    // Percent signs and high characters are data, not a format.
    Deliver(TextMsg(0, "100%s %d\xE9"));
    EXPECT_EQ(memhost::SlotText(1200), "100%s %d\xE9");

    Bytes cut = TextMsg(7, "AB");
    cut[6] = 'X'; // after the terminating zero
    Deliver(cut);
    EXPECT_EQ(memhost::SlotText(1207), "AB");
    EXPECT_EQ(WrittenSlots(), (std::vector<int>{1205, 1455, 1200, 1207}));
    for (unsigned char b : SlotByteTable)
        ASSERT_EQ(b, 0);
}

TEST_F(DecodeTest, RepeatedMessagesWriteOnlyWhatChanged) {
    bExtensions = true;
    Bytes stream = Join({OffsetNumbered(0x83, true), OffsetNumbered(0x91), OffsetNumbered(0xA1, true),
                         OffsetNumbered(0xB2), TextMsg(9, "VT 2")});
    Deliver(stream);
    std::size_t nFirst = memhost::Writes().size();
    EXPECT_EQ(nFirst, 14u + 104u + 14u + 52u + 9u + 12u + 1u);
    Deliver(stream);
    EXPECT_EQ(memhost::Writes().size(), nFirst);

    Bytes changed = OffsetNumbered(0xB2);
    changed[9] = 200;
    changed[5] ^= 0x02;
    Deliver(changed);
    ASSERT_EQ(memhost::Writes().size(), nFirst + 2);
    EXPECT_EQ(memhost::Writes()[nFirst], (SlotWrite{536, "200"}));
    EXPECT_EQ(memhost::Writes()[nFirst + 1].iSlot, 542);
}
