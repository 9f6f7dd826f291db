// The framer's marks on link supervision: restoration on the first command pair, and the reset
// after a failure.
#include "protocol_fixture.h"

class LinkTest : public ProtocolTest {
  protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        bCommsOK = false;
    }
};

TEST_F(LinkTest, FirstCommandPairRestoresTheLinkOnceEvenIfIncomplete) {
    iSilentTicks = 4;
    Deliver({0x10, 0x81, 0x81, 0x01});
    EXPECT_EQ(iSilentTicks, 0);
    EXPECT_TRUE(bCommsOK);
    EXPECT_EQ(CountDebugLines("Comms restored"), 1);
    EXPECT_EQ(memhost::DriverStates(), std::vector<int>{3});
    EXPECT_EQ(memhost::SlotText(4091), "1");
    EXPECT_STREQ(PanelText(2001), "Comms OK");
    EXPECT_EQ(memhost::ReadCount(), 2); // 4091 and 4092 both asked
    EXPECT_EQ(iWrtPtr, 4);

    iSilentTicks = 3;
    Notify();
    EXPECT_EQ(iSilentTicks, 0);
    EXPECT_EQ(CountDebugLines("Comms restored"), 1);
    EXPECT_EQ(memhost::DriverStates().size(), 1u);
}

TEST_F(LinkTest, UnrecognisedPairAlsoRestoresTheLink) {
    Deliver({0xEE, 0xEE});
    EXPECT_TRUE(bCommsOK);
    EXPECT_EQ(memhost::DriverStates(), std::vector<int>{3});
}

TEST_F(LinkTest, StrayHighBytesDoNotRestoreTheLink) {
    Deliver({0x81, 0x01, 0x82, 0x02, 0x83});
    EXPECT_FALSE(bCommsOK);
    EXPECT_TRUE(memhost::DriverStates().empty());
}

TEST_F(LinkTest, ResetLinkEmptiesTheBufferAndShowsTheFailure) {
    Deliver(Join({Msg(0xD1), {0xB1, 0xB1, 9, 9}}));
    ASSERT_TRUE(bCommsOK);
    ASSERT_EQ(iWrtPtr, 4);
    memhost::SetSlotText(4092, "stale");
    ResetLink();
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_FALSE(bCommsOK);
    for (unsigned char b : AssemblyBuffer)
        ASSERT_EQ(b, 0);
    EXPECT_EQ(memhost::SlotText(4091), "0");
    EXPECT_EQ(memhost::SlotText(4092), "stale");
    EXPECT_STREQ(PanelText(2001), "Comms FAIL");

    // The rest of the cut message is no message; the next pair restores the link.
    Deliver(Join({{9, 9}, Msg(0xD1)}));
    EXPECT_TRUE(bCommsOK);
    EXPECT_EQ(CountDebugLines("Comms restored"), 2);
    EXPECT_EQ(memhost::SlotText(4091), "1");
    EXPECT_EQ(memhost::SlotText(4092), "");
    EXPECT_EQ(iWrtPtr, 0);
}
