// The framer's marks on link supervision: restoration on the first command pair, and the reset
// after a failure.
#include "protocol_fixture.h"

class LinkTest : public ProtocolTest {
  protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        bCommsOK = false;
    }
    // The window's tick: the link slots it queues are published by the work it continues.
    static void Tick() {
        OnLinkTimer();
        Settle();
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
    Settle();
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

TEST_F(LinkTest, TheFifthQuietTickDeclaresTheFailureOnceAndEmptiesTheBuffer) {
    memhost::SetRedundancyState(0); // nothing to show from the poll
    Deliver(Join({Msg(0xD1), {0xB1, 0xB1, 9}}));
    ASSERT_TRUE(bCommsOK);
    memhost::ClearDiagnostics();
    for (int iTick = 1; iTick <= 4; ++iTick) {
        Tick();
        EXPECT_TRUE(bCommsOK) << iTick;
    }
    EXPECT_EQ(iWrtPtr, 3);
    EXPECT_FALSE(HasDebugLine("ERROR COMMS FAIL"));

    Tick();
    EXPECT_FALSE(bCommsOK);
    EXPECT_EQ(iSilentTicks, SILENT_TICKS_TO_FAIL);
    EXPECT_EQ(iWrtPtr, 0);
    EXPECT_EQ(memhost::SlotText(4091), "0");
    EXPECT_STREQ(PanelText(2001), "Comms FAIL");
    for (int iTick = 0; iTick < 10; ++iTick)
        Tick();
    EXPECT_EQ(CountDebugLines("ERROR COMMS FAIL"), 1);
    EXPECT_EQ(memhost::LogLines(), std::vector<std::string>{"COMMS FAIL"});

    // A pair four ticks ago keeps the link good; the next message restores it once.
    Deliver(Msg(0xD1));
    EXPECT_TRUE(bCommsOK);
    EXPECT_EQ(memhost::DriverStates(), (std::vector<int>{3, 3}));
    EXPECT_EQ(memhost::SlotText(4091), "1");
    EXPECT_STREQ(PanelText(2001), "Comms OK");
    for (int iTick = 0; iTick < 4; ++iTick) {
        Tick();
        if (iTick == 2)
            Deliver(Msg(0xD1));
    }
    EXPECT_TRUE(bCommsOK);
    EXPECT_EQ(CountDebugLines("Comms restored"), 1);
}

TEST_F(LinkTest, EachChangeOfTheRedundancyStateIsShownOnce) {
    iDeviceNumber = 12;
    iSilentTicks = SILENT_TICKS_TO_FAIL; // the silence is reported already
    // The caption, then the display command; the line to both channels; the title's state word.
    struct Step {
        int iState;
        std::vector<std::pair<int, std::string>> panel;
        std::string sLine;
        std::string sTitle;
    };
    const std::vector<Step> steps = {
        {2, {{2010, "TX/RX"}, {2010, "/__2B"}}, "ID 12 gone TX/RX", "TX/RX"},
        {2, {}, "", "TX/RX"},
        {1, {{2010, "Rx Only"}, {2010, "/__1B"}}, "ID 12 gone RX only", "RX only"},
        {5, {{2010, "RxOnlyBroken"}, {2010, "/__1B"}}, "ID 12 gone RXonlyBroken", "RxOnlyBroken"},
        {0, {{2010, "????"}}, "ID 12 returned status 0", "RxOnlyBroken"},
        {3, {{2010, "????"}}, "ID 12 returned status 3", "RxOnlyBroken"},
    };
    for (const Step& step : steps) {
        memhost::SetRedundancyState(step.iState);
        memhost::ClearPanel();
        memhost::ClearDiagnostics();
        OnLinkTimer();
        std::vector<std::pair<int, std::string>> panel;
        for (const auto& write : memhost::PanelWrites())
            if (write.first == 2010)
                panel.push_back(write);
        EXPECT_EQ(panel, step.panel) << step.iState;
        const std::vector<std::string> lines =
            step.sLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{step.sLine};
        EXPECT_EQ(memhost::DebugLines(), lines) << step.iState;
        EXPECT_EQ(memhost::LogLines(), lines) << step.iState;
        EXPECT_EQ(memhost::TitleState(), step.sTitle) << step.iState;
    }
}
