// One notification's work is bounded, and what it leaves is asked for again at once: an infodriver
// slower than the device cannot hold the user-interface thread, and bytes behind an early stop do
// not wait for the device's next byte.
#include "stream_generator.h"

using ReceiveBudgetTest = ProtocolTest;

namespace {

// Block messages whose every field changes from one to the next: the costliest traffic there is.
Bytes ChangingBlocks(int nMessages) {
    Bytes stream;
    for (int i = 0; i < nMessages; ++i) {
        Bytes m = Msg(0x81, Repeat(i % 2 ? 0x55 : 0xAA, 23));
        stream.insert(stream.end(), m.begin(), m.end());
    }
    return stream;
}

// A trigger that lights tally 5 through output message 1.
Bytes TallyFive() {
    return Join({MsgAt(0xB1, {{2, 5}, {5, 1}}), Msg(0xD2)});
}

} // namespace

TEST_F(ReceiveBudgetTest, SlowPublishingEndsAPublishStepSoonAfterItsTimeBudget) {
    const Bytes stream = ChangingBlocks(40);
    for (std::size_t p = 0; p < stream.size(); p += 25)
        Deliver(Bytes(stream.begin() + static_cast<long>(p), stream.begin() + static_cast<long>(p + 25)));
    const Outcome reference = Capture();

    // Every exchange with the infodriver costs a millisecond, as it does across processes.
    ProtocolTest::SetUp();
    memhost::SetExchangeCostMs(1);
    Deliver(stream);
    EXPECT_EQ(iSerialRxCount, 40) << "decoding does not wait for publishing";
    const long long llFirst = memhost::ReadCount() + memhost::WriteCount();
    // The slot being sent when the budget ran out is finished: a read and a write at most.
    EXPECT_GE(llFirst, static_cast<long long>(PUBLISH_BUDGET_MS));
    EXPECT_LE(llFirst, static_cast<long long>(PUBLISH_BUDGET_MS) + 2);
    EXPECT_TRUE(WorkWaiting());

    EXPECT_GE(Settle(), 1);
    EXPECT_EQ(Difference(Capture(), reference), "");
    // The 40 blocks left one entry for each of their 100 slots.
    EXPECT_EQ(memhost::ReadCount(), 100);
    EXPECT_FALSE(HasDebugLine("Buffer overflow - bytes lost"));
}

TEST_F(ReceiveBudgetTest, BytesBehindAnEarlyStopAreFramedWithoutAnotherDeviceByte) {
    const Bytes TextWithPair = Join({TextMsg(1, "AB\xD1\xD1"), Msg(0xD1)});
    for (const Bytes& stop : {Bytes{0xE0, 0xE0}, TextWithPair}) {
        ProtocolTest::SetUp();
        Deliver(Join({stop, TallyFive()}));
        EXPECT_EQ(memhost::SlotText(5), "") << "one pass per notification";
        EXPECT_TRUE(ReceiveWaiting());
        // The window's own notification: the port queue is empty.
        Settle();
        EXPECT_EQ(memhost::SlotText(5), "1");
        EXPECT_STREQ(PanelText(1010), "5");
        EXPECT_FALSE(ReceiveWaiting());
    }
}

TEST_F(ReceiveBudgetTest, NothingIsAskedForWhileTheDeviceOwesBytes) {
    Bytes block = Msg(0x81, Repeat(1, 23));
    Deliver(Bytes(block.begin(), block.begin() + 10));
    EXPECT_FALSE(ReceiveWaiting());
    // An unrecognised pair with nothing behind it, and a complete buffer.
    Deliver(Join({Bytes(block.begin() + 10, block.end()), Bytes{0xE0, 0xE0}}));
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_FALSE(ReceiveWaiting());
}

TEST_F(ReceiveBudgetTest, AFloodOfUnrecognisedPairsIsWorkedThroughToTheTallyBehindIt) {
    Bytes flood;
    for (int i = 0; i < 3000; ++i) {
        flood.push_back(static_cast<unsigned char>(0xE0 + i % 16));
        flood.push_back(flood.back());
    }
    Deliver(Join({flood, TallyFive()}));
    Settle();
    EXPECT_EQ(memhost::SlotText(5), "1");
    EXPECT_EQ(CountDebugLines("Unrecognised command byte 0xE0"), 3000 / 16 + 1);
    EXPECT_FALSE(HasDebugLine("Buffer overflow - bytes lost"));
}
