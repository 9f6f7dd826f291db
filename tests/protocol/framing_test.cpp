// Cutting the byte stream into messages: lengths, waiting, garbage, stray and unrecognised command
// bytes, resynchronisation inside texts and the buffer limits.
#include "protocol_fixture.h"

#include "protocol/counter.h"

using FramingTest = ProtocolTest;

TEST_F(FramingTest, BlockMessageLengthFollowsExtensions) {
    Deliver(Msg(0x81, Repeat(7, 23)));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(201), "7");
    EXPECT_EQ(iSerialRxCount, 1);

    ProtocolTest::SetUp();
    bExtensions = true;
    Bytes m = Msg(0x81, Repeat(7, 27), true);
    Deliver(Bytes(m.begin(), m.begin() + 25));
    EXPECT_EQ(iWrtPtr, 25);
    EXPECT_TRUE(memhost::Writes().empty());
    Deliver(Bytes(m.begin() + 25, m.end()));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(214), "7");
    EXPECT_EQ(memhost::SlotText(317), "1"); // bit 0 of offset 27
}

TEST_F(FramingTest, MessageSplitOverTwoReceivesIsDecodedOnceWhenComplete) {
    Bytes m = MsgAt(0xB1, {{2, 9}, {5, 1}});
    Deliver(Bytes(m.begin(), m.begin() + 7));
    EXPECT_EQ(iWrtPtr, 7);
    EXPECT_EQ(0, std::memcmp(AssemblyBuffer.data(), m.data(), 7));
    EXPECT_TRUE(memhost::Writes().empty());
    EXPECT_EQ(iSerialRxCount, 0);
    Deliver(Bytes(m.begin() + 7, m.end()));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::Writes().size(), 12u);
    EXPECT_EQ(memhost::SlotText(331), "9");
    EXPECT_EQ(iSerialRxCount, 1);
    Notify();
    EXPECT_EQ(memhost::Writes().size(), 12u);
}

TEST_F(FramingTest, GarbageBeforeMessageIsRemovedWithIt) {
    Deliver(Join({{0x01, 0x7F, 0x00}, MsgAt(0xB2, {{2, 44}, {11, 88}})}));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(531), "44");
    EXPECT_EQ(memhost::SlotText(538), "88");
    EXPECT_EQ(iSerialRxCount, 1);
    EXPECT_STREQ(PanelText(2008), "00000001");
}

TEST_F(FramingTest, StrayHighByteIsCountedAndSkipped) {
    Deliver({0x85, 0x01});
    EXPECT_EQ(iSerialRxCount, 1);
    EXPECT_STREQ(PanelText(2008), "00000001");
    EXPECT_EQ(iWrtPtr, 2); // removed together with the next message
    Deliver(Msg(0xD1));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(iSerialRxCount, 3); // counted again by the second pass, then the marker

    // A high byte that is the last byte in the buffer waits for its partner.
    ProtocolTest::SetUp();
    Deliver({0xB3});
    EXPECT_EQ(iSerialRxCount, 0);
    EXPECT_EQ(iWrtPtr, 1);
}

TEST_F(FramingTest, UnrecognisedPairIsRemovedAndTheRestWaitsForTheNextPass) {
    iSilentTicks = 3;
    Deliver(Join({{0x05, 0x80, 0x80}, MsgAt(0xB1, {{2, 3}})}));
    EXPECT_TRUE(HasDebugLine("Unrecognised command byte 0x80"));
    EXPECT_EQ(iSilentTicks, 0);
    EXPECT_EQ(iWrtPtr, 12);
    EXPECT_EQ(AssemblyBuffer[0], 0xB1);
    EXPECT_TRUE(memhost::Writes().empty());
    EXPECT_EQ(iSerialRxCount, 0);
    Notify();
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(331), "3");

    Deliver({0xFE, 0xFE, 0xAB, 0xAB});
    EXPECT_TRUE(HasDebugLine("Unrecognised command byte 0xFE"));
    EXPECT_FALSE(HasDebugLine("Unrecognised command byte 0xAB"));
    Notify();
    EXPECT_TRUE(HasDebugLine("Unrecognised command byte 0xAB"));
    EXPECT_EQ(iWrtPtr, 0);
}

TEST_F(FramingTest, CommandInsideTextDropsTheTextAndFramesFromThePair) {
    Bytes block = Msg(0x81, Repeat(6, 23));
    Bytes text = TextMsg(4, "ABCDEF");
    // The block starts at index 9 of the text.
    Bytes stream(text.begin(), text.begin() + 9);
    stream.insert(stream.end(), block.begin(), block.end());

    // While the text is incomplete, nothing is checked.
    Deliver(Bytes(stream.begin(), stream.begin() + 20));
    EXPECT_EQ(iWrtPtr, 20);
    EXPECT_EQ(DebugLineCount(), 0);

    Deliver(Bytes(stream.begin() + 20, stream.end()));
    EXPECT_TRUE(HasDebugLine("Command found in string at 9"));
    EXPECT_TRUE(HasDebugLine("Hexdump - iWrtPtr = 34"));
    EXPECT_EQ(iWrtPtr, 25);
    EXPECT_EQ(AssemblyBuffer[0], 0x81);
    EXPECT_EQ(iSerialRxCount, 0);
    EXPECT_TRUE(memhost::Writes().empty());

    Notify();
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(201), "6");
    EXPECT_EQ(memhost::SlotText(1204), "");
    EXPECT_EQ(iSerialRxCount, 1);
}

TEST_F(FramingTest, DoubledHighBytesInsideDataDoNotBreakMessages) {
    bExtensions = true;
    Bytes stream = Join({Msg(0x82, Repeat(0xC1, 27), true), Msg(0x91, Repeat(0x81, 21)),
                         Msg(0xA1, Repeat(0xD2, 19), true), Msg(0xB4, Repeat(0xFF, 10))});
    Deliver(stream);
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(iSerialRxCount, 4);
    EXPECT_EQ(memhost::SlotText(401), "193");
    EXPECT_EQ(memhost::SlotText(1001), "129");
    EXPECT_EQ(memhost::SlotText(951), "210");
    EXPECT_EQ(memhost::SlotText(938), "255");
    EXPECT_EQ(DebugLineCount(), 0);
}

TEST_F(FramingTest, TheMessageCountStartsAgainAtZeroAfterEightDigits) {
    iSerialRxCount = COUNTER_LIMIT - 2;
    Deliver(Msg(0xD1));
    EXPECT_STREQ(PanelText(2008), "99999999");
    Deliver(Msg(0xD1));
    EXPECT_EQ(iSerialRxCount, 0);
    EXPECT_STREQ(PanelText(2008), "00000000");
}

TEST_F(FramingTest, MarkerIsOnlyCountedAndTriggerResolvesOnce) {
    Deliver(Msg(0xD1));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(iSerialRxCount, 1);
    EXPECT_TRUE(memhost::Writes().empty());
    Deliver(Msg(0xD2));
    EXPECT_EQ(iSerialRxCount, 2);
    EXPECT_EQ(memhost::Writes().size(), 128u);
}

TEST_F(FramingTest, EndOfPassShowsInfodriverCounters) {
    iInfodriverRx = 7;
    Deliver(MsgAt(0xB1, {{2, 1}}));
    EXPECT_STREQ(PanelText(2007), "00000012");
    EXPECT_STREQ(PanelText(2006), "00000007");
}

TEST_F(FramingTest, PassDiscardsAboveOneThousandBytesAndFramesAtExactlyOneThousand) {
    Deliver(Join({Repeat(0x20, 988), MsgAt(0xB1, {{2, 5}})}));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(331), "5");
    EXPECT_EQ(DebugLineCount(), 0);

    ProtocolTest::SetUp();
    Deliver(Join({Repeat(0x20, 989), MsgAt(0xB1, {{2, 5}})}));
    EXPECT_TRUE(HasDebugLine("iWrtPtr too big =1001"));
    EXPECT_TRUE(HasDebugLine("Hexdump - iWrtPtr = 1001"));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_TRUE(memhost::Writes().empty());

    // A pass over a buffer filled from outside follows the same rule.
    ProtocolTest::SetUp();
    iWrtPtr = 1000;
    AssemblyBuffer[988] = 0xD1;
    AssemblyBuffer[989] = 0xD1;
    FrameMessages();
    EXPECT_EQ(iSerialRxCount, 1);
    iWrtPtr = 1001;
    FrameMessages();
    EXPECT_EQ(iWrtPtr, 0);
}

TEST_F(FramingTest, BufferThatFramingCannotShrinkOverflowsAndIsDiscarded) {
    // 1024 bytes with no command pair: 1008 fit, the chunk after that would reach 1024.
    Deliver(Repeat(0x41, 1024));
    EXPECT_EQ(CountDebugLines("Buffer overflow - bytes lost"), 1);
    EXPECT_TRUE(HasDebugLine("iWrtPtr too big =1008"));
    EXPECT_EQ(iWrtPtr, 0);

    // Garbage in front of a message that cannot complete in the room left.
    ProtocolTest::SetUp();
    Deliver(Join({Repeat(0x41, 990), Msg(0x81, Repeat(1, 23)), MsgAt(0xB1, {{2, 8}})}));
    EXPECT_TRUE(HasDebugLine("Buffer overflow - bytes lost"));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_TRUE(memhost::Writes().empty());
}
