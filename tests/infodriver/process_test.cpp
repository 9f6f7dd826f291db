// The client against standin.exe running as its own process, and against a hostile process.
#include "infodriver/callback.h"
#include "infodriver/client.h"
#include "tools/standin/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Event {
    int iStatus;
    int iValue;
    std::string sText;
};
std::vector<Event> Events;
void Record(InfodriverClient* pClient, int iValue, const char* pszText) {
    Events.push_back({pClient->iStatus, iValue, pszText});
}

class CrossProcess : public ::testing::Test {
  protected:
    static constexpr int NUMBER = 57;

    void SetUp() override {
        Events.clear();
        ASSERT_TRUE(standin.Start(STANDIN_EXE, std::to_string(NUMBER)));
        client = std::make_unique<InfodriverClient>(CLIENT_HEADER_VERSION);
        client->SetCallback(Record);
        ASSERT_EQ(client->Connect(NUMBER, nullptr, 0, 0, 0, 0), IDSTAT_CONNECTED);
    }
    void TearDown() override {
        client.reset();
        standin.Stop();
    }
    // The index of the first line starting with sPrefix, or -1.
    int LineIndex(const std::string& sPrefix) {
        auto lines = standin.Lines();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(sPrefix, 0) == 0)
                return static_cast<int>(i);
        return -1;
    }

    StandinProcess standin;
    std::unique_ptr<InfodriverClient> client;
};

} // namespace

TEST_F(CrossProcess, SearchFindsTheInfodriverAndAttaches) {
    EXPECT_NE(client->hInfodriver, nullptr);
    char szClass[64] = "";
    GetClassNameA(client->hInfodriver, szClass, sizeof szClass);
    EXPECT_STREQ(szClass, "InfodriverStandin");
    EXPECT_NE(standin.WaitFor("attach ", 2000), "");
    EXPECT_NE(standin.WaitFor("announce ", 2000), "");

    InfodriverClient other(CLIENT_HEADER_VERSION);
    EXPECT_EQ(other.Connect(NUMBER + 1, nullptr, 0, 0, 0, 0), IDSTAT_NO_WINDOW);
}

TEST_F(CrossProcess, SlotsAreWrittenAndReadAcrossProcesses) {
    EXPECT_TRUE(client->UpdateSlot(500, "hello %d", 7));
    EXPECT_FALSE(client->UpdateSlot(500, "hello 7"));
    char szRead[READ_REPLY_CHARS + 1];
    EXPECT_EQ(client->ReadSlot(500, szRead), 1);
    EXPECT_STREQ(szRead, "hello 7");
    EXPECT_NE(standin.WaitFor("write 500 2726 ", 2000).find(" hello 7"), std::string::npos);
    EXPECT_EQ(client->iWriteCount, 1);

    standin.Send("redundancy 5");
    standin.WaitFor("redundancy-set 5", 2000);
    EXPECT_EQ(client->GetRedundancyState(), 5);
    client->SetDriverState(3);
    EXPECT_NE(standin.WaitFor("driver-state 3", 2000), "");
}

TEST_F(CrossProcess, AChangeFromOutsideArrivesWhileIdle) {
    standin.Send("set 1400 from\\toutside");
    standin.WaitFor("sent 2728 ", 3000);
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_EQ(Events[0].iValue, 1400);
    EXPECT_EQ(Events[0].sText, "from\toutside");
    EXPECT_EQ(client->iChangeCount, 1);
}

TEST_F(CrossProcess, ANotificationDuringARequestIsHandledInsideIt) {
    iInfodriverTx = iInfodriverRx = 0;
    client->SetCounters(&iInfodriverTx, &iInfodriverRx);
    client->SetCallback(InfodriverCallback);
    standin.Send("defer 1500 nested");
    standin.Send("get 1500"); // once this is answered, the defer is armed
    standin.WaitFor("slot 1500", 2000);

    EXPECT_TRUE(client->UpdateSlot(600, "a"));
    // The stand-in's lines travel through a pipe: wait for the last one before looking at the order.
    ASSERT_NE(standin.WaitFor("write 600 2726 ", 3000), "");
    // The write-back of 1500 was made inside the read of 600, before its reply and the write.
    int iRead = LineIndex("read 600 ");
    int iBack = LineIndex("write 1500 2726 ");
    int iWrite = LineIndex("write 600 2726 ");
    ASSERT_GE(iRead, 0);
    EXPECT_LT(iRead, iBack);
    EXPECT_LT(iBack, iWrite);
    EXPECT_EQ(iInfodriverRx, 1);
    EXPECT_EQ(iInfodriverTx, 2);
    char szRead[READ_REPLY_CHARS + 1];
    client->ReadSlot(600, szRead);
    EXPECT_STREQ(szRead, "a");
}

TEST_F(CrossProcess, AHostileProcessCannotBreakTheClientReadItsMemoryOrRedirectIt) {
    // Memory of this process, named in posted 2728 and 2730: it must never reach a slot or pszText.
    static const char szPrivate[] = "private driver memory";
    char szArgs[64];
    std::snprintf(szArgs, sizeof szArgs, "%llx %llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(client->hWnd)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(szPrivate)));
    std::strcpy(client->pszText, "before");
    HWND hInfodriver = client->hInfodriver;

    EXPECT_EQ(RunPumping(HOSTILE_EXE, szArgs, 30000), 0u); // every send came back
    PumpFor(200);

    ASSERT_TRUE(IsWindow(client->hWnd));
    EXPECT_EQ(client->hInfodriver, hInfodriver);
    char szTitle[16] = "?";
    GetWindowTextA(client->hWnd, szTitle, sizeof szTitle);
    EXPECT_STREQ(szTitle, "");
    EXPECT_STREQ(client->pszText, ""); // a foreign pointer is not read
    EXPECT_EQ(LineIndex("detach"), -1);

    // The posted change may be handled before or after the sent ones.
    std::vector<std::pair<int, std::string>> changes;
    for (const auto& e : Events)
        changes.emplace_back(e.iValue, e.sText);
    std::sort(changes.begin(), changes.end());
    std::vector<std::pair<int, std::string>> expected = {
        {1500, ""}, {1501, ""},  {1502, std::string(512, 'U')}, {1503, "123"}, {1504, "GGGGGGGG"}, {1505, ""},
        {2000, ""}, {65535, "e"}};
    EXPECT_EQ(changes, expected);

    // Still connected to the stand-in, not to the hostile window, and exchanging.
    EXPECT_TRUE(client->UpdateSlot(700, "alive"));
    EXPECT_NE(standin.WaitFor("write 700 2726 ", 2000), "");
    char szRead[READ_REPLY_CHARS + 1];
    EXPECT_EQ(client->ReadSlot(700, szRead), 1);
    EXPECT_STREQ(szRead, "alive");
}

TEST_F(CrossProcess, TheInfodriverMayAnnounceANewWindowOfItsOwn) {
    HWND hFirst = client->hInfodriver;
    standin.Send("move");
    ASSERT_NE(standin.WaitFor("sent 2729 ", 3000), "");
    PumpFor(100);
    EXPECT_NE(client->hInfodriver, hFirst);
    char szClass[64] = "";
    GetClassNameA(client->hInfodriver, szClass, sizeof szClass);
    EXPECT_STREQ(szClass, "InfodriverStandin");
    EXPECT_TRUE(client->UpdateSlot(800, "moved"));
    EXPECT_NE(standin.WaitFor("write 800 2726 ", 2000), "");
}

TEST_F(CrossProcess, DestroyingTheClientDetachesIt) {
    standin.WaitFor("attach ", 2000);
    client.reset();
    EXPECT_NE(standin.WaitFor("detach 57", 2000), "");
    EXPECT_NE(standin.WaitFor("gone ", 2000), "");
}
