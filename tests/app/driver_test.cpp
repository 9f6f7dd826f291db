// The driver end to end: dravik.exe, standin.exe and the device simulator as processes of their
// own, the device's bytes over the null-modem pair, the driver's window and status panel read
// from outside, its settings and log files in a control-system tree of the test's own.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/state.h"
#include "tests/serial/rig.h"
#include "tests/support/child.h"
#include "tests/support/dialogs.h"
#include "tests/support/exception_watch.h"
#include "tests/support/process_usage.h"
#include "tests/support/process_window.h"
#include "tests/support/published_check.h"
#include "tests/support/random_stream.h"
#include "tests/support/standin_view.h"
#include "tools/devsim/messages.h"
#include "tools/devsim/recording.h"
#include "tools/devsim/scenario.h"
#include "tools/memhost/memhost.h"
#include "tools/standin/events.h"
#include "tools/standin/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Device numbers, distinct from every other test's infodrivers.
constexpr int RUNNING = 71; // shared by the cases that leave the driver running
constexpr int SHOW = 72;
constexpr int DISCONNECTED = 73;
constexpr int SINGLE = 74;
constexpr int LEFT = 75;  // on the first pair
constexpr int RIGHT = 76; // on the second pair
constexpr int MODAL = 77;
constexpr int SESSION = 78;
constexpr int REPLAYED = 79;
constexpr int FLAT_OUT = 80;
constexpr int RESET_UNDER_LINE = 81;
constexpr int SESSION_STALLED = 82;
constexpr int GUARDED = 83;  // its mutex held by a driver at another privilege level
constexpr int UNLOADED = 84; // started beside a control library that does not load

constexpr DWORD START_FAILED = 0xFFFFFFFF; // exit code -1
constexpr int STATUS_CONTROL = 2001;
constexpr int PORT_CONTROL = 2005;
constexpr int SERIAL_RX_CONTROL = 2008;
constexpr int REDUNDANCY_CONTROL = 2010;
constexpr int FIRST_TALLY_CONTROL = 1005; // + n
constexpr int LINK_SLOT = 4091;
constexpr int ABOUT_VERSION_CONTROL = 1000;
constexpr WPARAM ABOUT_COMMAND = 104;
constexpr WPARAM EXIT_COMMAND = 105;
constexpr WPARAM RECORD_COMMAND = 32777; // Debug, Record line
constexpr WPARAM DEBUG_ON_COMMAND = 32773;
constexpr WPARAM DEBUG_HIDE_COMMAND = 32775;
constexpr WPARAM LOG_ENABLE_COMMAND = 32776;

using Bytes = std::vector<BYTE>;

std::string Text(const char* pszFormat, int iValue) {
    char szText[128];
    std::snprintf(szText, sizeof szText, pszFormat, iValue);
    return szText;
}

// Output message 1 naming source iSource as number 1, its flag on: a tally root.
Bytes OutputWithRoot(int iSource) {
    return {0xB1, 0xB1, static_cast<BYTE>(iSource), 0, 0, 0x01, 0, 0, 0, 0, 0, 0};
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Polls bDone every 20 ms for up to dwMs; its last value.
template <typename Condition>
bool WaitUntil(Condition bDone, DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        if (bDone())
            return true;
        if (GetTickCount() - dwStart >= dwMs)
            return false;
        PumpFor(20);
    }
}

// The control system's tree that the drivers find through CC_ROOT and CC_SYSTEM, which they
// inherit from the test: a settings file per device, the log files beside them.
class DriverTree {
  public:
    DriverTree() {
        static int iTrees = 0;
        char szTemp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, szTemp);
        sRoot = std::string(szTemp) + "dravik_driver_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++iTrees);
        std::filesystem::create_directories(sRoot + "\\sys\\config\\system");
        std::filesystem::create_directories(sRoot + "\\sys\\logs");
        SetEnvironmentVariableA("CC_ROOT", sRoot.c_str());
        SetEnvironmentVariableA("CC_SYSTEM", "sys");
    }
    ~DriverTree() {
        SetEnvironmentVariableA("CC_ROOT", nullptr);
        SetEnvironmentVariableA("CC_SYSTEM", nullptr);
        std::error_code error;
        std::filesystem::remove_all(sRoot, error);
    }
    DriverTree(const DriverTree&) = delete;
    DriverTree& operator=(const DriverTree&) = delete;

    void WriteSettings(int iDevice, int iPort) const {
        std::ofstream(sRoot + Text("\\sys\\config\\system\\DEV_%03d.ini", iDevice), std::ios::binary)
            << "[Dravik]\r\nPort=" << iPort << "\r\nSpeed=38400\r\nLogMode=1\r\n";
    }
    int Setting(int iDevice, const char* pszKey) const {
        return static_cast<int>(GetPrivateProfileIntA(
            "Dravik", pszKey, -1, (sRoot + Text("\\sys\\config\\system\\DEV_%03d.ini", iDevice)).c_str()));
    }
    std::string Log(int iDevice) const {
        std::ifstream file(sRoot + Text("\\sys\\logs\\Dravik_%03d.log", iDevice), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

  private:
    std::string sRoot;
};

// A log's texts, without their time stamps, in order.
std::vector<std::string> LogTexts(const std::string& sLog) {
    std::vector<std::string> texts;
    std::istringstream in(sLog);
    std::string sLine;
    while (std::getline(in, sLine)) {
        while (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        const std::size_t iText = sLine.find(" - ");
        if (iText != std::string::npos)
            texts.push_back(sLine.substr(iText + 3));
    }
    return texts;
}

// The file a log names after its last "Recording the line to ", or "".
std::string RecordingPath(const std::string& sLog) {
    const std::string sStart = "Recording the line to ";
    const std::vector<std::string> texts = LogTexts(sLog);
    for (auto it = texts.rbegin(); it != texts.rend(); ++it)
        if (it->rfind(sStart, 0) == 0)
            return it->substr(sStart.size());
    return "";
}

// The recording, read as devsim reads it, once the driver's log calls it complete.
devsim::Recording CompletedRecording(const DriverTree& Tree, int iDevice, const std::string& sPath) {
    devsim::Recording Recorded;
    if (!WaitUntil([&] { return Tree.Log(iDevice).find("Line recording complete: " + sPath) != std::string::npos; },
                   5000)) {
        ADD_FAILURE() << "the recording was not completed: " << Tree.Log(iDevice);
        return Recorded;
    }
    std::ifstream in(sPath, std::ios::binary);
    const std::string sFile((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string sError;
    EXPECT_TRUE(devsim::ParseRecording(sFile, Recorded, sError)) << sError;
    EXPECT_TRUE(Recorded.bComplete);
    EXPECT_EQ(Recorded.iLostBytes, 0);
    return Recorded;
}

Bytes RecordedBytes(const devsim::Recording& Recorded) {
    Bytes bytes;
    for (const devsim::RecordedChunk& chunk : Recorded.Chunks)
        bytes.insert(bytes.end(), chunk.Data.begin(), chunk.Data.end());
    return bytes;
}

// One driver process, its main window and its status panel.
class DriverProcess {
  public:
    bool Start(const std::string& sArguments) {
        if (!process.Start(DRAVIK_EXE, sArguments))
            return false;
        hMain = process.WaitForWindow("CLASS_Dravik", 15000);
        // The window is listed while its creation is still setting up the port; it is shown
        // only once the start-up is complete.
        if (hMain == nullptr || !WaitUntil([this] { return IsWindowVisible(hMain) != FALSE; }, 15000))
            return false;
        hPanel = FindWindowExA(hMain, nullptr, "#32770", nullptr);
        return hPanel != nullptr;
    }
    // Ends it as the operator would (the window's Close); killed if that does not end it.
    void Close() {
        if (process.Running() && hMain != nullptr)
            PostMessageA(hMain, WM_CLOSE, 0, 0);
        if (process.Wait(5000) == STILL_ACTIVE)
            process.Kill();
    }
    // Restores the window, which starts minimised.
    bool Restore() const {
        PostMessageA(hMain, WM_SYSCOMMAND, SC_RESTORE, 0);
        return WaitUntil([this] { return !IsIconic(hMain); }, 3000);
    }
    // A menu command, as the operator gives it.
    void Command(WPARAM iCommand) const { PostMessageA(hMain, WM_COMMAND, iCommand, 0); }
    std::string Panel(int iControl) const { return DialogItemText(hPanel, iControl); }
    std::string Title() const { return WindowText(hMain); }
    bool WaitForPanel(int iControl, const std::string& sText, DWORD dwMs) const {
        return WaitUntil([&] { return Panel(iControl) == sText; }, dwMs);
    }

    ChildProcess process;
    HWND hMain = nullptr;
    HWND hPanel = nullptr;
};

// "slot <n> <text>" as the stand-in reports it; the text escaped.
std::string SlotLine(int iSlot, const std::string& sText) {
    return "slot " + std::to_string(iSlot) + " " + standin::Escaped(sText);
}

std::string Slot(StandinProcess& Standin, int iSlot) {
    const std::size_t iFrom = Standin.LineCount();
    Standin.Send("get " + std::to_string(iSlot));
    return Standin.WaitFor("slot " + std::to_string(iSlot) + " ", 3000, iFrom);
}

bool WaitForSlot(StandinProcess& Standin, int iSlot, const std::string& sText, DWORD dwMs) {
    return WaitUntil([&] { return Slot(Standin, iSlot) == SlotLine(iSlot, sText); }, dwMs);
}

// A stand-in and a driver for one device on one pair, up and attached.
struct DriverRig {
    bool Start(const DriverTree& Tree, int iDevice, int iDriverPort, int iPeerPort) {
        rig::DrainPair(iDriverPort, iPeerPort);
        Tree.WriteSettings(iDevice, iDriverPort);
        return Standin.Start(STANDIN_EXE, std::to_string(iDevice)) && Driver.Start(std::to_string(iDevice)) &&
               !Standin.WaitFor("attach ", 5000).empty();
    }
    void Stop() {
        Driver.Close();
        Standin.Stop();
    }
    StandinProcess Standin;
    DriverProcess Driver;
};

// One driver and stand-in for the cases that leave it running, started once.
class DriverRunning : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        pTree = std::make_unique<DriverTree>();
        pRig = std::make_unique<DriverRig>();
        bStarted = pRig->Start(*pTree, RUNNING, rig::DriverPort(), rig::PeerPort());
    }
    static void TearDownTestSuite() {
        pRig->Stop();
        pRig.reset();
        pTree.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(bStarted);
        ASSERT_TRUE(Driver().process.Running());
    }

    static DriverProcess& Driver() { return pRig->Driver; }
    static StandinProcess& Standin() { return pRig->Standin; }
    static std::string Log() { return pTree->Log(RUNNING); }

    // A busy line of output messages, from the start until the end of the test.
    void StartLine() {
        LineThread = std::thread([this] {
            rig::Peer Peer(38400);
            for (int i = 0; !bLineStop; ++i) {
                Peer.Write(OutputWithRoot(10 + i % 90));
                Sleep(20);
            }
        });
    }
    void TearDown() override {
        bLineStop = true;
        if (LineThread.joinable())
            LineThread.join();
    }
    // The line is read (the Rx counter moves) and the tick goes on (two polls of the infodriver).
    static bool KeepsGoing() {
        const std::string sCount = Driver().Panel(SERIAL_RX_CONTROL);
        const std::size_t iFrom = Standin().LineCount();
        const bool bRead = WaitUntil([&] { return Driver().Panel(SERIAL_RX_CONTROL) != sCount; }, 3000);
        const bool bTicked = WaitUntil(
            [&] {
                const std::vector<std::string> lines = Standin().Lines();
                return std::count_if(lines.begin() + static_cast<long>(iFrom), lines.end(),
                                     [](const std::string& l) { return l.rfind("redundancy ", 0) == 0; }) >=
                       2;
            },
            5000);
        return bRead && bTicked;
    }
    // Escape until the thread's menu loop has ended.
    static void CloseMenu(DWORD dwThread) {
        for (int i = 0; i < 3 && !WaitForGuiFlags(dwThread, GUI_INMENUMODE, false, 500); ++i)
            PostMessageA(Driver().hMain, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    }

    std::thread LineThread;
    std::atomic<bool> bLineStop{false};

    static inline std::unique_ptr<DriverTree> pTree;
    static inline std::unique_ptr<DriverRig> pRig;
    static inline bool bStarted = false;
};

} // namespace

TEST_F(DriverRunning, SilenceFailsTheLinkOnTheFifthTickAndTheNextMessageRestoresIt) {
    rig::Peer Peer(38400);
    Peer.Write(OutputWithRoot(3));
    ASSERT_TRUE(Driver().WaitForPanel(STATUS_CONTROL, "Comms OK", 3000)) << Driver().Panel(STATUS_CONTROL);
    // The panel answers while the driver reports its state to the infodriver, before the link slot
    // is published.
    EXPECT_TRUE(WaitForSlot(Standin(), 4091, "1", 3000)) << Slot(Standin(), 4091);

    // Every tick polls the redundancy state, and the stand-in reports each poll: the last byte is
    // sent mid-way between two ticks, so that each tick is plainly before or after it.
    ASSERT_NE(Standin().WaitFor("redundancy ", 3000, Standin().LineCount()), "");
    PumpFor(400);
    const std::size_t iFrom = Standin().LineCount();
    const DWORD dwLastByte = GetTickCount();
    Peer.Write(OutputWithRoot(3));

    ASSERT_TRUE(Driver().WaitForPanel(STATUS_CONTROL, "Comms FAIL", 9000));
    std::printf("link failed %lu ms after the last byte\n",
                static_cast<unsigned long>(GetTickCount() - dwLastByte));
    // The panel shows the failure as it is declared; its slot follows at once.
    ASSERT_GE(WaitForWrite(Standin(), 4091, "0", 3000, iFrom), 0);
    // From the driver's reading of the message's last field to the failure's write of 4091.
    const std::vector<std::string> lines = Standin().Lines();
    std::size_t iFail = iFrom;
    while (iFail < lines.size() && lines[iFail].rfind("write 4091 ", 0) != 0)
        ++iFail;
    ASSERT_LT(iFail, lines.size());
    std::size_t iTaken = iFrom;
    for (std::size_t i = iFrom; i < iFail; ++i)
        if (lines[i].rfind("read 344 ", 0) == 0)
            iTaken = i;
    ASSERT_GT(iTaken, iFrom);
    int iQuietTicks = 0;
    for (std::size_t i = iTaken; i < iFail; ++i)
        if (lines[i].rfind("redundancy ", 0) == 0)
            ++iQuietTicks;
    EXPECT_EQ(iQuietTicks, 4); // the fifth tick declares the failure, before its poll
    EXPECT_EQ(WritesOf(Standin(), 4091, 0).back(), "0");
    EXPECT_EQ(Slot(Standin(), 4091), SlotLine(4091, "0"));

    Peer.Write(OutputWithRoot(3));
    EXPECT_TRUE(Driver().WaitForPanel(STATUS_CONTROL, "Comms OK", 3000));
    EXPECT_TRUE(WaitForSlot(Standin(), 4091, "1", 3000)) << Slot(Standin(), 4091);
    const std::vector<std::string> log = LogTexts(Log());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "COMMS FAIL");
    EXPECT_EQ(log.back(), "Comms restored");
}

TEST_F(DriverRunning, TicksPostedByAnotherProcessCannotFailAGoodLink) {
    rig::Peer Peer(38400);
    Peer.Write(OutputWithRoot(3));
    ASSERT_TRUE(Driver().WaitForPanel(STATUS_CONTROL, "Comms OK", 3000)) << Driver().Panel(STATUS_CONTROL);
    // Right after a message: the link fails only on the fifth tick without one.
    ASSERT_NE(Standin().WaitFor("redundancy ", 3000, Standin().LineCount()), "");
    Peer.Write(OutputWithRoot(4));
    ASSERT_TRUE(WaitForSlot(Standin(), 331, "4", 3000));
    const std::size_t iFrom = Standin().LineCount();
    const DWORD dwPosted = GetTickCount();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(PostMessageA(Driver().hMain, WM_TIMER, 1, 0));
    PumpFor(600);

    // Every tick polls the redundancy state, and the stand-in reports each poll: one posted tick
    // may be taken, and the system's own come nine tenths of a second apart at the closest.
    const std::vector<std::string> lines = Standin().Lines();
    const long nAllowed = 2 + static_cast<long>((GetTickCount() - dwPosted) / 900);
    const long nTicks = std::count_if(lines.begin() + static_cast<long>(iFrom), lines.end(),
                                      [](const std::string& s) { return s.rfind("redundancy ", 0) == 0; });
    EXPECT_LE(nTicks, nAllowed);
    EXPECT_EQ(Driver().Panel(STATUS_CONTROL), "Comms OK");
    EXPECT_EQ(FindWrite(Standin().Lines(), 4091, "0", iFrom), -1);
}

TEST_F(DriverRunning, ATallyBehindBulkDataGoesAheadOfItHoweverSlowTheInfodriver) {
    rig::Peer Peer(38400);
    Peer.Write(Join({OutputWithRoot(6), {0xD2, 0xD2}}));
    ASSERT_TRUE(WaitForSlot(Standin(), 6, "1", 5000));
    // Every exchange now takes 10 ms: the block's hundred changed slots take two seconds at least.
    std::size_t iFrom = Standin().LineCount();
    Standin().Send("delay 10000");
    ASSERT_NE(Standin().WaitFor("delay-set ", 3000, iFrom), "");
    iFrom = Standin().LineCount();
    Bytes block = {0x81, 0x81};
    for (int o = 2; o < 25; ++o)
        block.push_back(o % 2 ? 0xA5 : 0x37);
    Peer.Write(Join({block, OutputWithRoot(5), {0xD2, 0xD2}}));

    const long iLit = WaitForWrite(Standin(), 5, "1", 10000, iFrom);
    ASSERT_GE(iLit, 0);
    EXPECT_TRUE(Driver().WaitForPanel(FIRST_TALLY_CONTROL + 5, "5", 3000));
    // The block's exchanges before the tally's: those under way when the trigger arrived.
    const std::vector<std::string> lines = Standin().Lines();
    int iBlockExchanges = 0;
    for (std::size_t i = iFrom; i < static_cast<std::size_t>(iLit); ++i) {
        int iSlot = 0;
        if (std::sscanf(lines[i].c_str(), "read %d", &iSlot) == 1 ||
            std::sscanf(lines[i].c_str(), "write %d", &iSlot) == 1)
            iBlockExchanges += iSlot >= 201 && iSlot <= 324;
    }
    EXPECT_LE(iBlockExchanges, 6);
    // And the block is published in full after it.
    EXPECT_GE(WaitForWrite(Standin(), 308, "1", 15000, static_cast<std::size_t>(iLit)), 0);
    iFrom = Standin().LineCount();
    Standin().Send("delay 0");
    ASSERT_NE(Standin().WaitFor("delay-set ", 3000, iFrom), "");
}

// Each of the link's transitions reaches the infodriver, the failure at once: behind a backlog that
// takes far longer to publish than the silence that fails the link, and with the link back before
// the backlog is through.
TEST_F(DriverRunning, TheLinksFailureAndReturnEachReachTheInfodriverAheadOfABacklog) {
    rig::Peer Peer(38400);
    Peer.Write(OutputWithRoot(7));
    ASSERT_TRUE(WaitForSlot(Standin(), 331, "7", 5000));
    ASSERT_EQ(Slot(Standin(), LINK_SLOT), SlotLine(LINK_SLOT, "1"));
    // Four blocks of values no test has sent: four hundred changed slots, sixteen seconds of
    // exchanges at 20 ms each at the least.
    std::size_t iFrom = Standin().LineCount();
    Standin().Send("delay 20000");
    ASSERT_NE(Standin().WaitFor("delay-set ", 3000, iFrom), "");
    Bytes burst;
    for (BYTE b = 1; b <= 4; ++b) {
        burst.insert(burst.end(), {static_cast<BYTE>(0x80 + b), static_cast<BYTE>(0x80 + b)});
        for (int o = 2; o < 25; ++o)
            burst.push_back(o % 2 ? 0x5A : static_cast<BYTE>(0x60 + b));
    }
    iFrom = Standin().LineCount();
    Peer.Write(burst);

    const long iFailed = WaitForWrite(Standin(), LINK_SLOT, "0", 12000, iFrom);
    ASSERT_GE(iFailed, 0) << "the failure never reached the infodriver";
    const std::vector<std::string> lines = Standin().Lines();
    // The tick that declared it sent it first: at most the rest of that tick's publish step (100 ms
    // of exchanges) lies between it and the tick's poll.
    long iPoll = iFailed;
    while (iPoll < static_cast<long>(lines.size()) &&
           lines[static_cast<std::size_t>(iPoll)].rfind("redundancy ", 0) != 0)
        ++iPoll;
    EXPECT_LE(iPoll - iFailed, 1 + 100 / 20 + 1);
    // And the backlog was not through.
    EXPECT_GE(WaitForWrite(Standin(), 908, "0", 30000, static_cast<std::size_t>(iFailed)), 0);

    Peer.Write(OutputWithRoot(8));
    const long iBack = WaitForWrite(Standin(), LINK_SLOT, "1", 5000, static_cast<std::size_t>(iFailed));
    EXPECT_GE(iBack, 0) << "the return never reached the infodriver";
    // 4092 is emptied with it: read, and written only when it held something.
    EXPECT_NE(Standin().WaitFor("read 4092 ", 5000, static_cast<std::size_t>(iBack)), "");
    EXPECT_EQ(WritesOf(Standin(), LINK_SLOT, iFrom), (std::vector<std::string>{"0", "1"}));
    iFrom = Standin().LineCount();
    Standin().Send("delay 0");
    ASSERT_NE(Standin().WaitFor("delay-set ", 3000, iFrom), "");
    EXPECT_TRUE(WaitForSlot(Standin(), 331, "8", 30000));
}

// Another process opens the About box (WM_COMMAND 104) or the menu (SC_KEYMENU) with a message it
// sends, and so waits until the loop is over: while each loop runs, and after it, the line is read
// and the tick goes on, loop after loop.
TEST_F(DriverRunning, ModalLoopsOpenedByAnotherProcessKeepTheLineAndTheTickGoing) {
    StartLine();
    const DWORD dwThread = GetWindowThreadProcessId(Driver().hMain, nullptr);
    for (int iLoop = 0; iLoop < 4; ++iLoop) {
        const bool bAbout = iLoop % 2 == 0;
        SCOPED_TRACE(bAbout ? "About box" : "key menu");
        std::thread Sender([&] {
            DWORD_PTR dwResult = 0;
            SendMessageTimeoutA(Driver().hMain, bAbout ? WM_COMMAND : WM_SYSCOMMAND,
                                bAbout ? ABOUT_COMMAND : SC_KEYMENU, 0, SMTO_NORMAL, 30000, &dwResult);
        });
        HWND hAbout = nullptr;
        if (bAbout)
            EXPECT_NE(hAbout = WaitForDialog(Driver().process.Id(), "About Dravik", 5000), nullptr);
        else
            EXPECT_TRUE(WaitForGuiFlags(dwThread, GUI_INMENUMODE, true, 5000));
        EXPECT_TRUE(KeepsGoing()) << "inside loop " << iLoop;
        if (bAbout) {
            CloseDialog(hAbout, CloseBy::Escape);
            EXPECT_TRUE(WaitUntilGone(hAbout, 3000));
        } else {
            CloseMenu(dwThread);
        }
        Sender.join();
        EXPECT_TRUE(KeepsGoing()) << "after loop " << iLoop;
    }
}

// A press on the minimise box that no button made, posted by another process: the box's tracking
// loop would take only the mouse's messages, until a release that never comes.
TEST_F(DriverRunning, ACaptionButtonPressedByNobodyOpensNoLoop) {
    StartLine();
    ASSERT_TRUE(PostMessageA(Driver().hMain, WM_NCLBUTTONDOWN, HTMINBUTTON, 0));
    EXPECT_TRUE(KeepsGoing());
}

// Another process sends commands, and the context menu of the caption, while the infodriver holds
// an exchange: each waits for the exchange to end, none is dropped, and they run in order once it
// has. Nine switches of the log leave it off; Hide then On leave the debug output on (the other
// way round, off). The system menu then opens outside the exchange, where the line and the tick go
// on.
TEST_F(DriverRunning, MessagesSentInsideAnExchangeWaitForItAndAllRunInOrder) {
    StartLine();
    const DWORD dwThread = GetWindowThreadProcessId(Driver().hMain, nullptr);
    const std::size_t iFrom = Standin().LineCount();
    Standin().Send("stall 60000");
    ASSERT_NE(Standin().WaitFor("stall-begins ", 5000, iFrom), "");
    std::vector<WPARAM> Commands(9, LOG_ENABLE_COMMAND);
    Commands.insert(Commands.end(), {DEBUG_HIDE_COMMAND, DEBUG_ON_COMMAND});
    for (WPARAM wCommand : Commands) {
        DWORD_PTR dwResult = 0;
        EXPECT_NE(SendMessageTimeoutA(Driver().hMain, WM_COMMAND, wCommand, 0, SMTO_NORMAL, 5000, &dwResult),
                  0);
    }
    RECT rcWindow{};
    GetWindowRect(Driver().hMain, &rcWindow);
    const LPARAM lCaption = MAKELPARAM((rcWindow.left + rcWindow.right) / 2, rcWindow.top + 8);
    std::atomic<bool> bMenuSent{false};
    std::thread Menu([&] {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(Driver().hMain, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Driver().hMain),
                            lCaption, SMTO_NORMAL, 30000, &dwResult);
        bMenuSent = true;
    });
    // Had the menu opened inside the exchange, its send would wait for the menu to close.
    EXPECT_TRUE(WaitUntil([&] { return bMenuSent.load(); }, 5000)) << "the menu opened inside the exchange";
    EXPECT_FALSE(WaitForGuiFlags(dwThread, GUI_INMENUMODE, true, 200));
    Standin().Send("release");
    ASSERT_NE(Standin().WaitFor("stall-over ", 5000, iFrom), "");

    EXPECT_TRUE(WaitForGuiFlags(dwThread, GUI_INMENUMODE, true, 5000));
    EXPECT_TRUE(KeepsGoing()) << "inside the system menu";
    CloseMenu(dwThread);
    Menu.join();
    EXPECT_EQ(pTree->Setting(RUNNING, "LogMode"), 0);
    EXPECT_EQ(pTree->Setting(RUNNING, "DebugMode"), 1);
    Driver().Command(LOG_ENABLE_COMMAND);
    EXPECT_TRUE(WaitUntil([] { return pTree->Setting(RUNNING, "LogMode") == 1; }, 3000));
}

TEST_F(DriverRunning, ATallyTriggerBehindAnUnrecognisedPairIsResolvedWithoutAFurtherByte) {
    const int iSource = 77;
    rig::Peer Peer(38400);
    // Another source on air first, its trigger plainly resolved: tally 77 not lit.
    Bytes before = OutputWithRoot(iSource - 1);
    before.insert(before.end(), {0xD2, 0xD2});
    Peer.Write(before);
    ASSERT_TRUE(WaitForSlot(Standin(), iSource - 1, "1", 3000));
    ASSERT_EQ(Slot(Standin(), iSource), SlotLine(iSource, "0"));

    // One read's worth: the pass stops at the unrecognised pair, and the trigger behind it must
    // not wait for the device's next byte.
    Bytes stream = OutputWithRoot(iSource);
    for (BYTE b : {0xE0, 0xE0, 0xD2, 0xD2})
        stream.push_back(b);
    Peer.Write(stream);

    EXPECT_TRUE(WaitForSlot(Standin(), iSource, "1", 3000));
    EXPECT_TRUE(Driver().WaitForPanel(FIRST_TALLY_CONTROL + iSource, "77", 1000));
}

TEST_F(DriverRunning, ANotificationPostedByAnotherProcessChangesNothing) {
    rig::Peer Peer(38400);
    Peer.Write(OutputWithRoot(5));
    ASSERT_TRUE(WaitForSlot(Standin(), 331, "5", 3000));
    Sleep(200);
    const std::string sReceived = Driver().Panel(SERIAL_RX_CONTROL);
    const std::size_t iFrom = Standin().LineCount();

    // Port objects at addresses of the poster's choosing, as the reader's (0) and as a
    // continuation (1), handled while the test watches the driver as its debugger.
    ExceptionWatch Watch;
    ASSERT_TRUE(Watch.Attach(Driver().process.Id()));
    for (LPARAM lForeign : {static_cast<LPARAM>(0x4141414141), static_cast<LPARAM>(0), static_cast<LPARAM>(8),
                            reinterpret_cast<LPARAM>(Driver().hMain)})
        for (WPARAM wParam : {0, 1})
            ASSERT_TRUE(PostMessageA(Driver().hMain, WM_COMMNOTIFY, wParam, lForeign));
    Watch.Watch(500);
    Watch.Detach();

    EXPECT_EQ(Watch.Exceptions().size(), 0u)
        << "the first: " << std::hex << (Watch.Exceptions().empty() ? 0 : Watch.Exceptions().front());
    ASSERT_TRUE(Driver().process.Running());
    EXPECT_EQ(Driver().Panel(SERIAL_RX_CONTROL), sReceived);
    EXPECT_EQ(FindLine(Standin().Lines(), "write ", iFrom), -1);
    EXPECT_EQ(FindLine(Standin().Lines(), "read ", iFrom), -1);

    // And the road still works.
    Peer.Write(OutputWithRoot(6));
    EXPECT_TRUE(WaitForSlot(Standin(), 331, "6", 3000));
}

TEST_F(DriverRunning, RedundancyStatesShowInTheTitleAndTheIndicator) {
    struct Case {
        int iState;
        const char* pszCaption;
        const char* pszTitle;
    };
    const Case cases[] = {
        {1, "Rx Only", "Dravik_071 - RX only - V1.3.0"},
        {5, "RxOnlyBroken", "Dravik_071 - RxOnlyBroken - V1.3.0"},
        {3, "????", "Dravik_071 - RxOnlyBroken - V1.3.0"}, // an unknown state leaves the title
        {2, "TX/RX", "Dravik_071 - TX/RX - V1.3.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.iState);
        Standin().Send("redundancy " + std::to_string(c.iState));
        // The indicator takes the caption, then its display command: its text stays the caption.
        EXPECT_TRUE(Driver().WaitForPanel(REDUNDANCY_CONTROL, c.pszCaption, 3000))
            << Driver().Panel(REDUNDANCY_CONTROL);
        EXPECT_EQ(Driver().Title(), c.pszTitle);
    }
    const std::string sLog = Log();
    const std::size_t iRxOnly = sLog.find("ID 71 gone RX only");
    const std::size_t iBroken = sLog.find("ID 71 gone RXonlyBroken");
    const std::size_t iUnknown = sLog.find("ID 71 returned status 3");
    ASSERT_NE(iUnknown, std::string::npos);
    EXPECT_LT(iRxOnly, iBroken);
    EXPECT_LT(iBroken, iUnknown);
    EXPECT_NE(sLog.find("ID 71 gone TX/RX", iUnknown), std::string::npos);
}

TEST_F(DriverRunning, AChangeOfSlot4094IsEchoedTo4095) {
    const std::size_t iFrom = Standin().LineCount();
    Standin().Send("set 4094 echo 50% \\x01");
    EXPECT_TRUE(WaitForSlot(Standin(), 4095, "echo 50% \x01", 3000));
    EXPECT_EQ(FindLine(Standin().Lines(), "write 4094 ", iFrom), -1); // not written back
}

TEST_F(DriverRunning, AfterAResetRequestTheNextTriggerPublishesEveryTallyAgain) {
    rig::Peer Peer(38400);
    Bytes lit = OutputWithRoot(5);
    lit.insert(lit.end(), {0xD2, 0xD2});
    // A name behind the trigger: its write tells that the resolution is over (a reset sent during
    // the resolution would run inside it).
    std::string sError;
    const devsim::Bytes name = devsim::TextMessage(1, "AFTER THE TALLIES", sError);
    lit.insert(lit.end(), name.begin(), name.end());
    Peer.Write(lit);
    ASSERT_TRUE(WaitForSlot(Standin(), 1201, "AFTER THE TALLIES", 5000));
    ASSERT_EQ(Slot(Standin(), 5), SlotLine(5, "1"));
    ASSERT_EQ(Slot(Standin(), 128), SlotLine(128, "0"));
    Standin().Send("set 4089 x");
    ASSERT_TRUE(WaitForSlot(Standin(), 5, "", 10000));
    ASSERT_EQ(Slot(Standin(), 128), SlotLine(128, ""));

    // Tally 5 is still lit, and tally 128 never is: both are written again.
    Peer.Write(Bytes{0xD2, 0xD2});
    EXPECT_TRUE(WaitForSlot(Standin(), 5, "1", 3000));
    EXPECT_TRUE(WaitForSlot(Standin(), 128, "0", 3000));
}

TEST_F(DriverRunning, F1OpensTheDriversAboutBoxWithItsOwnVersion) {
    // A minimised window takes no menu accelerators: the operator restores it first.
    ASSERT_TRUE(Driver().Restore());
    PostMessageA(Driver().hMain, WM_KEYDOWN, VK_F1, 0x003B0001);
    const HWND hAbout = WaitForDialog(Driver().process.Id(), "About Dravik", 5000);
    ASSERT_NE(hAbout, nullptr);
    EXPECT_EQ(DialogItemText(hAbout, ABOUT_VERSION_CONTROL), "Version 1.3.00");
    EXPECT_EQ(GetWindow(hAbout, GW_OWNER), Driver().hMain);
    CloseDialog(hAbout, CloseBy::Escape);
    EXPECT_TRUE(WaitUntilGone(hAbout, 3000));
    EXPECT_TRUE(Driver().process.Running());
}

// The bundled show through devsim.exe, the pair, the driver and the stand-in, against what the
// protocol core publishes when it decodes the same bytes in memory (in this process, with an
// in-memory slot store), and against what the show's notes say is on air at its end. The driver
// records its line meanwhile, and the recording played into a fresh driver publishes the same.
namespace {

Bytes ShowBytes() {
    std::ifstream in(SHOW_SCENARIO, std::ios::binary);
    const std::string sText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<devsim::Step> steps;
    std::string sError;
    EXPECT_TRUE(devsim::ParseScenario(sText, false, steps, sError)) << sError;
    Bytes bytes;
    for (const devsim::Step& step : steps)
        if (step.Kind == devsim::StepKind::Send)
            bytes.insert(bytes.end(), step.Data.begin(), step.Data.end());
    return bytes;
}

struct Decoded {
    std::map<int, std::string> slots; // non-empty slots
    std::map<int, std::string> boxes; // tally n's box, for every box written
    int iReceived;                    // the serial Rx count
};

// The core alone, fed 16 bytes per notification as the reader delivers them, with the
// continuations the main window asks for.
Decoded DecodeInMemory(const Bytes& bytes) {
    ResetProtocolState();
    memhost::Reset();
    memhost::ClearPort();
    memhost::ResetShell();
    for (std::size_t p = 0; p < bytes.size(); p += RECEIVE_CHUNK) {
        memhost::QueueBytes(bytes.data() + p, std::min<std::size_t>(RECEIVE_CHUNK, bytes.size() - p));
        do
            ReceiveAndPublish(nullptr);
        while (WorkWaiting());
    }
    Decoded decoded{};
    for (int iSlot = 1; iSlot < memhost::SLOT_COUNT; ++iSlot)
        if (!memhost::SlotText(iSlot).empty())
            decoded.slots[iSlot] = memhost::SlotText(iSlot);
    for (int n = 1; n <= 128; ++n)
        decoded.boxes[n] = memhost::PanelText(FIRST_TALLY_CONTROL + n);
    decoded.iReceived = iSerialRxCount;
    return decoded;
}

} // namespace

// Debug, Record line given to the driver; the file its log names, or "".
std::string StartRecording(const DriverTree& Tree, int iDevice, const DriverProcess& Driver) {
    Driver.Command(RECORD_COMMAND);
    std::string sPath;
    WaitUntil([&] { return !(sPath = RecordingPath(Tree.Log(iDevice))).empty(); }, 5000);
    return sPath;
}

TEST(DriverShow, TheBundledShowPublishesWhatTheCoreDecodesFromItsBytesAndItsRecordingReplaysAlike) {
    const Decoded expected = DecodeInMemory(ShowBytes());
    ASSERT_GT(expected.iReceived, 40);

    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, SHOW, rig::DriverPort(), rig::PeerPort()));
    const std::string sRecording = StartRecording(Tree, SHOW, Rig.Driver);
    ASSERT_NE(sRecording, "") << Tree.Log(SHOW);
    // Beside the log file, named after the device and the start.
    EXPECT_NE(sRecording.find("\\sys\\logs\\Dravik_072_2"), std::string::npos) << sRecording;
    ChildProcess Devsim;
    ASSERT_TRUE(Devsim.Start(DEVSIM_EXE, "--port " + std::to_string(rig::PeerPort()) + " play " +
                                             std::string(SHOW_SCENARIO) + " --quiet"));
    EXPECT_EQ(Devsim.Wait(60000), 0u);
    const std::string sReceived = Text("%08d", expected.iReceived);
    EXPECT_TRUE(Rig.Driver.WaitForPanel(SERIAL_RX_CONTROL, sReceived, 5000))
        << Rig.Driver.Panel(SERIAL_RX_CONTROL) << " messages, " << sReceived << " sent";

    // The link slot's last word depends on how long this takes after the show (4 s of quiet fail
    // it); the log says what the link did.
    SlotTexts published = PublishedSlots(Rig.Standin, 1, memhost::SLOT_COUNT - 1);
    SlotTexts escaped;
    for (const auto& [iSlot, sText] : expected.slots)
        escaped[iSlot] = standin::Escaped(sText);
    published.erase(LINK_SLOT);
    escaped.erase(LINK_SLOT);
    EXPECT_EQ(published, escaped);
    const std::map<int, std::string>& decoded = expected.slots;
    for (int n = 1; n <= 128; ++n)
        EXPECT_EQ(Rig.Driver.Panel(FIRST_TALLY_CONTROL + n), expected.boxes.at(n)) << "tally " << n;

    // The show's end: CAM 1 alone on air, the renamed CAM 2; the link failed in the silence, and
    // came back.
    EXPECT_EQ(decoded.at(1), "1");
    for (int n = 2; n <= 128; ++n)
        EXPECT_EQ(decoded.at(n), "0") << "tally " << n;
    EXPECT_EQ(decoded.at(1201), "CAM 1");
    EXPECT_EQ(decoded.at(1202), "CAM 2 WIDE");
    EXPECT_EQ(decoded.at(1293), "ME 1");
    const std::string sLog = Tree.Log(SHOW);
    const std::size_t iFailed = sLog.find("COMMS FAIL", sLog.find("Comms restored"));
    ASSERT_NE(iFailed, std::string::npos) << sLog;
    EXPECT_NE(sLog.find("Comms restored", iFailed), std::string::npos) << sLog;

    // What the driver's reader received: the show's bytes, every one, in order.
    Rig.Driver.Command(RECORD_COMMAND);
    const devsim::Recording Recorded = CompletedRecording(Tree, SHOW, sRecording);
    EXPECT_EQ(RecordedBytes(Recorded), ShowBytes());
    EXPECT_EQ(Recorded.Value("device"), "72");
    Rig.Stop();

    // Played with its recorded timing into a fresh driver, it publishes the same, its silence fails
    // the link there too, and the link comes back.
    DriverRig Replay;
    ASSERT_TRUE(Replay.Start(Tree, REPLAYED, rig::DriverPort(), rig::PeerPort()));
    ChildProcess Player;
    ASSERT_TRUE(Player.Start(DEVSIM_EXE, "--port " + std::to_string(rig::PeerPort()) + " play \"" + sRecording +
                                             "\" --quiet"));
    EXPECT_EQ(Player.Wait(60000), 0u);
    EXPECT_TRUE(Replay.Driver.WaitForPanel(SERIAL_RX_CONTROL, sReceived, 5000))
        << Replay.Driver.Panel(SERIAL_RX_CONTROL) << " messages, " << sReceived << " recorded";
    SlotTexts replayed = PublishedSlots(Replay.Standin, 1, memhost::SLOT_COUNT - 1);
    replayed.erase(LINK_SLOT);
    EXPECT_EQ(replayed, published);
    for (int n = 1; n <= 128; ++n)
        EXPECT_EQ(Replay.Driver.Panel(FIRST_TALLY_CONTROL + n), expected.boxes.at(n)) << "tally " << n;
    const std::string sReplayLog = Tree.Log(REPLAYED);
    const std::size_t iReplayFailed = sReplayLog.find("COMMS FAIL", sReplayLog.find("Comms restored"));
    ASSERT_NE(iReplayFailed, std::string::npos) << sReplayLog;
    EXPECT_NE(sReplayLog.find("Comms restored", iReplayFailed), std::string::npos) << sReplayLog;
    Replay.Stop();
}

namespace {

// Seconds of the soak's everyday mix at 38400 bit/s (10 bits a character).
StreamBytes LineRateStream(std::uint32_t uSeed, int iSeconds) {
    constexpr std::size_t LINE_BYTES_PER_SECOND = 3840;
    RandomStream Source(uSeed, LINE_RATE_MIX, LINE_RATE_REPEAT_PERCENT);
    StreamBytes stream;
    while (stream.size() < static_cast<std::size_t>(iSeconds) * LINE_BYTES_PER_SECOND) {
        const StreamBytes item = Source.Next();
        stream.insert(stream.end(), item.begin(), item.end());
    }
    return stream;
}

// At the line's pace, 64 bytes at a time, kept in Sent as they go.
bool SendInPieces(devsim::Line& Device, const StreamBytes& stream, std::vector<unsigned char>& Sent) {
    for (std::size_t i = 0; i < stream.size(); i += 64)
        if (!SendKept(Device,
                      StreamBytes(stream.begin() + static_cast<long>(i),
                                  stream.begin() + static_cast<long>(std::min(stream.size(), i + 64))),
                      Sent))
            return false;
    return true;
}

} // namespace

// The line flat out with the recording's disk stalled: the driver still publishes every message,
// and the recording, once the disk is back, holds exactly the bytes the device sent.
TEST(DriverRecording, TheLineFlatOutIsRecordedWholeThroughAStalledDiskAndTheLiveRoadLosesNothing) {
    constexpr int SECONDS = 4;
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, FLAT_OUT, rig::DriverPort(), rig::PeerPort()));
    const std::set<DWORD> before = ThreadIdsOf(Rig.Driver.process.Id());
    const std::string sRecording = StartRecording(Tree, FLAT_OUT, Rig.Driver);
    ASSERT_NE(sRecording, "") << Tree.Log(FLAT_OUT);
    devsim::Line Device;
    devsim::LineSettings Settings;
    Settings.iPort = rig::PeerPort();
    std::string sError;
    ASSERT_TRUE(Device.Open(Settings, sError)) << sError;

    std::vector<unsigned char> sent;
    {
        // The recording's writer is the one thread the start added; held, it is a disk that stalls.
        SuspendedThread Writer(NewThread(before, ThreadIdsOf(Rig.Driver.process.Id())));
        ASSERT_TRUE(Writer.Held());
        // Within the receive queue, and published at the line rate with room to spare: whatever the
        // machine's pace, nothing of the live road may be lost.
        const StreamBytes stream = LineRateStream(20261209, SECONDS);
        ASSERT_TRUE(SendInPieces(Device, stream, sent));
        std::string sReport;
        EXPECT_EQ(CheckPublished(Rig.Standin, Device, sent, 1999, 15000, &sReport), 0u) << sReport;
    }
    Rig.Driver.Command(RECORD_COMMAND);
    const devsim::Recording Recorded = CompletedRecording(Tree, FLAT_OUT, sRecording);
    EXPECT_EQ(RecordedBytes(Recorded), sent);
    const std::string sLog = Tree.Log(FLAT_OUT);
    EXPECT_EQ(sLog.find("Receive queue"), std::string::npos) << sLog;
    Rig.Stop();
}

// A reset request is done before the infodriver has its answer, wherever it arrives: here inside
// one of the driver's own exchanges of a publish step, against an infodriver slow enough for the
// reset to outlast what a small receive queue holds of the line. Nothing of the line is lost, what
// came meanwhile is published after the reset, and the infodriver is not taken for a slow one.
TEST(DriverReset, AResetInsideAPublishStepLosesNothingOfTheLine) {
    constexpr int SECONDS = 8;
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, RESET_UNDER_LINE, rig::DriverPort(), rig::PeerPort()));
    devsim::Line Device;
    devsim::LineSettings Settings;
    Settings.iPort = rig::PeerPort();
    std::string sError;
    ASSERT_TRUE(Device.Open(Settings, sError)) << sError;

    // 3 ms an exchange, and every slot the reset empties holds a text: eight seconds of reads and
    // writes at least.
    for (int iSlot = 1; iSlot <= 1328; ++iSlot)
        Rig.Standin.Send("preset " + std::to_string(iSlot) + " x");
    std::size_t iFrom = Rig.Standin.LineCount();
    Rig.Standin.Send("delay 3000");
    ASSERT_NE(Rig.Standin.WaitFor("delay-set ", 5000, iFrom), "");
    // Names above the reset's slots keep publish steps going until the request comes in one.
    std::vector<unsigned char> sent;
    std::atomic<bool> bResetBegun{false};
    std::thread Names([&] {
        for (int i = 0; !bResetBegun && i < 500; ++i) {
            const devsim::Bytes name =
                devsim::TextMessage(129 + i % 100, "NAME " + std::to_string(i), sError);
            SendKept(Device, StreamBytes(name.begin(), name.end()), sent);
            Sleep(20);
        }
    });
    iFrom = Rig.Standin.LineCount();
    const bool bPublishing = !Rig.Standin.WaitFor("write 13", 5000, iFrom).empty();
    if (bPublishing)
        Rig.Standin.Send("defer 4089 x");
    bResetBegun = !Rig.Standin.WaitFor("read 1 ", 10000, iFrom).empty();
    Names.join();
    ASSERT_TRUE(bPublishing);
    ASSERT_TRUE(bResetBegun);
    // The line at its full rate while the reset runs.
    ASSERT_TRUE(SendInPieces(Device, LineRateStream(20261210, SECONDS), sent));
    EXPECT_GE(WaitForWrite(Rig.Standin, 1328, "", 30000, iFrom), 0);
    iFrom = Rig.Standin.LineCount();
    Rig.Standin.Send("delay 0");
    ASSERT_NE(Rig.Standin.WaitFor("delay-set ", 3000, iFrom), "");

    std::string sReport;
    EXPECT_EQ(CheckPublished(Rig.Standin, Device, sent, 1999, 30000, &sReport), 0u) << sReport;
    const std::string sLog = Tree.Log(RESET_UNDER_LINE);
    EXPECT_EQ(sLog.find("Receive queue"), std::string::npos) << sLog;
    EXPECT_EQ(sLog.find(" to answer"), std::string::npos) << sLog;
    Rig.Stop();
}

TEST(DriverLifetime, TheInfodriversDisconnectionEndsTheDriverWithExitCodeZero) {
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, DISCONNECTED, rig::DriverPort(), rig::PeerPort()));
    const std::size_t iFrom = Rig.Standin.LineCount();
    Rig.Standin.Send("send 2175");
    EXPECT_EQ(Rig.Driver.process.Wait(5000), 0u);
    const std::vector<std::string> log = LogTexts(Tree.Log(DISCONNECTED));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Infodriver 73 disconnected");
    EXPECT_EQ(log.back(), "Driver closing");
    // Its client's last word to the vanished infodriver.
    EXPECT_NE(Rig.Standin.WaitFor("detach 73", 3000, iFrom), "");
    Rig.Stop();
}

// The system's own loops for a keyboard move and for the menu bar take the quit message that the
// window's destruction posts, and drop it under Wine. Each case is ended with a driver still in
// the loop; the next case's start is refused if the last one's process still holds the device.
TEST(DriverLifetime, AWindowDestroyedInsideAModalLoopStillEndsTheDriverWithExitCodeZero) {
    const struct {
        WPARAM wCommand;
        DWORD dwFlag;
        bool bByInfodriver; // its 2175, else a posted WM_CLOSE
        const char* pszCase;
    } cases[] = {
        {SC_MOVE, GUI_INMOVESIZE, true, "keyboard move, 2175"},
        {SC_MOVE, GUI_INMOVESIZE, false, "keyboard move, WM_CLOSE"},
        {SC_KEYMENU, GUI_INMENUMODE, true, "keyboard menu, 2175"},
        {SC_KEYMENU, GUI_INMENUMODE, false, "keyboard menu, WM_CLOSE"},
    };
    DriverTree Tree;
    std::unique_ptr<DriverRig> pLast;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        if (pLast)
            pLast->Standin.Stop(); // one infodriver of the number at a time
        auto pRig = std::make_unique<DriverRig>();
        ASSERT_TRUE(pRig->Start(Tree, MODAL, rig::DriverPort(), rig::PeerPort()));
        pLast.reset();
        DriverProcess& Driver = pRig->Driver;
        const DWORD dwThread = GetWindowThreadProcessId(Driver.hMain, nullptr);
        PostMessageA(Driver.hMain, WM_SYSCOMMAND, c.wCommand, 0);
        ASSERT_TRUE(WaitForGuiFlags(dwThread, c.dwFlag, true));
        if (c.bByInfodriver)
            pRig->Standin.Send("send 2175");
        else
            PostMessageA(Driver.hMain, WM_CLOSE, 0, 0);
        EXPECT_EQ(Driver.process.Wait(5000), 0u);
        EXPECT_EQ(LogTexts(Tree.Log(MODAL)).back(), "Driver closing");
        pLast = std::move(pRig);
    }
    pLast->Standin.Stop();
    DriverRig Again;
    EXPECT_TRUE(Again.Start(Tree, MODAL, rig::DriverPort(), rig::PeerPort()));
    pLast.reset();
    Again.Stop();
}

// At log-off and shutdown the system ends the process once WM_ENDSESSION has been answered: no
// quit message, no static destructor. By then the end must be complete.
TEST(DriverLifetime, TheSessionsEndEndsTheDriverBeforeItIsAnswered) {
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, SESSION, rig::DriverPort(), rig::PeerPort())) << Tree.Log(SESSION);
    std::string sHolders;
    ASSERT_TRUE(rig::LineHeld(rig::DriverPort(), &sHolders)) << sHolders << Tree.Log(SESSION);
    const std::size_t iFrom = Rig.Standin.LineCount();
    DWORD_PTR dwAnswer = 0;
    ASSERT_NE(SendMessageTimeoutA(Rig.Driver.hMain, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  5000, &dwAnswer),
              0);
    EXPECT_EQ(dwAnswer, static_cast<DWORD_PTR>(TRUE));
    ASSERT_NE(SendMessageTimeoutA(Rig.Driver.hMain, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  10000, &dwAnswer),
              0);

    EXPECT_EQ(LogTexts(Tree.Log(SESSION)).back(), "Driver closing");
    EXPECT_NE(Rig.Standin.WaitFor("detach 78", 3000, iFrom), "");
    EXPECT_FALSE(rig::LineHeld(rig::DriverPort(), &sHolders)) << "its port is open: " << sHolders;
    // Where the system does not end it, it ends by itself.
    EXPECT_EQ(Rig.Driver.process.Wait(5000), 0u);
    Rig.Stop();
}

// The system gives an application 5 s at the end of the session. A stalled infodriver holds the
// driver inside an exchange; the end runs nested in it and must not wait for the infodriver too.
TEST(DriverLifetime, TheSessionsEndIsAnsweredWhileTheInfodriverIsStalled) {
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, SESSION_STALLED, rig::DriverPort(), rig::PeerPort()))
        << Tree.Log(SESSION_STALLED);
    const HWND hStandin = FindWindowA(nullptr, Text("Infodriver %d", SESSION_STALLED).c_str());
    ASSERT_NE(hStandin, nullptr);
    const std::size_t iFrom = Rig.Standin.LineCount();
    // The next answer, the tick's poll of the redundancy state, comes after 30 s.
    Rig.Standin.Send("stall 30000");
    ASSERT_NE(Rig.Standin.WaitFor("stall-set ", 3000, iFrom), "");
    auto Stalled = [hStandin] {
        DWORD_PTR dwAnswer = 0;
        return SendMessageTimeoutA(hStandin, WM_NULL, 0, 0, SMTO_NORMAL, 100, &dwAnswer) == 0;
    };
    ASSERT_TRUE(WaitUntil(Stalled, 5000)) << "the stand-in never stalled";

    DWORD_PTR dwAnswer = 0;
    ASSERT_NE(SendMessageTimeoutA(Rig.Driver.hMain, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  60000, &dwAnswer),
              0);
    EXPECT_TRUE(Stalled()) << "answered only once the stall was over";
    EXPECT_EQ(LogTexts(Tree.Log(SESSION_STALLED)).back(), "Driver closing");
    std::string sHolders;
    EXPECT_FALSE(rig::LineHeld(rig::DriverPort(), &sHolders)) << "its port is open: " << sHolders;
    Rig.Standin.Stop();
    Rig.Driver.process.Kill();
}

TEST(DriverLifetime, ASecondDriverForTheSameDeviceIsRefusedWhileTheFirstRunsOn) {
    DriverTree Tree;
    DriverRig Rig;
    ASSERT_TRUE(Rig.Start(Tree, SINGLE, rig::DriverPort(), rig::PeerPort()));
    const std::size_t iFrom = Rig.Standin.LineCount();

    ChildProcess Second;
    ASSERT_TRUE(Second.Start(DRAVIK_EXE, "74"));
    const HWND hBox = WaitForDialog(Second.Id(), "Error", 15000);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(MessageBoxText(hBox), "Dravik driver is already running");
    CloseDialog(hBox, CloseBy::OkButton);
    EXPECT_EQ(Second.Wait(5000), START_FAILED);

    EXPECT_EQ(FindLine(Rig.Standin.Lines(), "search ", iFrom), -1); // it never looked for the infodriver
    EXPECT_TRUE(Rig.Driver.process.Running());
    EXPECT_TRUE(IsWindow(Rig.Driver.hMain));
    rig::Peer Peer(38400);
    Peer.Write(OutputWithRoot(9));
    EXPECT_TRUE(WaitForSlot(Rig.Standin, 331, "9", 3000));
    Rig.Stop();
}

// A driver started elevated holds a mutex that a driver started without elevation may not open:
// the system refuses it (ERROR_ACCESS_DENIED) instead of naming it an existing one.
TEST(DriverLifetime, AMutexHeldAtAnotherPrivilegeLevelCountsAsADriverRunning) {
    SECURITY_DESCRIPTOR Descriptor;
    InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL NoAccess;
    InitializeAcl(&NoAccess, sizeof NoAccess, ACL_REVISION);
    SetSecurityDescriptorDacl(&Descriptor, TRUE, &NoAccess, FALSE);
    SECURITY_ATTRIBUTES Attributes{sizeof Attributes, &Descriptor, FALSE};
    const HANDLE hHeld =
        CreateMutexA(&Attributes, TRUE, Text("Dravik_%03d - loading - V1.3.0", GUARDED).c_str());
    ASSERT_NE(hHeld, nullptr);

    ChildProcess Second;
    ASSERT_TRUE(Second.Start(DRAVIK_EXE, std::to_string(GUARDED)));
    const HWND hBox = WaitForDialog(Second.Id(), "Error", 15000);
    EXPECT_NE(hBox, nullptr) << "it started";
    if (hBox != nullptr) {
        EXPECT_EQ(MessageBoxText(hBox), "Dravik driver is already running");
        CloseDialog(hBox, CloseBy::OkButton);
    }
    EXPECT_EQ(Second.Wait(5000), START_FAILED);
    Second.Kill();
    CloseHandle(hHeld);
}

TEST(DriverLifetime, AControlLibraryThatDoesNotLoadIsNamedWithItsError) {
    // A folder of its own: the driver, the first library, and a second that is no library at all
    // (as a 32-bit one is to this 64-bit driver).
    const std::string sDriver = WindowsPath(DRAVIK_EXE);
    const std::string sPackage = sDriver.substr(0, sDriver.find_last_of("\\/"));
    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    const std::string sFolder =
        std::string(szTemp) + "dravik_libraries_" + std::to_string(GetCurrentProcessId());
    std::filesystem::create_directories(sFolder);
    ASSERT_TRUE(CopyFileA(sDriver.c_str(), (sFolder + "\\dravik.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((sPackage + "\\vorn_cc.dll").c_str(), (sFolder + "\\vorn_cc.dll").c_str(), FALSE));
    std::ofstream(sFolder + "\\vorn_cc09.dll", std::ios::binary) << "not a library";

    ChildProcess Refused;
    ASSERT_TRUE(Refused.Start(sFolder + "\\dravik.exe", std::to_string(UNLOADED)));
    const HWND hBox = WaitForDialog(Refused.Id(), "ERROR", 15000);
    EXPECT_NE(hBox, nullptr);
    if (hBox != nullptr) {
        EXPECT_EQ(MessageBoxText(hBox), "Failed to load vorn_cc.dll\n\nvorn_cc09.dll: error 193 (not a "
                                        "64-bit library, as this driver needs)");
        CloseDialog(hBox, CloseBy::OkButton);
    }
    EXPECT_EQ(Refused.Wait(5000), START_FAILED);
    Refused.Kill();
    std::error_code error;
    std::filesystem::remove_all(sFolder, error);
}

TEST(DriverLifetime, DeviceNumbersOutsideOneTo999AreRefused) {
    for (const char* pszArgument : {"0", "1000", "abc"}) {
        SCOPED_TRACE(pszArgument);
        ChildProcess Refused;
        ASSERT_TRUE(Refused.Start(DRAVIK_EXE, pszArgument));
        const HWND hBox = WaitForDialog(Refused.Id(), "Error", 15000);
        ASSERT_NE(hBox, nullptr);
        EXPECT_EQ(MessageBoxText(hBox), "Valid device number must be supplied as command line parameter");
        EXPECT_EQ(Refused.FindWindowOfClass("CLASS_Dravik"), nullptr);
        CloseDialog(hBox, CloseBy::OkButton);
        EXPECT_EQ(Refused.Wait(5000), START_FAILED);
    }
}

TEST(DriverLifetime, DriversForTwoDevicesRunSideBySideOnTwoPairs) {
    DriverTree Tree;
    DriverRig Left, Right;
    ASSERT_TRUE(Left.Start(Tree, LEFT, rig::DriverPort(), rig::PeerPort()));
    ASSERT_TRUE(Right.Start(Tree, RIGHT, SECOND_DRIVER_PORT, SECOND_PEER_PORT));
    EXPECT_EQ(Left.Driver.Panel(PORT_CONTROL), Text("COM%d 38400,8,1,N", rig::DriverPort()));
    EXPECT_EQ(Right.Driver.Panel(PORT_CONTROL), Text("COM%d 38400,8,1,N", SECOND_DRIVER_PORT));

    rig::Peer LeftPeer(38400);
    rig::Peer RightPeer(38400, SECOND_PEER_PORT);
    LeftPeer.Write(OutputWithRoot(11));
    RightPeer.Write(OutputWithRoot(22));
    EXPECT_TRUE(WaitForSlot(Left.Standin, 331, "11", 3000));
    EXPECT_TRUE(WaitForSlot(Right.Standin, 331, "22", 3000));
    EXPECT_TRUE(Left.Driver.WaitForPanel(SERIAL_RX_CONTROL, "00000001", 1000));
    EXPECT_TRUE(Right.Driver.WaitForPanel(SERIAL_RX_CONTROL, "00000001", 1000));
    EXPECT_TRUE(Left.Driver.WaitForPanel(STATUS_CONTROL, "Comms OK", 1000));
    EXPECT_TRUE(Right.Driver.WaitForPanel(STATUS_CONTROL, "Comms OK", 1000));
    EXPECT_TRUE(WaitUntil([&] { return Left.Driver.Title() == "Dravik_075 - TX/RX - V1.3.0"; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return Right.Driver.Title() == "Dravik_076 - TX/RX - V1.3.0"; }, 3000));

    // Each infodriver heard from its own driver only.
    EXPECT_EQ(WritesOf(Left.Standin, 331, 0), std::vector<std::string>{"11"});
    EXPECT_EQ(WritesOf(Right.Standin, 331, 0), std::vector<std::string>{"22"});

    // F10 ends one of them, pressed while its debug list has the focus: the key goes to the list,
    // its command to the main window. The other runs on until File, Exit.
    ASSERT_TRUE(Left.Driver.Restore());
    PostMessageA(GetDlgItem(Left.Driver.hMain, 100), WM_SYSKEYDOWN, VK_F10, 0x00440001);
    EXPECT_EQ(Left.Driver.process.Wait(5000), 0u);
    EXPECT_EQ(LogTexts(Tree.Log(LEFT)).back(), "Driver closing");
    RightPeer.Write(OutputWithRoot(23));
    EXPECT_TRUE(WaitForSlot(Right.Standin, 331, "23", 3000));
    PostMessageA(Right.Driver.hMain, WM_COMMAND, EXIT_COMMAND, 0);
    EXPECT_EQ(Right.Driver.process.Wait(5000), 0u);
    EXPECT_EQ(LogTexts(Tree.Log(RIGHT)).back(), "Driver closing");
    Left.Stop();
    Right.Stop();
}
