// The driver's reaction to slot changes and infodriver events, through real notifications from
// the stand-in's core in this process.
#include "inprocess_fixture.h"

#include "app/mainwnd.h"
#include "infodriver/callback.h"
#include "protocol/pending.h"
#include "tests/app/shell_window.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

class SlotChanges : public InProcess {
  protected:
    void SetUp() override {
        InProcess::SetUp();
        client->SetCallback(InfodriverCallback);
        iInfodriverTx = 0;
        iInfodriverRx = 0;
        client->SetCounters(&iInfodriverTx, &iInfodriverRx);
        iDebugMode = 1;
        iLogMode = 0;
        ClearPending();
        shell = std::make_unique<ShellWindow>();
    }
    void TearDown() override {
        ClearPending();
        shell.reset();
        InProcess::TearDown();
    }
    // Writes the stand-in received (message 2726/2731), as slot numbers.
    static std::vector<unsigned> WrittenSlots() {
        std::vector<unsigned> out;
        for (const auto& [iMessage, iIndex] : Exchanges())
            if (iMessage == 2726 || iMessage == 2731)
                out.push_back(iIndex);
        return out;
    }
    static bool DebugListHas(const std::string& sLine) { return ShellWindow::HasLine(sLine); }
    static std::string GetPanelText(int iControl) { return ShellWindow::Panel(iControl); }

    std::unique_ptr<ShellWindow> shell;
};

} // namespace

TEST_F(SlotChanges, ChangesBelow1330AreDroppedButTheCountersAreShown) {
    standin::SetSlot(12, "a");
    standin::SetSlot(1329, "b");
    EXPECT_TRUE(WrittenSlots().empty());
    EXPECT_EQ(iInfodriverRx, 2);
    EXPECT_EQ(GetPanelText(2006), "00000002");
    EXPECT_EQ(GetPanelText(2007), "00000000");
}

TEST_F(SlotChanges, ChangesFrom1330UpAreWrittenBackCharacterForCharacter) {
    standin::SetSlot(1330, "back");
    standin::SetSlot(2000, "x");
    standin::SetSlot(3000, "50%");
    standin::SetSlot(3001, "%s%n%d");
    EXPECT_EQ(WrittenSlots(), (std::vector<unsigned>{1330, 2000, 3000, 3001}));
    EXPECT_EQ(standin::SlotText(3000), "50%");
    EXPECT_EQ(standin::SlotText(3001), "%s%n%d");
    EXPECT_TRUE(DebugListHas("Slot Change Unused Function - slot 2000 has changed to 'x'"));
    EXPECT_TRUE(DebugListHas("Slot Change Unused Function - slot 1330 has changed to 'back'"));
    EXPECT_EQ(iInfodriverTx, 4);
    EXPECT_EQ(GetPanelText(2007), "00000004");
}

TEST_F(SlotChanges, EchoSlotWritesItsTextTo4095Always) {
    standin::PresetSlot(4095, "abc");
    standin::SetSlot(4094, "abc");
    EXPECT_EQ(WrittenSlots(), std::vector<unsigned>{4095});
    EXPECT_EQ(standin::SlotText(4095), "abc");
    standin::SetSlot(4090, "ignored");
    EXPECT_EQ(WrittenSlots(), std::vector<unsigned>{4095});
}

TEST_F(SlotChanges, ResetRequestEmptiesOnlyNonEmptySlotsUpTo1328) {
    standin::PresetSlot(1, "1");
    standin::PresetSlot(700, "x");
    standin::PresetSlot(1328, "y");
    standin::PresetSlot(1329, "kept");
    standin::PresetSlot(4091, "1");
    standin::SetSlot(4089, "go");
    EXPECT_EQ(WrittenSlots(), (std::vector<unsigned>{1, 700, 1328}));
    EXPECT_EQ(standin::ReadCount(), 1328);
    EXPECT_EQ(standin::SlotText(700), "");
    EXPECT_EQ(standin::SlotText(1329), "kept");
    EXPECT_EQ(standin::SlotText(4091), "1");
    EXPECT_EQ(standin::SlotText(4089), "go"); // not written back
    EXPECT_TRUE(DebugListHas("reset ID slots"));
}

// Published before the request, they would have been emptied by it; left pending, they would
// land on top of it.
TEST_F(SlotChanges, ValuesStillPendingWhenAResetComesAreEmptiedWithIt) {
    QueueSlot(5, "1");
    QueueSlot(700, "12");
    QueueSlot(1329, "kept");
    standin::SetSlot(4089, "go");
    std::map<int, std::string> left;
    int iSlot = 0;
    PendingText szText{};
    while (TakePending(iSlot, szText))
        left[iSlot] = szText.data();
    EXPECT_EQ(left, (std::map<int, std::string>{{5, ""}, {700, ""}, {1329, "kept"}}));
}

TEST_F(SlotChanges, OtherEventsOnlyAddTheirStatusToTheDebugList) {
    standin::SendToClients(2190, 12);
    standin::SendToClients(2179, 0);
    EXPECT_TRUE(DebugListHas("iStatus=2190"));
    EXPECT_TRUE(DebugListHas("iStatus=7"));
    EXPECT_FALSE(DebugListHas("Device ID in use"));
    EXPECT_TRUE(WrittenSlots().empty());
}

TEST_F(SlotChanges, DisconnectIsLoggedAndDestroysTheMainWindow) {
    char szLog[MAX_PATH];
    GetTempPathA(MAX_PATH, szLog);
    lstrcatA(szLog, "infodriver_disconnect_test.log");
    DeleteFileA(szLog);
    lstrcpynA(szLogPath, szLog, LOG_PATH_CHARS);
    iLogMode = 1;
    hMainWnd = CreateWindowExA(0, "STATIC", "main", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hMainWnd, nullptr);

    standin::SendToClients(2175, 0);
    iLogMode = 0;
    EXPECT_FALSE(IsWindow(hMainWnd));
    hMainWnd = nullptr;
    std::ifstream log(szLog);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find(" - Infodriver 41 disconnected"), std::string::npos) << text.str();
    EXPECT_FALSE(DebugListHas("Infodriver 41 disconnected"));
    log.close();
    DeleteFileA(szLog);
}
