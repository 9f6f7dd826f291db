// The real driver as its own process, reading the bundled show from the null-modem pair and
// publishing into the stand-in process, while this process, a stranger to both, sends the driver's
// two windows malformed and unexpected traffic. The driver has to stay up, answer every send, keep
// its link to the infodriver, and afterwards publish exactly what the show's bytes decode to.
#include "tests/support/child.h"
#include "tests/support/decoded.h"
#include "tests/support/driver_site.h"
#include "tests/support/process_window.h"
#include "tests/support/show_play.h"
#include "tests/support/standin_view.h"
#include "tools/standin/events.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

namespace {

constexpr int NUMBER = 73;
constexpr int DRIVER_PORT = 5; // the pair of the rig fixture: the driver reads COM5, the show goes into COM6
constexpr int DEVICE_PORT = 6;
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr int LAST_COMPARED_SLOT = 1999; // the show's slots and tallies lie below; the barrage's above
constexpr WPARAM WM_SYSTIMER_MESSAGE = 0x0118;

// Foreign values for parameters that carry a pointer or a handle.
const LPARAM lJunk = static_cast<LPARAM>(0x4141414141);
const LPARAM lMinus = static_cast<LPARAM>(-1);

struct ModuleEntry {
    std::string sName;
    UINT_PTR uBase;
    UINT_PTR uSize;
};
std::vector<ModuleEntry> ModulesOf(DWORD dwProcess) {
    std::vector<ModuleEntry> Modules;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, dwProcess);
    if (hSnap == INVALID_HANDLE_VALUE)
        return Modules;
    MODULEENTRY32 Entry{};
    Entry.dwSize = sizeof Entry;
    for (BOOL b = Module32First(hSnap, &Entry); b; b = Module32Next(hSnap, &Entry)) {
        std::string sName = Entry.szModule;
        std::transform(sName.begin(), sName.end(), sName.begin(),
                       [](char c) { return static_cast<char>(tolower(c)); });
        Modules.push_back({sName, reinterpret_cast<UINT_PTR>(Entry.modBaseAddr), Entry.modBaseSize});
    }
    CloseHandle(hSnap);
    return Modules;
}
// Where process dwProcess has pMine of this process: at the same offset in its module of the same
// name. 0 when it has no such module.
LPARAM AddressInProcess(DWORD dwProcess, const void* pMine) {
    const UINT_PTR uMine = reinterpret_cast<UINT_PTR>(pMine);
    for (const ModuleEntry& Mine : ModulesOf(GetCurrentProcessId()))
        if (uMine >= Mine.uBase && uMine < Mine.uBase + Mine.uSize)
            for (const ModuleEntry& Theirs : ModulesOf(dwProcess))
                if (Theirs.sName == Mine.sName)
                    return static_cast<LPARAM>(Theirs.uBase + (uMine - Mine.uBase));
    return 0;
}

// A top-level window of process dwProcess with the class and title, or null.
HWND FindNamedWindow(DWORD dwProcess, const char* pszClass, const char* pszTitle) {
    return FindProcessWindow(dwProcess, [&](HWND hWnd) {
        char szTitle[64] = "";
        GetWindowTextA(hWnd, szTitle, sizeof szTitle);
        return WindowClassName(hWnd) == pszClass && lstrcmpA(szTitle, pszTitle) == 0;
    });
}

// The traffic sent so far: the kinds tried, and the first send that did not come back in time.
struct Barrage {
    std::vector<std::string> Kinds;
    std::vector<std::string> Late;
    int iSends = 0;
    int iPosts = 0;
    int iRefusedPosts = 0; // the system would not post it (a message that carries a pointer)

    void Kind(const std::string& sName) { Kinds.push_back(sName); }

    LRESULT Send(HWND hTo, UINT iMessage, WPARAM wParam, LPARAM lParam) {
        ++iSends;
        // One late send is the verdict: a driver that crashed is held by Wine's debugger, and every
        // further send would wait out its own time-out.
        if (!Late.empty())
            return 0;
        DWORD_PTR dwResult = 0;
        // A send the system will not marshal fails at once, on this side; only a time-out, or the
        // window gone, counts against the driver.
        if (SendMessageTimeoutA(hTo, iMessage, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &dwResult) ==
                0 &&
            (GetLastError() == ERROR_TIMEOUT || !IsWindow(hTo))) {
            char szLate[128];
            std::snprintf(szLate, sizeof szLate, "%s: message %u wParam %llx lParam %llx",
                          Kinds.empty() ? "" : Kinds.back().c_str(), iMessage,
                          static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
            Late.push_back(szLate);
        }
        return static_cast<LRESULT>(dwResult);
    }
    void Post(HWND hTo, UINT iMessage, WPARAM wParam, LPARAM lParam) {
        ++iPosts;
        if (!PostMessageA(hTo, iMessage, wParam, lParam))
            ++iRefusedPosts;
    }
    void PostToThread(DWORD dwThread, UINT iMessage, WPARAM wParam, LPARAM lParam) {
        ++iPosts;
        if (!PostThreadMessageA(dwThread, iMessage, wParam, lParam))
            ++iRefusedPosts;
    }
    void SendAndPost(HWND hTo, UINT iMessage, WPARAM wParam, LPARAM lParam) {
        Send(hTo, iMessage, wParam, lParam);
        Post(hTo, iMessage, wParam, lParam);
    }
    // A transfer record as the infodriver would send one, from hFrom.
    LRESULT Record(HWND hTo, HWND hFrom, unsigned iMessage, unsigned iIndex, const void* pData,
                   DWORD cbData) {
        COPYDATASTRUCT Data{};
        Data.dwData = (iMessage & 0xFFFFu) << 16 | (iIndex & 0xFFFFu);
        Data.cbData = cbData;
        Data.lpData = const_cast<void*>(pData);
        return Send(hTo, WM_COPYDATA, reinterpret_cast<WPARAM>(hFrom), reinterpret_cast<LPARAM>(&Data));
    }
};

// A window of this process: the infodriver it is not.
HWND CreateStranger() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HostileStranger";
    RegisterClassA(&wc);
    return CreateWindowA("HostileStranger", "stranger", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                         nullptr);
}

class HostileTraffic : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Site = new DriverSite;
        ASSERT_TRUE(Site->Create("hostile", NUMBER, DriverKeys(DRIVER_PORT, true)));
        std::string sError;
        Steps = ScenarioSteps(DEVSIM_SHOW, sError);
        ASSERT_FALSE(Steps.empty()) << sError;
        Standin = new StandinProcess;
        ASSERT_TRUE(Standin->Start(STANDIN_EXE, std::to_string(NUMBER)));
        Driver = new ChildProcess;
        ASSERT_TRUE(Driver->Start(DRAVIK_EXE, std::to_string(NUMBER)));
        hMain = Driver->WaitForWindow("CLASS_Dravik", 15000);
        hClient = Driver->WaitForWindow("extinfospwn", 5000);
        ASSERT_NE(Standin->WaitFor("attach ", 5000), "");
        devsim::LineSettings Settings;
        Settings.iPort = DEVICE_PORT;
        Device = new devsim::Line;
        ASSERT_TRUE(Device->Open(Settings, sError)) << sError;
    }
    static void TearDownTestSuite() {
        delete Device;
        delete Driver;
        delete Standin;
        delete Site;
        Site = nullptr;
        Device = nullptr;
        Driver = nullptr;
        Standin = nullptr;
    }

    // The last of them, or "-" for none.
    static std::string LastWrite(int iSlot, std::size_t iFrom) {
        const std::vector<std::string> Texts = WritesOf(*Standin, iSlot, iFrom);
        return Texts.empty() ? "-" : Texts.back();
    }
    static bool DriverIntact() {
        return Device != nullptr && Driver != nullptr && Driver->Running() && IsWindow(hMain) &&
               IsWindow(hClient);
    }
    // ExitProcess as the driver has it mapped: called as a timer procedure it ends the driver on
    // the spot.
    static LPARAM ExitProcessInDriver() {
        const FARPROC pExit = GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitProcess");
        return AddressInProcess(Driver->Id(), reinterpret_cast<const void*>(pExit));
    }
    static DriverSite* Site;
    static std::vector<devsim::Step> Steps;
    static StandinProcess* Standin;
    static ChildProcess* Driver;
    static devsim::Line* Device;
    static HWND hMain;
    static HWND hClient;
    static std::vector<unsigned char> Sent; // every byte played into the line
};

DriverSite* HostileTraffic::Site = nullptr;
std::vector<devsim::Step> HostileTraffic::Steps;
StandinProcess* HostileTraffic::Standin = nullptr;
ChildProcess* HostileTraffic::Driver = nullptr;
devsim::Line* HostileTraffic::Device = nullptr;
HWND HostileTraffic::hMain = nullptr;
HWND HostileTraffic::hClient = nullptr;
std::vector<unsigned char> HostileTraffic::Sent;

} // namespace

TEST_F(HostileTraffic, TheDriverSurvivesForeignTrafficWhilePublishingAndKeepsItsLink) {
    ASSERT_TRUE(DriverIntact());
    const HWND hStranger = CreateStranger();
    const DWORD dwDriver = Driver->Id();
    // Mapped in the driver: its own image (the first module of its list).
    const std::vector<ModuleEntry> DriverModules = ModulesOf(dwDriver);
    const LPARAM lDriverImage = DriverModules.empty() ? lJunk : static_cast<LPARAM>(DriverModules[0].uBase);
    const LPARAM lExitProcess = ExitProcessInDriver();
    ASSERT_NE(lExitProcess, 0);
    const std::size_t iFirstLine = Standin->LineCount();

    // The show goes on in the line while the traffic comes.
    std::atomic<bool> bPlaying{true};
    std::thread Player([&] {
        while (bPlaying && PlaySteps(*Device, Steps, 150, Sent))
            ;
    });
    Sleep(500);

    Barrage b;
    std::vector<char> Pattern(1 << 20);
    for (std::size_t i = 0; i < Pattern.size(); ++i)
        Pattern[i] = static_cast<char>('a' + i % 26);
    std::vector<char> Text(513, 0);
    std::memcpy(Text.data(), "hostile", 7);
    std::map<int, std::string> Expected; // slot -> text its forged change must be written back with

    // Transfer records to the client's window: every payload size, no payload, a payload too big.
    b.Kind("record without data, cbData 513");
    b.Record(hClient, hStranger, 2728, 2101, nullptr, 513);
    Expected[2101] = "";
    b.Kind("record without data, cbData 16");
    b.Record(hClient, hStranger, 2728, 2102, nullptr, 16);
    Expected[2102] = "";
    b.Kind("record with data, cbData 0");
    b.Record(hClient, hStranger, 2728, 2103, Pattern.data(), 0);
    Expected[2103] = "";
    b.Kind("record with cbData 1 MB");
    b.Record(hClient, hStranger, 2728, 2104, Pattern.data(), static_cast<DWORD>(Pattern.size()));
    Expected[2104] = "abcdefgh";
    b.Kind("record without data, cbData 4 GB - 1");
    b.Record(hClient, hStranger, 2728, 2105, nullptr, 0xFFFFFFFFu);
    Expected[2105] = "";
    b.Kind("records with cbData 1 to 15");
    for (DWORD cb = 1; cb <= 15; ++cb) {
        b.Record(hClient, hStranger, 2728, 3000 + cb, Pattern.data(), cb);
        Expected[3000 + static_cast<int>(cb)] = std::string(Pattern.data(), std::min<DWORD>(cb, 8));
    }
    b.Kind("records with cbData 17 to 512");
    for (DWORD cb = 17; cb <= 512; ++cb) {
        b.Record(hClient, hStranger, 2728, 3000 + cb, Pattern.data(), cb);
        Expected[3000 + static_cast<int>(cb)] = std::string(Pattern.data(), 8);
    }
    b.Kind("record with cbData 514");
    b.Record(hClient, hStranger, 2728, 3514, Pattern.data(), 514);
    Expected[3514] = std::string(Pattern.data(), 8);
    b.Kind("record with an unterminated text");
    b.Record(hClient, hStranger, 2728, 3513, Pattern.data(), 513);
    Expected[3513] = std::string(Pattern.data(), 512);
    b.Kind("record with a terminated text, from no window");
    b.Record(hClient, nullptr, 2728, 2106, Text.data(), 513);
    Expected[2106] = "hostile";
    b.Kind("record with printf directives in its text");
    std::vector<char> Directives(513, 0);
    std::strcpy(Directives.data(), "50% %s%n %08x");
    b.Record(hClient, hStranger, 2728, 2111, Directives.data(), 513);
    Expected[2111] = "50% %s%n %08x";
    b.Kind("record 2728 naming slot 0 and slot 65535");
    b.Record(hClient, hStranger, 2728, 0, Text.data(), 513);
    b.Record(hClient, hStranger, 2728, 0xFFFF, Text.data(), 16);

    b.Kind("records with system and unknown message numbers");
    for (unsigned iMessage :
         {0u, 1u, 2u, 0x82u, 0x0Cu, 0x0Du, 0x10u, 0x4Au, 1023u, 2726u, 2727u, 9999u, 0xFFFFu}) {
        b.Record(hClient, hStranger, iMessage, 2107, Text.data(), 513);
        b.Record(hClient, hStranger, iMessage, 0xFFFF, Pattern.data(), 16);
        b.Record(hClient, hStranger, iMessage, 1, nullptr, 513);
    }
    b.Kind("unasked replies (2984)");
    b.Record(hClient, hStranger, 2984, 1, Text.data(), 513);
    b.Record(hClient, hStranger, 2984, 0xFFFF, Pattern.data(), 16);
    b.Kind("records 2729 naming this process's window, a broadcast and the client");
    b.Record(hClient, hStranger, 2729, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hStranger)),
             Text.data(), 16);
    b.Record(hClient, hStranger, 2729, 0xFFFF, Text.data(), 513);
    b.Record(hClient, hStranger, 2729, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hClient)), nullptr,
             16);
    // Every GUI process has more than one top-level window (each thread an IME window): one of the
    // infodriver's process that is not of its class is not the infodriver.
    const HWND hInfodriver =
        FindWindowA("InfodriverStandin", ("Infodriver " + std::to_string(NUMBER)).c_str());
    DWORD dwStandin = 0;
    GetWindowThreadProcessId(hInfodriver, &dwStandin);
    const HWND hBeside =
        FindProcessWindow(dwStandin, [](HWND hWnd) { return WindowClassName(hWnd) != "InfodriverStandin"; });
    ASSERT_NE(hBeside, nullptr);
    b.Kind("2729 naming the infodriver's own " + WindowClassName(hBeside) + " window, plain and as a record");
    b.SendAndPost(hClient, 2729, reinterpret_cast<WPARAM>(hBeside), 0);
    b.Record(hClient, hStranger, 2729, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hBeside)),
             Text.data(), 16);
    b.Kind("records of the infodriver's other events (2032, 2179, 2180, 2190, 2730)");
    for (unsigned iMessage : {2032u, 2179u, 2180u, 2190u, 2730u}) {
        b.Record(hClient, hStranger, iMessage, 0xFFFF, Pattern.data(), 513);
        b.Record(hClient, hStranger, iMessage, 12, nullptr, 16);
    }
    b.Kind("records to the main window");
    for (unsigned iMessage : {0u, 1u, 2u, 0x82u, 0x4Au, 2728u, 2729u, 2984u, 0xFFFFu}) {
        b.Record(hMain, hStranger, iMessage, 2108, Text.data(), 513);
        b.Record(hMain, hStranger, iMessage, 2108, nullptr, 513);
        b.Record(hMain, hStranger, iMessage, 2108, Pattern.data(), 1);
        b.Record(hMain, hStranger, iMessage, 2108, Pattern.data(), static_cast<DWORD>(Pattern.size()));
    }

    // The infodriver's plain messages, with parameters no infodriver sends.
    const std::vector<LPARAM> OddValues = {0,     lMinus,       0xFFFF,
                                           lJunk, lDriverImage, static_cast<LPARAM>(0x7FFFFFFFFFFFFFFFll)};
    b.Kind("plain 2728 (slot changed)");
    for (LPARAM lValue : OddValues)
        b.SendAndPost(hClient, 2728, 5, lValue); // a slot below 1330: ignored whatever lParam holds
    b.SendAndPost(hClient, 2728, 2109, lDriverImage);
    Expected[2109] = ""; // a plain message's lParam is never read as the text
    b.Kind("plain 2728 naming no slot (0, -1, above 65535)");
    b.SendAndPost(hClient, 2728, 0, lJunk);
    b.SendAndPost(hClient, 2728, static_cast<WPARAM>(-1), lJunk);
    b.SendAndPost(hClient, 2728, 0x10000 + 1201, 0);        // would be slot 1201, CAM 1's name
    b.SendAndPost(hClient, 2728, 0x100000000ull + 2110, 0); // would be slot 2110
    b.SendAndPost(hClient, 2728, 0xFFFF, lJunk);            // the last slot: written back, empty
    Expected[0xFFFF] = "";
    b.Kind("plain 2730 (text for the client)");
    for (LPARAM lValue : OddValues)
        b.SendAndPost(hClient, 2730, static_cast<WPARAM>(lValue), lValue);
    b.Kind("plain 2729 (infodriver's window) with odd handles");
    for (LPARAM lValue : OddValues)
        b.SendAndPost(hClient, 2729, static_cast<WPARAM>(lValue), lValue);
    for (HWND hNamed : {hStranger, hMain, hClient, GetDesktopWindow(), HWND_BROADCAST})
        b.SendAndPost(hClient, 2729, reinterpret_cast<WPARAM>(hNamed), 0);
    b.Kind("plain 2190 (device ID in use)");
    for (LPARAM lValue : OddValues)
        b.SendAndPost(hClient, 2190, static_cast<WPARAM>(lValue), lValue);
    b.Kind("plain 2032 (notification)");
    for (LPARAM lValue : OddValues)
        b.SendAndPost(hClient, 2032, static_cast<WPARAM>(lValue), lValue);
    b.Kind("plain 2984 (a reply without its record)");
    b.SendAndPost(hClient, 2984, 1, lJunk);
    b.Kind("the infodriver's messages to the main window");
    for (UINT iMessage : {2728u, 2729u, 2730u, 2190u, 2032u, 2984u})
        b.SendAndPost(hMain, iMessage, reinterpret_cast<WPARAM>(hStranger), lJunk);

    // The main window's own messages, from outside.
    b.Kind("WM_COMMNOTIFY naming another port");
    for (LPARAM lPort : {static_cast<LPARAM>(0), static_cast<LPARAM>(1), static_cast<LPARAM>(8), lJunk,
                         lMinus, lDriverImage})
        for (WPARAM wParam : {0, 1}) {
            b.SendAndPost(hMain, WM_COMMNOTIFY, wParam, lPort);
            b.Post(hClient, WM_COMMNOTIFY, wParam, lPort);
        }
    b.Kind("WM_TIMER with ids the driver did not set");
    for (WPARAM wId : {static_cast<WPARAM>(0), static_cast<WPARAM>(3), static_cast<WPARAM>(0xFFFF),
                       static_cast<WPARAM>(-1)}) {
        b.SendAndPost(hMain, WM_TIMER, wId, 0);
        b.SendAndPost(hClient, WM_TIMER, wId, 0);
    }
    b.Kind("WM_TIMER naming a timer procedure");
    for (WPARAM wId : {static_cast<WPARAM>(1), static_cast<WPARAM>(3)})
        for (LPARAM lProc : {lExitProcess, lJunk, lDriverImage}) {
            b.SendAndPost(hMain, WM_TIMER, wId, lProc);
            b.Post(hClient, WM_TIMER, wId, lProc);
        }
    b.Kind("WM_TIMER naming a timer procedure, posted to the thread");
    const DWORD dwThread = GetWindowThreadProcessId(hMain, nullptr);
    for (LPARAM lProc : {lExitProcess, lJunk})
        b.PostToThread(dwThread, WM_TIMER, 1, lProc);
    b.Kind("WM_SYSTIMER naming a timer procedure");
    b.Post(hMain, WM_SYSTIMER_MESSAGE, 3, lExitProcess);
    b.Post(hClient, WM_SYSTIMER_MESSAGE, 3, lJunk);
    b.Kind("WM_COMMAND with ids the menu does not have");
    for (WPARAM wId : {0, 1, 2, 103, 106, 9999, 40000, 65535})
        for (WPARAM wCode : {0, 1}) {
            b.SendAndPost(hMain, WM_COMMAND, wCode << 16 | wId, 0);
            b.Post(hMain, WM_COMMAND, wCode << 16 | wId, lJunk);
        }

    // Creation and destruction that the driver did not begin.
    CREATESTRUCTA Create{};
    Create.lpCreateParams = reinterpret_cast<void*>(lJunk);
    Create.lpszName = "hostile";
    Create.lpszClass = "extinfospwn";
    Create.style = WS_VSCROLL | WS_HSCROLL | WS_VISIBLE;
    for (HWND hTo : {hMain, hClient}) {
        const bool bMain = hTo == hMain;
        b.Kind(bMain ? "WM_NCCREATE to the main window" : "WM_NCCREATE to the client's window");
        b.Send(hTo, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&Create));
        b.Post(hTo, WM_NCCREATE, 0, 0);
        b.Kind(bMain ? "WM_CREATE to the main window" : "WM_CREATE to the client's window");
        b.Send(hTo, WM_CREATE, 0, reinterpret_cast<LPARAM>(&Create));
        b.Post(hTo, WM_CREATE, 0, 0);
        b.Kind(bMain ? "WM_DESTROY to the main window" : "WM_DESTROY to the client's window");
        b.SendAndPost(hTo, WM_DESTROY, 0, 0);
        b.Kind(bMain ? "WM_NCDESTROY to the main window" : "WM_NCDESTROY to the client's window");
        b.SendAndPost(hTo, WM_NCDESTROY, 0, 0);
    }
    b.Kind("WM_CLOSE to the client's window");
    b.SendAndPost(hClient, WM_CLOSE, 0, 0);
    b.Kind("WM_QUIT posted to either window and to the thread");
    b.Post(hMain, WM_QUIT, 5, 0);
    b.Post(hClient, WM_QUIT, 6, 0);
    b.PostToThread(dwThread, WM_QUIT, 7, 0);

    // The posted part is handled in turn with the show's notifications.
    b.Send(hMain, WM_NULL, 0, 0);
    Sleep(500);
    bPlaying = false;
    Player.join();
    WaitForQuiet(*Standin, 700, 15000);

    std::printf("kinds tried: %zu (%d sends, %d posts, %d posts the system refused)\n", b.Kinds.size(),
                b.iSends, b.iPosts, b.iRefusedPosts);
    for (const std::string& sKind : b.Kinds)
        std::printf("  %s\n", sKind.c_str());
    EXPECT_GE(b.Kinds.size(), 20u);
    EXPECT_TRUE(b.Late.empty()) << "a send did not come back: " << b.Late.front();

    ASSERT_TRUE(Driver->Running());
    EXPECT_TRUE(IsWindow(hMain));
    EXPECT_TRUE(IsWindow(hClient));
    EXPECT_EQ(FindNamedWindow(dwDriver, "extinfospwn", ""), hClient) << "the client's window was renamed";
    char szTitle[128] = "";
    GetWindowTextA(hMain, szTitle, sizeof szTitle);
    char szExpected[32];
    std::snprintf(szExpected, sizeof szExpected, "Dravik_%03d - ", NUMBER);
    EXPECT_EQ(std::string(szTitle).rfind(szExpected, 0), 0u) << szTitle;

    // Every forged change above 1329 was written back with the text its record carried; none that
    // named no slot was written anywhere.
    for (const auto& Slot : Expected)
        EXPECT_EQ(LastWrite(Slot.first, iFirstLine), standin::Escaped(Slot.second)) << "slot " << Slot.first;
    EXPECT_EQ(LastWrite(2110, iFirstLine), "-");
    ASSERT_FALSE(WritesOf(*Standin, 0xFFFF, iFirstLine).empty());
    EXPECT_EQ(WritesOf(*Standin, 0xFFFF, iFirstLine).front(), "hostile"); // from the numeric record
    const std::vector<std::string> Cam1 = WritesOf(*Standin, 1201, iFirstLine);
    EXPECT_EQ(std::count(Cam1.begin(), Cam1.end(), ""), 0) << "CAM 1's name was overwritten";

    // Still the stand-in's one client (known by the 16 bits its search carried), and the link still
    // goes there.
    const std::size_t iFrom = Standin->LineCount();
    Standin->Send("clients");
    ASSERT_NE(Standin->WaitFor("clients-end ", 3000, iFrom), "");
    EXPECT_EQ(Standin->WaitFor("clients-end ", 10, iFrom), "clients-end 1");
    EXPECT_EQ(Standin->WaitFor("client ", 10, iFrom),
              "client " +
                  standin::HandleText(reinterpret_cast<HWND>(reinterpret_cast<UINT_PTR>(hClient) & 0xFFFF)));
    const std::string sLog = Site->LogText();
    EXPECT_EQ(sLog.find("Driver closing"), std::string::npos);
    EXPECT_EQ(sLog.find("disconnected"), std::string::npos);
    EXPECT_EQ(Standin->WaitFor("detach", 10, iFirstLine), "");
    DestroyWindow(hStranger);
}

TEST_F(HostileTraffic, TimerProceduresPostedDuringModalLoopsAreNotCalled) {
    ASSERT_TRUE(DriverIntact());
    const DWORD dwDriver = Driver->Id();
    const LPARAM lExitProcess = ExitProcessInDriver();
    ASSERT_NE(lExitProcess, 0);
    std::vector<std::string> Kinds;
    const DWORD dwThread = GetWindowThreadProcessId(hMain, nullptr);
    auto PostProcedures = [&](HWND hTo) {
        PostMessageA(hTo, WM_TIMER, 7, lExitProcess);
        PostMessageA(hTo, WM_SYSTIMER_MESSAGE, 7, lExitProcess);
        PostThreadMessageA(dwThread, WM_TIMER, 7, lExitProcess);
    };

    // The About box runs a loop of its own, and so do the menu bar and a keyboard move; any
    // process can start them.
    Kinds.push_back("WM_COMMAND 104 (About) from outside, with timer procedures during its loop");
    PostMessageA(hMain, WM_COMMAND, 104, 0);
    HWND hAbout = nullptr;
    for (int i = 0; i < 100 && hAbout == nullptr; ++i, Sleep(50))
        hAbout = FindNamedWindow(dwDriver, "#32770", "About Dravik");
    ASSERT_NE(hAbout, nullptr);
    PostProcedures(hMain);
    PostProcedures(hAbout);
    Sleep(300);
    EXPECT_TRUE(Driver->Running()) << "exit code " << Driver->Wait(0);
    PostMessageA(hAbout, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 100 && IsWindow(hAbout); ++i)
        Sleep(50);
    EXPECT_FALSE(IsWindow(hAbout));

    const struct {
        WPARAM wCommand;
        DWORD dwFlag;
        const char* pszKind;
    } Loops[] = {
        {SC_KEYMENU, GUI_INMENUMODE,
         "WM_SYSCOMMAND SC_KEYMENU from outside, with timer procedures in the menu"},
        {SC_MOVE, GUI_INMOVESIZE, "WM_SYSCOMMAND SC_MOVE from outside, with timer procedures while moving"},
    };
    for (const auto& Loop : Loops) {
        ASSERT_TRUE(Driver->Running());
        Kinds.push_back(Loop.pszKind);
        PostMessageA(hMain, WM_SYSCOMMAND, Loop.wCommand, 0);
        EXPECT_TRUE(WaitForGuiFlags(dwThread, Loop.dwFlag, true)) << Loop.pszKind;
        PostProcedures(hMain);
        Sleep(300);
        EXPECT_TRUE(Driver->Running()) << Loop.pszKind << ": exit code " << Driver->Wait(0);
        // Escape ends the loop (a move may leave the menu bar selected: a second one ends that).
        for (int i = 0; i < 5 && !WaitForGuiFlags(dwThread, GUI_INMENUMODE | GUI_INMOVESIZE, false, 300);
             ++i) {
            PostMessageA(hMain, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageA(hMain, WM_KEYUP, VK_ESCAPE, 0);
        }
        EXPECT_TRUE(WaitForGuiFlags(dwThread, GUI_INMENUMODE | GUI_INMOVESIZE, false)) << Loop.pszKind;
    }
    std::printf("modal-loop kinds tried: %zu\n", Kinds.size());
    for (const std::string& sKind : Kinds)
        std::printf("  %s\n", sKind.c_str());
    EXPECT_TRUE(DriverIntact());
}

TEST_F(HostileTraffic, AfterwardsTheShowIsPublishedAsItsBytesDecode) {
    ASSERT_TRUE(DriverIntact());
    ASSERT_TRUE(PlaySteps(*Device, Steps, 40, Sent));
    WaitForQuiet(*Standin, 700, 20000);
    const Decoding Decoded = DecodeInMemory(Sent, 1, LAST_COMPARED_SLOT);
    ASSERT_GT(Decoded.Slots.size(), 100u);
    std::size_t nMismatches = 0;
    const std::string sReport =
        SlotDifferences(PublishedSlots(*Standin, 1, LAST_COMPARED_SLOT), Decoded.Slots, 20, &nMismatches);
    EXPECT_EQ(nMismatches, 0u) << sReport;
    std::printf("%zu slots compared, %zu show bytes played\n", Decoded.Slots.size(), Sent.size());
}

TEST_F(HostileTraffic, TheOperatorsExitStillEndsTheDriver) {
    ASSERT_TRUE(DriverIntact());
    PostMessageA(hMain, WM_COMMAND, 105, 0);
    EXPECT_EQ(Driver->Wait(10000), 0u);
    EXPECT_NE(Site->LogText().find("Driver closing"), std::string::npos);
    EXPECT_NE(Standin->WaitFor("detach " + std::to_string(NUMBER), 3000), "");
}
