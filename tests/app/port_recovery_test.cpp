// The device port comes back by itself. The real driver reads one end of a null-modem pair of this
// test's own, which the test takes away (its socat ends, the pseudo-terminals go) and makes again
// while the driver runs, or makes only after the driver has started; the driver has to notice,
// stay quiet on the processor, report each change once, and take up the line again.
#include "tests/support/decoded.h"
#include "tests/support/driver_run.h"
#include "tests/support/driver_site.h"
#include "tests/support/linux_command.h"
#include "tests/support/published_check.h"
#include "tests/support/random_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int NUMBER = 75;
constexpr int DRIVER_PORT = 9; // a pair of this test's own: the rig's COM5 and COM6 stay as they are
constexpr int DEVICE_PORT = 10;
constexpr int LAST_COMPARED_SLOT = 1999;
constexpr int LINK_SLOT = 4091;
constexpr int LINK_CONTROL = 2001;
constexpr DWORD RETRY_MS = 5000; // the port watch tries every 5 ticks

const std::string sPort = std::to_string(DRIVER_PORT);
const std::string sRemoved = "Serial port " + sPort + " removed";
const std::string sBack = "Serial port " + sPort + " is back";

std::string Pair(const char* pszVerb) {
    std::string sCommand = std::string("bash '") + NULLMODEM_SH + "' " + pszVerb + " -p '" + WINE_PREFIX_DIR +
                           "' -d '" + RECOVERY_RIG_DIR + "'";
    if (std::string(pszVerb) == "up")
        sCommand += " " + sPort + " " + std::to_string(DEVICE_PORT);
    std::string sOutput;
    const int iStatus = RunLinuxCommand(sCommand, 20000, &sOutput);
    return iStatus == 0 ? ""
                        : "nullmodem.sh " + std::string(pszVerb) + " ended with " + std::to_string(iStatus) +
                              ": " + sOutput;
}

class PortRecovery : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Show steps once; the pair of an earlier run that was cut short goes.
        std::string sError;
        Steps = ScenarioSteps(DEVSIM_SHOW, sError);
        ASSERT_FALSE(Steps.empty()) << sError;
        ASSERT_EQ(Pair("down"), "");
    }
    void TearDown() override {
        Device.reset();
        Run.Stop();
        Site.Remove();
        EXPECT_EQ(Pair("down"), "");
    }

    void StartDriver() {
        ASSERT_TRUE(Site.Create("recovery", NUMBER, DriverKeys(DRIVER_PORT, true)));
        std::string sError;
        ASSERT_TRUE(Run.Start(DRAVIK_EXE, STANDIN_EXE, NUMBER, sError)) << sError;
    }
    void OpenDevice() {
        devsim::LineSettings Settings;
        Settings.iPort = DEVICE_PORT;
        std::string sError;
        Device = std::make_unique<devsim::Line>();
        ASSERT_TRUE(Device->Open(Settings, sError)) << sError;
    }
    // Waits up to dwMs for sLine to be logged after byte nFrom of the log; the milliseconds it
    // took, or -1.
    long WaitForLog(const std::string& sLine, std::size_t nFrom, DWORD dwMs) {
        for (const DWORD dwStart = GetTickCount();; Sleep(50)) {
            if (CountOf(Site.LogText(), sLine, nFrom) > 0)
                return static_cast<long>(GetTickCount() - dwStart);
            if (GetTickCount() - dwStart >= dwMs)
                return -1;
        }
    }
    // Everything sent reached its slot as the in-memory core decodes the same bytes.
    void ExpectPublishedAsDecoded() {
        std::string sReport;
        const std::size_t nMismatches =
            CheckPublished(Run.Standin, *Device, Sent, LAST_COMPARED_SLOT, 15000, &sReport);
        EXPECT_EQ(nMismatches, 0u) << sReport;
    }

    static std::vector<devsim::Step> Steps;
    DriverSite Site;
    DriverRun Run;
    std::unique_ptr<devsim::Line> Device;
    std::vector<unsigned char> Sent;
};

std::vector<devsim::Step> PortRecovery::Steps;

TEST_F(PortRecovery, AVanishedPortIsClosedWithoutSpinningAndTakenUpAgainWhenItReturns) {
    ASSERT_EQ(Pair("up"), "");
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    ASSERT_NO_FATAL_FAILURE(OpenDevice());
    ASSERT_NE(Site.LogText().find("Open serial port " + sPort + " success"), std::string::npos);

    // Before: a randomised stream of every kind of message, so that the show played after the
    // return has something to change.
    RandomStream Before(7, {2, 2, 4, 12, 40, 4, 8, 2}, 50);
    StreamBytes Bytes;
    while (Bytes.size() < 3000) {
        const StreamBytes Item = Before.Next();
        Bytes.insert(Bytes.end(), Item.begin(), Item.end());
    }
    ASSERT_TRUE(SendKept(*Device, Bytes, Sent));
    ExpectPublishedAsDecoded();
    const Decoding BeforeGone = DecodeInMemory(Sent, 1, LAST_COMPARED_SLOT);

    // The pair goes: its socat ends and both pseudo-terminals with it.
    Device.reset();
    const std::size_t nLogBefore = Site.LogText().size();
    const std::size_t iGone = Run.Standin.LineCount();
    const double dCpuBefore = Run.Driver.CpuMs();
    ASSERT_GE(dCpuBefore, 0) << "the driver's processor time cannot be read";
    const DWORD dwGone = GetTickCount();
    ASSERT_EQ(Pair("down"), "");
    // Long enough for the failure, the close and two attempts to open the port again.
    while (GetTickCount() - dwGone < 2 * RETRY_MS + 1000)
        PumpFor(100);
    const double dCpuMs = Run.Driver.CpuMs() - dCpuBefore;
    const DWORD dwWindow = GetTickCount() - dwGone;
    std::printf("driver without its port: %.0f ms of processor time in %lu ms (%.1f%%)\n", dCpuMs, dwWindow,
                100.0 * dCpuMs / dwWindow);
    EXPECT_LT(dCpuMs, 0.05 * dwWindow) << "the driver spins while its port is gone";
    const std::string sLogGone = Site.LogText();
    EXPECT_EQ(CountOf(sLogGone, sRemoved, nLogBefore), 1) << sLogGone.substr(nLogBefore);
    EXPECT_EQ(CountOf(sLogGone, "COMMS FAIL", nLogBefore), 1) << sLogGone.substr(nLogBefore);
    EXPECT_EQ(CountOf(sLogGone, sBack, nLogBefore), 0) << sLogGone.substr(nLogBefore);
    EXPECT_EQ(Run.PanelText(LINK_CONTROL), "Comms FAIL");
    EXPECT_GE(FindWrite(Run.Standin.Lines(), LINK_SLOT, "0", iGone), 0);
    EXPECT_TRUE(Run.Answers(5000));

    // The pair again, with the same ports: the driver opens its port by itself, once.
    ASSERT_EQ(Pair("up"), "");
    const long lOpenedMs = WaitForLog(sBack, nLogBefore, RETRY_MS + 3000);
    ASSERT_GE(lOpenedMs, 0) << Site.LogText().substr(nLogBefore);
    std::printf("port open again %ld ms after the pair was made\n", lOpenedMs);
    EXPECT_LE(lOpenedMs, static_cast<long>(RETRY_MS + 1000));

    // The show again: slots and tallies follow it.
    ASSERT_NO_FATAL_FAILURE(OpenDevice());
    ASSERT_TRUE(PlaySteps(*Device, Steps, 40, Sent));
    std::size_t nChanged = 0;
    SlotDifferences(BeforeGone.Slots, DecodeInMemory(Sent, 1, LAST_COMPARED_SLOT).Slots, 0, &nChanged);
    std::printf("%zu slots changed by the show after the return\n", nChanged);
    EXPECT_GE(nChanged, 20u);
    ExpectPublishedAsDecoded();
    EXPECT_TRUE(Run.WaitForPanel(LINK_CONTROL, "Comms OK", 2000));

    // Each change was reported once, not once per attempt.
    const std::string sLog = Site.LogText();
    EXPECT_EQ(CountOf(sLog, sRemoved), 1) << sLog;
    EXPECT_EQ(CountOf(sLog, sBack), 1) << sLog;
}

TEST_F(PortRecovery, APortMissingAtStartIsOpenedWithinARetryOfAppearing) {
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    const std::size_t nLogStart = Site.LogText().size();
    EXPECT_NE(Site.LogText().find("Serial port " + sPort + " is not available"), std::string::npos)
        << Site.LogText();
    // Attempts without a port come and go without a word.
    for (const DWORD dwStart = GetTickCount(); CountOf(Site.LogText(), "COMMS FAIL") == 0;)
        if (GetTickCount() - dwStart > 2 * RETRY_MS)
            break;
        else
            PumpFor(100);
    EXPECT_EQ(CountOf(Site.LogText(), "Serial port " + sPort), 1) << Site.LogText();

    ASSERT_EQ(Pair("up"), "");
    const long lOpenedMs = WaitForLog(sBack, nLogStart, RETRY_MS + 3000);
    ASSERT_GE(lOpenedMs, 0) << Site.LogText();
    std::printf("port opened %ld ms after the pair was made\n", lOpenedMs);
    EXPECT_LE(lOpenedMs, static_cast<long>(RETRY_MS + 1000));

    ASSERT_NO_FATAL_FAILURE(OpenDevice());
    const std::size_t iFrom = Run.Standin.LineCount();
    ASSERT_TRUE(PlaySteps(*Device, Steps, 40, Sent));
    EXPECT_GE(WaitForWrite(Run.Standin, LINK_SLOT, "1", 5000, iFrom), 0);
    ExpectPublishedAsDecoded();
    EXPECT_EQ(CountOf(Site.LogText(), sBack), 1) << Site.LogText();
}

} // namespace
