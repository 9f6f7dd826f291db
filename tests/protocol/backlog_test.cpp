// A backlog larger than the assembly buffer waiting at one notification is decoded without loss.
#include "stream_generator.h"

using BacklogTest = ProtocolTest;

namespace {
// What the messages leave when each is delivered, and published, on its own.
Outcome OneByOne(const std::vector<Bytes>& messages) {
    for (const Bytes& m : messages) {
        Deliver(m);
        Settle();
    }
    return Capture();
}
} // namespace

TEST_F(BacklogTest, SeveralKilobytesOfValidMessagesAreAllDecodedInOrder) {
    for (bool bLong : {false, true}) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
        StreamGenerator gen(bLong ? 77u : 76u, bLong);
        std::vector<Bytes> messages;
        Bytes backlog;
        while (backlog.size() < 8000) {
            messages.push_back(gen.ValidMessage());
            backlog.insert(backlog.end(), messages.back().begin(), messages.back().end());
        }
        const Outcome reference = OneByOne(messages);
        const std::size_t nReferenceWrites = memhost::Writes().size();
        int iMessages = static_cast<int>(messages.size());
        ASSERT_EQ(iSerialRxCount, iMessages);

        ProtocolTest::SetUp();
        bExtensions = bLong;
        Deliver(backlog);
        // One notification takes one buffer's worth; the window asks for the rest itself.
        EXPECT_GE(memhost::QueuedBytes(), backlog.size() - RECEIVE_BUDGET_BYTES);
        EXPECT_TRUE(ReceiveWaiting());
        Settle();
        EXPECT_FALSE(ReceiveWaiting());
        EXPECT_EQ(iWrtPtr, 0);
        EXPECT_EQ(iSerialRxCount, iMessages);
        EXPECT_EQ(memhost::QueuedBytes(), 0u);
        EXPECT_EQ(DebugLineCount(), 0) << DebugLineAt(0);
        EXPECT_EQ(Difference(Capture(), reference), "");
        // Repeats of a slot that queued up behind each other went out once.
        EXPECT_LT(memhost::Writes().size(), nReferenceWrites);
    }
}

TEST_F(BacklogTest, PassesThatEndEarlyDoNotStallABacklog) {
    // Every third item ends a pass early: an unrecognised pair or a text with a pair inside.
    StreamGenerator gen(5u, false);
    std::vector<Bytes> items;
    Bytes backlog;
    for (int i = 0; backlog.size() < 5000; ++i) {
        Bytes item;
        if (i % 3 == 0)
            item = (i % 2) ? Bytes{0xE0, 0xE0} : Join({TextMsg(1, "AB\xD1\xD1"), Msg(0xD1)});
        else
            item = gen.ValidMessage();
        items.push_back(item);
        backlog.insert(backlog.end(), item.begin(), item.end());
    }
    const Outcome reference = OneByOne(items);

    ProtocolTest::SetUp();
    Deliver(backlog);
    Settle();
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_FALSE(HasDebugLine("Buffer overflow - bytes lost"));
    EXPECT_EQ(Difference(Capture(), reference), "");
    // Without the notifications that follow, the backlog itself got no further than one buffer.
    ProtocolTest::SetUp();
    Deliver(backlog);
    EXPECT_LE(iWrtPtr, ASSEMBLY_DISCARD_ABOVE);
}
