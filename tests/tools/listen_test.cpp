// The receive road tool (COM port, reader thread, protocol core, real client) as its own process,
// against the stand-in process and a null-modem pair.
#include "tests/serial/rig.h"
#include "tests/support/child.h"
#include "tests/support/paced.h"
#include "tools/standin/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

constexpr int NUMBER = 61;

// Block message 1 whose every field changes from one message to the next: about a hundred slot
// exchanges each, far more than the infodriver link can carry at the line rate.
std::vector<BYTE> ChangingBlocks(int nMessages) {
    std::vector<BYTE> stream;
    for (int i = 0; i < nMessages; ++i) {
        stream.push_back(0x81);
        stream.push_back(0x81);
        for (int o = 2; o < 25; ++o)
            stream.push_back(static_cast<BYTE>(i % 2 ? 0x55 : 0x2A));
    }
    return stream;
}

class ListenRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        rig::DrainPair();
        ASSERT_TRUE(standin.Start(STANDIN_EXE, "-q " + std::to_string(NUMBER)));
        ASSERT_TRUE(listen.Start(LISTEN_EXE, std::to_string(NUMBER) + " " +
                                                 std::to_string(rig::DriverPort()) + " 38400"));
        hListen = listen.WaitForWindow("DravikListen", 15000);
        ASSERT_NE(hListen, nullptr);
        ASSERT_NE(standin.WaitFor("attach ", 5000), "");
    }
    void TearDown() override {
        listen.Kill();
        standin.Stop();
    }
    std::string Slot(int iSlot) {
        const std::size_t iFrom = standin.LineCount();
        standin.Send("get " + std::to_string(iSlot));
        return standin.WaitFor("slot " + std::to_string(iSlot) + " ", 3000, iFrom);
    }

    StandinProcess standin;
    ChildProcess listen;
    HWND hListen = nullptr;
};

} // namespace

TEST_F(ListenRoad, ADeviceFasterThanPublishingStarvesNeitherTheTickNorAStop) {
    rig::Peer Peer(38400);
    const std::vector<BYTE> stream = ChangingBlocks(900); // 6 s at 38400 bit/s
    const DWORD dwStart = GetTickCount();
    WriteAtLineRate(Peer, stream, 38400);
    Sleep(2000); // the backlog keeps the road busy long after the line falls quiet

    // Every tick polls the redundancy state, which the stand-in answers with a line.
    std::vector<DWORD> ticks;
    const std::vector<std::string> lines = standin.Lines();
    const std::vector<DWORD> times = standin.LineTimes();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("redundancy ", 0) == 0 && times[i] >= dwStart)
            ticks.push_back(times[i]);
    ASSERT_GE(ticks.size(), 6u);
    DWORD dwWorstGap = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        dwWorstGap = std::max(dwWorstGap, ticks[i] - ticks[i - 1]);
    std::printf("ticks %zu worst gap %lu ms\n", ticks.size(), static_cast<unsigned long>(dwWorstGap));
    EXPECT_LE(dwWorstGap, 1700u) << ticks.size() << " ticks in " << GetTickCount() - dwStart << " ms";

    // Still loaded with the backlog: a close is honoured within about a second.
    const DWORD dwClose = GetTickCount();
    PostMessageA(hListen, WM_CLOSE, 0, 0);
    EXPECT_EQ(listen.Wait(5000), 0u);
    std::printf("close took %lu ms\n", static_cast<unsigned long>(GetTickCount() - dwClose));
    EXPECT_LE(GetTickCount() - dwClose, 1500u);
}

TEST_F(ListenRoad, ANotificationPostedByAnotherProcessIsIgnored) {
    // A port object at an address of the poster's choosing: read as one, it crashed the road.
    for (LPARAM lForeign :
         {static_cast<LPARAM>(0x4141414141), static_cast<LPARAM>(0), static_cast<LPARAM>(8)})
        for (WPARAM wParam : {0, 1})
            PostMessageA(hListen, WM_COMMNOTIFY, wParam, lForeign);
    Sleep(500);
    ASSERT_TRUE(listen.Running());

    // The road still works: an output message reaches its slot.
    rig::Peer Peer(38400);
    const std::vector<BYTE> output = {0xB1, 0xB1, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Peer.Write(output);
    std::string sSlot;
    for (int i = 0; i < 30 && sSlot != "slot 331 42"; ++i)
        sSlot = Slot(331);
    EXPECT_EQ(sSlot, "slot 331 42");
}
