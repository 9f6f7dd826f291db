// The real driver under faults of what surrounds it: a line that goes silent and comes back, a
// flood of garbage at the line rate, a switcher that sends the extended set to a driver set for
// the plain one, an infodriver that is killed or says goodbye. The driver and
// the stand-in run as processes of their own; this process writes the device end of the rig's
// null-modem pair and looks at the driver from outside: its status panel, its log, what the
// stand-in received, and an in-memory decoding of the same bytes.
#include "protocol/commissioning_texts.h"
#include "tests/serial/rig.h"
#include "tests/support/decoded.h"
#include "tests/support/driver_run.h"
#include "tests/support/driver_site.h"
#include "tests/support/published_check.h"
#include "tests/support/random_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int NUMBER = 74;
constexpr int DRIVER_PORT = 5; // the rig's pair: the driver reads COM5, this process writes COM6
constexpr int DEVICE_PORT = 6;
constexpr int LAST_COMPARED_SLOT = 1999; // tallies, device values and names
constexpr int LINK_SLOT = 4091;
constexpr int LINK_CONTROL = 2001;
constexpr int RX_COUNT_CONTROL = 2008;
constexpr int REDUNDANCY_CONTROL = 2010;
constexpr int LINE_BYTES_PER_SECOND = 3840; // 38400 bit/s, 10 bits a character

devsim::Bytes Text(int iIndex, const std::string& sText) {
    std::string sError;
    return devsim::TextMessage(iIndex, sText, sError);
}

// Output 1, the programme bus: number k is a tally root while flag k is on.
devsim::Bytes Programme(const std::vector<int>& Numbers, const std::vector<int>& OnAir) {
    std::string sError;
    return devsim::OutputMessage(1, {Numbers, OnAir}, sError);
}

std::string Counter(int iValue) {
    char sz[16];
    std::snprintf(sz, sizeof sz, "%08d", iValue);
    return sz;
}

// How many lines from iFrom to before iTo start with sPrefix.
int LinesBetween(const std::vector<std::string>& Lines, const std::string& sPrefix, long iFrom, long iTo) {
    int n = 0;
    for (long i = iFrom; i < iTo && i < static_cast<long>(Lines.size()); ++i)
        n += Lines[static_cast<std::size_t>(i)].rfind(sPrefix, 0) == 0;
    return n;
}

class DriverFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        rig::DrainPair();
        ASSERT_TRUE(Site.Create("faults", NUMBER, DriverKeys(DRIVER_PORT, true)));
        std::string sError;
        ASSERT_TRUE(Run.Start(DRAVIK_EXE, STANDIN_EXE, NUMBER, sError)) << sError;
        devsim::LineSettings Settings;
        Settings.iPort = DEVICE_PORT;
        ASSERT_TRUE(Device.Open(Settings, sError)) << sError;
    }
    void TearDown() override {
        Run.Stop();
        Site.Remove();
    }

    void Send(const devsim::Bytes& Message) { ASSERT_TRUE(SendKept(Device, Message, Sent)); }

    // Everything sent reached its slot as the in-memory core decodes the same bytes.
    void ExpectPublishedAsDecoded() {
        std::string sReport;
        const std::size_t nMismatches =
            CheckPublished(Run.Standin, Device, Sent, LAST_COMPARED_SLOT, 15000, &sReport);
        EXPECT_EQ(nMismatches, 0u) << sReport;
        std::printf("%s\n", sReport.substr(sReport.rfind('\n') + 1).c_str());
    }

    DriverSite Site;
    DriverRun Run;
    devsim::Line Device;
    std::vector<unsigned char> Sent;
};

TEST_F(DriverFaults, ASilentLineFailsOnTheFifthTickAndTheNextMessageRestoresIt) {
    // The first message judges the link good.
    Send(Text(1, "CAM 1"));
    ASSERT_GE(WaitForWrite(Run.Standin, LINK_SLOT, "1", 5000), 0);
    EXPECT_TRUE(Run.WaitForPanel(LINK_CONTROL, "Comms OK", 2000));
    Send(Text(2, "CAM 2"));
    Send(Programme({1, 2}, {1}));
    Send(devsim::TallyTrigger());
    // The last command pair before the silence: its write marks the moment.
    Send(Text(7, "LAST WORD"));
    const long iLast = WaitForWrite(Run.Standin, 1207, "LAST WORD", 5000);
    ASSERT_GE(iLast, 0);
    const std::size_t nLogBefore = Site.LogText().size();

    const long iFail = WaitForWrite(Run.Standin, LINK_SLOT, "0", 9000, static_cast<std::size_t>(iLast));
    ASSERT_GE(iFail, 0) << "no failure declared";
    std::vector<std::string> Lines = Run.Standin.Lines();
    const std::vector<DWORD> Times = Run.Standin.LineTimes();
    // Every tick polls the redundancy state after its silence supervision: four quiet ticks, and
    // the fifth declares the failure before its poll.
    EXPECT_EQ(LinesBetween(Lines, "redundancy ", iLast, iFail), 4);
    const double dSeconds =
        (Times[static_cast<std::size_t>(iFail)] - Times[static_cast<std::size_t>(iLast)]) / 1000.0;
    std::printf("failure declared %.2f s after the last command pair\n", dSeconds);
    EXPECT_GE(dSeconds, 3.9);
    EXPECT_TRUE(Run.WaitForPanel(LINK_CONTROL, "Comms FAIL", 2000)) << Run.PanelText(LINK_CONTROL);
    EXPECT_EQ(CountOf(Site.LogText(), "COMMS FAIL", nLogBefore), 1);

    // Two more ticks (after the one that declared the failure) add nothing.
    for (const DWORD dwStart = GetTickCount();
         LinesBetween(Lines, "redundancy ", iFail, static_cast<long>(Lines.size())) < 3 &&
         GetTickCount() - dwStart < 5000;
         Lines = Run.Standin.Lines())
        PumpFor(200);
    EXPECT_EQ(FindLine(Lines, WritePrefix(LINK_SLOT), static_cast<std::size_t>(iFail) + 1), -1);
    EXPECT_EQ(CountOf(Site.LogText(), "COMMS FAIL", nLogBefore), 1);

    // The next message restores the link, and it and everything after it reach their slots.
    const std::size_t iBack = Run.Standin.LineCount();
    const std::size_t nLogAtReturn = Site.LogText().size();
    Send(Text(8, "FIRST WORD"));
    Send(Programme({3, 4}, {2}));
    Send(Text(3, "CAM 3"));
    Send(Text(4, "CAM 4"));
    Send(devsim::TallyTrigger());
    const long iRestored = WaitForWrite(Run.Standin, LINK_SLOT, "1", 5000, iBack);
    const long iFirst = WaitForWrite(Run.Standin, 1208, "FIRST WORD", 5000, iBack);
    EXPECT_GE(iRestored, 0);
    EXPECT_GE(iFirst, 0) << "the message that restored the link was not decoded";
    EXPECT_LT(iRestored, iFirst);
    EXPECT_GE(WaitForWrite(Run.Standin, 4, "1", 5000, iBack), 0) << "tally 4 not lit after the return";
    EXPECT_TRUE(Run.WaitForPanel(LINK_CONTROL, "Comms OK", 2000)) << Run.PanelText(LINK_CONTROL);
    EXPECT_EQ(CountOf(Site.LogText(), "Comms restored", nLogAtReturn), 1);
    ExpectPublishedAsDecoded();
}

TEST_F(DriverFaults, AGarbageFloodAtTheLineRateIsKeptUpWithAndTheMessagesBehindItDecoded) {
    constexpr int FLOOD_SECONDS = 6;
    // Tally 3 on air before the flood.
    Send(Text(3, "CAM 3"));
    Send(Programme({3}, {1}));
    Send(devsim::TallyTrigger());
    ASSERT_GE(WaitForWrite(Run.Standin, 3, "1", 5000), 0);
    const std::size_t iBefore = Run.Standin.LineCount();
    const std::size_t nLogBefore = Site.LogText().size();

    RandomStream Source(20240611, {}, 0);
    StreamBytes Flood;
    int iPairs = 0, iStray = 0;
    while (Flood.size() < static_cast<std::size_t>(FLOOD_SECONDS * LINE_BYTES_PER_SECOND)) {
        const StreamBytes Item = Source.Garbage();
        iPairs += Item.size() == 3 && Item[0] == Item[1];
        iStray += Item.size() == 2;
        Flood.insert(Flood.end(), Item.begin(), Item.end());
    }
    const DWORD dwFloodStart = GetTickCount();
    for (std::size_t i = 0; i < Flood.size(); i += 64)
        Send(StreamBytes(Flood.begin() + static_cast<long>(i),
                         Flood.begin() + static_cast<long>(std::min(Flood.size(), i + 64))));
    const DWORD dwFloodEnd = GetTickCount();
    std::printf("flood: %zu bytes in %.1f s, %d unrecognised pairs, %d stray high bytes\n", Flood.size(),
                (dwFloodEnd - dwFloodStart) / 1000.0, iPairs, iStray);

    // Behind it: a new name, a new programme source and a trigger.
    Send(Text(4, "CAM 4"));
    Send(Programme({4}, {1}));
    Send(devsim::TallyTrigger());
    const DWORD dwSent = GetTickCount();
    const long iLit = WaitForWrite(Run.Standin, 4, "1", 10000, iBefore);
    ASSERT_GE(iLit, 0) << "the trigger behind the flood was not resolved";
    const std::vector<std::string> Lines = Run.Standin.Lines();
    const std::vector<DWORD> Times = Run.Standin.LineTimes();
    const DWORD dwLatency = Times[static_cast<std::size_t>(iLit)] - dwSent;
    std::printf("tally behind the flood published %lu ms after the trigger was written\n", dwLatency);
    // Kept up: nothing of the flood was still waiting when the trigger came.
    EXPECT_LT(dwLatency, 1000u);
    EXPECT_GE(FindWrite(Lines, 3, "0", iBefore), 0);
    EXPECT_GE(FindWrite(Lines, 1204, "CAM 4", iBefore), 0);

    // The tick kept coming throughout: the redundancy poll of every tick, seen by the stand-in.
    std::vector<DWORD> Ticks;
    for (std::size_t i = 0; i < Lines.size(); ++i)
        if (Lines[i].rfind("redundancy ", 0) == 0)
            Ticks.push_back(Times[i]);
    // The gaps from the flood's start to its first tick, between its ticks, and from its last tick
    // to the flood's end.
    DWORD dwLongestGap = 0, dwPrevious = dwFloodStart;
    int iTicksInFlood = 0;
    for (DWORD dwTick : Ticks) {
        if (dwTick < dwFloodStart || dwTick > dwFloodEnd)
            continue;
        dwLongestGap = std::max<DWORD>(dwLongestGap, dwTick - dwPrevious);
        dwPrevious = dwTick;
        ++iTicksInFlood;
    }
    dwLongestGap = std::max<DWORD>(dwLongestGap, dwFloodEnd - dwPrevious);
    std::printf("%d ticks during the flood, longest gap %lu ms\n", iTicksInFlood, dwLongestGap);
    EXPECT_GE(iTicksInFlood, FLOOD_SECONDS - 1);
    EXPECT_LE(dwLongestGap, 2000u);

    const std::string sLog = Site.LogText();
    EXPECT_EQ(CountOf(sLog, "Receive queue", nLogBefore), 0) << sLog.substr(nLogBefore);
    EXPECT_EQ(CountOf(sLog, "iWrtPtr too big", nLogBefore), 0) << sLog.substr(nLogBefore);
    EXPECT_EQ(CountOf(sLog, "COMMS FAIL", nLogBefore), 0) << sLog.substr(nLogBefore);
    ExpectPublishedAsDecoded();
}

TEST_F(DriverFaults, TheExtendedSetIntoADriverWithExtensionsClearNamesTheSettingToChange) {
    // This site's Extensions is 0; the switcher mixes ME 1 between its sources, a block message, a
    // short message and a trigger for every step, all in their extended forms.
    Send(Text(3, "CAM 3"));
    Send(Programme({93}, {1}));
    std::string sError;
    for (int iStep = 0; iStep < 40; ++iStep) {
        Send(devsim::BlockMessage(1, {{0, 0, 0, 0, 0, 0, 0, 0, 3, 4}, {9 + iStep % 2}}, true, sError));
        Send(devsim::ShortMessage({{1, 0}, {1 + iStep % 2}}, true, sError));
        Send(devsim::TallyTrigger());
    }
    ASSERT_TRUE(sError.empty()) << sError;
    for (const DWORD dwStart = GetTickCount(); CountOf(Site.LogText(), SENDS_EXTENDED_TEXT) == 0;)
        if (GetTickCount() - dwStart > 10000)
            break;
        else
            Sleep(50);
    const std::string sLog = Site.LogText();
    EXPECT_EQ(CountOf(sLog, SENDS_EXTENDED_TEXT), 1) << sLog;
    const std::vector<std::string> Lines = Run.DebugList();
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(), SENDS_EXTENDED_TEXT), 1);
}

TEST_F(DriverFaults, AKilledInfodriverIsShownUnknownAndTheDriverRunsOnFramingWhatComes) {
    Send(Text(1, "CAM 1"));
    ASSERT_GE(WaitForWrite(Run.Standin, 1201, "CAM 1", 5000), 0);
    // The first tick has shown the infodriver's state.
    ASSERT_TRUE(Run.WaitForPanel(REDUNDANCY_CONTROL, "TX/RX", 3000)) << Run.PanelText(REDUNDANCY_CONTROL);
    const std::size_t nLogBefore = Site.LogText().size();

    // No goodbye: the stand-in's process is ended from outside.
    const HWND hStandin = FindWindowA("InfodriverStandin", ("Infodriver " + std::to_string(NUMBER)).c_str());
    ASSERT_NE(hStandin, nullptr);
    DWORD dwStandin = 0;
    GetWindowThreadProcessId(hStandin, &dwStandin);
    const HANDLE hProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwStandin);
    ASSERT_NE(hProcess, nullptr);
    ASSERT_TRUE(TerminateProcess(hProcess, 9));
    EXPECT_EQ(WaitForSingleObject(hProcess, 5000), WAIT_OBJECT_0);
    CloseHandle(hProcess);

    // The next tick's poll finds nobody.
    EXPECT_TRUE(Run.WaitForPanel(REDUNDANCY_CONTROL, "????", 3000)) << Run.PanelText(REDUNDANCY_CONTROL);
    const std::string sLost = "ID " + std::to_string(NUMBER) + " returned status 0";
    for (DWORD dwStart = GetTickCount(); CountOf(Site.LogText(), sLost, nLogBefore) == 0;)
        if (GetTickCount() - dwStart > 3000)
            break;
        else
            Sleep(50);
    EXPECT_EQ(CountOf(Site.LogText(), sLost, nLogBefore), 1);
    EXPECT_TRUE(Run.Answers(5000));

    // The device's bytes are still framed, though nothing can be published.
    const int iFramed = std::atoi(Run.PanelText(RX_COUNT_CONTROL).c_str());
    constexpr int MESSAGES = 30;
    for (int i = 0; i < MESSAGES; ++i)
        Send(i % 3 == 0   ? Programme({1 + i % 4}, {1})
             : i % 3 == 1 ? Text(i % 8, "NOBODY")
                          : devsim::TallyTrigger());
    EXPECT_TRUE(Run.WaitForPanel(RX_COUNT_CONTROL, Counter(iFramed + MESSAGES), 5000))
        << Run.PanelText(RX_COUNT_CONTROL) << ", expected " << iFramed + MESSAGES;

    // Later ticks add nothing, and the driver still answers.
    Sleep(2500);
    EXPECT_EQ(CountOf(Site.LogText(), sLost, nLogBefore), 1);
    EXPECT_EQ(Run.PanelText(REDUNDANCY_CONTROL), "????");
    EXPECT_TRUE(Run.Driver.Running());
    EXPECT_TRUE(Run.Answers(5000));
}

TEST_F(DriverFaults, TheInfodriversGoodbyeEndsTheDriverWithZero) {
    Send(Text(1, "CAM 1"));
    ASSERT_GE(WaitForWrite(Run.Standin, 1201, "CAM 1", 5000), 0);
    Run.Standin.Send("send 2175");
    EXPECT_EQ(Run.Driver.Wait(10000), 0u);
    const std::string sLog = Site.LogText();
    const std::size_t iGone = sLog.find("Infodriver " + std::to_string(NUMBER) + " disconnected");
    ASSERT_NE(iGone, std::string::npos) << sLog;
    EXPECT_NE(sLog.find("Driver closing", iGone), std::string::npos) << sLog;
}

} // namespace
