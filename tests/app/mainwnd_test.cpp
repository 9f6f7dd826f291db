// The main window's start-up and menu: the real window, class and procedure in the test process,
// the stand-in's core as the infodriver, real settings and log files.
#include "app/foreign_timer.h"
#include "app/work_window.h"
#include "tests/app/main_window_fixture.h"
#include "tests/support/dialogs.h"

#include <gtest/gtest.h>

namespace {

// A state of the debug list as the operator sees it.
struct ListView {
    const char* pszName;
    bool bFull;               // 640 high, else the client area is the panel's
    bool bOn;                 // "On" marked
    bool bHide;               // "Hide" marked
    bool bOutput;             // debug lines reach the list
    const char* pszFileValue; // DebugMode in the settings file
};

constexpr ListView FULL_WITH_OUTPUT{"full with output", true, true, false, true, "1"};
constexpr ListView FULL_WITHOUT_OUTPUT{"full without output", true, false, false, false, "0"};
constexpr ListView HIDDEN{"hidden", false, false, true, false, "0"};

class MainWindow : public MainWindowTest {
  protected:
    // The list covered, the panel whole: whatever frame the system draws round it.
    void ExpectPanelOnly() {
        RECT client{}, panel{};
        GetClientRect(hMain, &client);
        GetClientRect(hStatusPanel, &panel);
        EXPECT_EQ(client.bottom, panel.bottom);
        EXPECT_EQ(panelHeight, panel.bottom + 2);
    }

    bool OutputReachesList() {
        const int iBefore = ListCount();
        DebugLine("output probe");
        return ListCount() > iBefore;
    }

    void ExpectView(const ListView& view, const char* pszFileValue = nullptr) {
        SCOPED_TRACE(view.pszName);
        const RECT rc = WindowRect();
        EXPECT_EQ(rc.left, 0);
        EXPECT_EQ(rc.top, 0);
        EXPECT_EQ(rc.right - rc.left, MAIN_WIDTH);
        if (view.bFull)
            EXPECT_EQ(rc.bottom - rc.top, MAIN_FULL_HEIGHT);
        else
            ExpectPanelOnly();
        EXPECT_EQ(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_ON), view.bOn);
        EXPECT_EQ(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_HIDE), view.bHide);
        EXPECT_EQ(Setting("DebugMode"), pszFileValue != nullptr ? pszFileValue : view.pszFileValue);
        EXPECT_EQ(OutputReachesList(), view.bOutput);
    }
};

} // namespace

TEST_F(MainWindow, DebugModeOneStartsFullWithOutputAtTheTopLeftAndTheTimerRuns) {
    StartWith("DebugMode=1\r\n");
    ExpectView(FULL_WITH_OUTPUT);
    EXPECT_TRUE(ShellWindow::HasLine("Serial port 99 is not available"));
    EXPECT_FALSE(DevicePort.IsOpen());

    // The first tick polls the infodriver's redundancy state (TX/RX) into the title.
    const DWORD dwStart = GetTickCount();
    while (WindowText(hMain) != "Dravik_047 - TX/RX - V1.3.0" && GetTickCount() - dwStart < 3000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(20);
    }
    EXPECT_EQ(WindowText(hMain), "Dravik_047 - TX/RX - V1.3.0");
}

TEST_F(MainWindow, DebugModeZeroStartsHiddenBelowThePanel) {
    StartWith("DebugMode=0\r\n");
    ASSERT_GT(panelHeight, 2);
    ExpectView(HIDDEN);
}

TEST_F(MainWindow, OnAndHideWalkTheThreeStates) {
    StartWith("DebugMode=1\r\n");
    struct Step {
        int iCommand;
        const ListView* pAfter;
    };
    const Step steps[] = {
        {IDM_DEBUG_ON, &FULL_WITHOUT_OUTPUT},
        {IDM_DEBUG_ON, &FULL_WITH_OUTPUT},
        {IDM_DEBUG_HIDE, &HIDDEN},
        {IDM_DEBUG_ON, &FULL_WITH_OUTPUT},
        {IDM_DEBUG_HIDE, &HIDDEN},
        {IDM_DEBUG_HIDE, &FULL_WITH_OUTPUT},
        {IDM_DEBUG_ON, &FULL_WITHOUT_OUTPUT},
        {IDM_DEBUG_HIDE, &HIDDEN},
    };
    int iStep = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(::testing::Message()
                     << "step " << ++iStep << (step.iCommand == IDM_DEBUG_ON ? " On" : " Hide"));
        EXPECT_EQ(Command(step.iCommand), 0);
        ExpectView(*step.pAfter);
    }
}

TEST_F(MainWindow, HideUncoversAListThatStartedHidden) {
    StartWith("DebugMode=0\r\n");
    Command(IDM_DEBUG_HIDE);
    ExpectView(FULL_WITH_OUTPUT);
}

// Any DebugMode but 0 is on at start; the two commands take only 1 as on.
class OddDebugMode : public MainWindow, public ::testing::WithParamInterface<const char*> {};

TEST_P(OddDebugMode, CountsAsOnAtStartAndOnTurnsItIntoOne) {
    StartWith(std::string("DebugMode=") + GetParam() + "\r\n");
    ExpectView(FULL_WITH_OUTPUT, GetParam());
    Command(IDM_DEBUG_ON);
    ExpectView(FULL_WITH_OUTPUT);
    Command(IDM_DEBUG_ON);
    ExpectView(FULL_WITHOUT_OUTPUT);
}

TEST_P(OddDebugMode, TheFirstHideUncoversInsteadOfCovering) {
    StartWith(std::string("DebugMode=") + GetParam() + "\r\n");
    Command(IDM_DEBUG_HIDE);
    ExpectView(FULL_WITH_OUTPUT);
    Command(IDM_DEBUG_HIDE);
    ExpectView(HIDDEN);
}

INSTANTIATE_TEST_SUITE_P(MainWindow, OddDebugMode, ::testing::Values("2", "-1"));

namespace {

// A frame like that of Windows 10 at 96 dpi, taller than Wine's: a caption of 23 pixels, a menu
// bar of 20 and a padded border. Wine keeps the metrics for the whole desktop: put back after.
class Windows10Frame {
  public:
    Windows10Frame() {
        Kept.cbSize = sizeof Kept;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof Kept, &Kept, 0);
        NONCLIENTMETRICSA Larger = Kept;
        Larger.iCaptionHeight = 22;
        Larger.iMenuHeight = 19;
        Larger.iPaddedBorderWidth = 4;
        bSet = SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof Larger, &Larger, 0) != FALSE;
    }
    ~Windows10Frame() {
        if (bSet)
            SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof Kept, &Kept, 0);
    }
    Windows10Frame(const Windows10Frame&) = delete;
    Windows10Frame& operator=(const Windows10Frame&) = delete;
    bool Applied() const { return bSet && GetSystemMetrics(SM_CYCAPTION) == 23; }

  private:
    NONCLIENTMETRICSA Kept{};
    bool bSet = false;
};

} // namespace

TEST_F(MainWindow, OnAWindows10FrameTheCoveredListStillLeavesThePanelWhole) {
    const Windows10Frame Frame;
    ASSERT_TRUE(Frame.Applied());
    StartWith("DebugMode=0\r\n");
    ExpectView(HIDDEN);
    Command(IDM_DEBUG_HIDE);
    ExpectView(FULL_WITH_OUTPUT);
    Command(IDM_DEBUG_HIDE);
    ExpectView(HIDDEN);
}

TEST_F(MainWindow, EnableTogglesTheLogFileItsMarkAndTheSetting) {
    StartWith("LogMode=0\r\n");
    EXPECT_FALSE(Checked(IDM_POPUP_LOG, IDM_LOG_ENABLE));
    LogLine("probe while off");

    Command(IDM_LOG_ENABLE);
    EXPECT_TRUE(Checked(IDM_POPUP_LOG, IDM_LOG_ENABLE));
    EXPECT_EQ(Setting("LogMode"), "1");
    LogLine("probe while on");

    Command(IDM_LOG_ENABLE);
    EXPECT_FALSE(Checked(IDM_POPUP_LOG, IDM_LOG_ENABLE));
    EXPECT_EQ(Setting("LogMode"), "0");
    LogLine("probe while off again");

    const std::string sLog = LogText();
    EXPECT_EQ(sLog.find("probe while off"), std::string::npos);
    EXPECT_NE(sLog.find("probe while on"), std::string::npos);
}

TEST_F(MainWindow, AnyNonZeroLogModeIsMarkedAndEnableSwitchesItOff) {
    StartWith("LogMode=5\r\n");
    EXPECT_TRUE(Checked(IDM_POPUP_LOG, IDM_LOG_ENABLE));
    Command(IDM_LOG_ENABLE);
    EXPECT_FALSE(Checked(IDM_POPUP_LOG, IDM_LOG_ENABLE));
    EXPECT_EQ(Setting("LogMode"), "0");
    Command(IDM_LOG_ENABLE);
    EXPECT_EQ(Setting("LogMode"), "1");
}

TEST_F(MainWindow, ClearEmptiesTheListWithTheOutputOnOrOff) {
    StartWith("DebugMode=1\r\n");
    ASSERT_GT(ListCount(), 0); // the start-up lines
    Command(IDM_DEBUG_CLEAR);
    EXPECT_EQ(ListCount(), 0);

    DebugLine("a line");
    Command(IDM_DEBUG_ON); // output off, list in view
    ASSERT_EQ(ListCount(), 1);
    Command(IDM_DEBUG_CLEAR);
    EXPECT_EQ(ListCount(), 0);
}

// Readable but not writable, as the Windows directory is to a standard user: the defaults written
// back and the menu's switches are lost, and that is said once. (Root ignores a read-only file
// under Wine; a file held open without write sharing refuses the writes instead.)
TEST_F(MainWindow, ASettingsFileThatCannotBeWrittenIsNamedOnceInTheListAndTheLog) {
    WriteSettings("LogMode=1\r\nDebugMode=1\r\n");
    HANDLE hHeld =
        CreateFileA(sIni.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    StartInfodriver();
    const bool bCreated = CreateMainWindow() != nullptr;
    Command(IDM_LOG_ENABLE);
    Command(IDM_LOG_ENABLE);
    Command(IDM_DEBUG_ON);
    Command(IDM_DEBUG_ON);
    CloseHandle(hHeld);
    ASSERT_TRUE(bCreated);

    const std::string sLine =
        "Settings file " + sIni + " not writable (error 32) - defaults and menu switches are lost";
    int iListed = 0;
    for (const std::string& s : ShellWindow::Lines())
        iListed += sLine.rfind(s, 0) == 0 && s.size() > 40; // the list cuts a line at 160 characters
    EXPECT_EQ(iListed, 1);
    const std::string sLog = LogText();
    const std::size_t iAt = sLog.find(" - " + sLine + "\r\r\n");
    EXPECT_NE(iAt, std::string::npos) << sLog;
    EXPECT_EQ(sLog.find(sLine, iAt + sLine.size()), std::string::npos) << sLog;
}

TEST_F(MainWindow, OnlyTimerProceduresNamedToTheDriversOwnWindowsAreForeign) {
    StartWith("DebugMode=1\r\n");
    HWND hOther = CreateWindowExA(0, "STATIC", "not the driver's", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                  nullptr, hInst, nullptr);
    auto Foreign = [](HWND hTo) {
        MSG msg{};
        msg.hwnd = hTo;
        msg.message = WM_TIMER;
        msg.wParam = 1;
        msg.lParam = reinterpret_cast<LPARAM>(&DefWindowProcA);
        return IsForeignTimer(msg);
    };
    EXPECT_TRUE(Foreign(hMain));
    EXPECT_TRUE(Foreign(hDebugList));
    EXPECT_TRUE(Foreign(Infodriver.hWnd));
    EXPECT_TRUE(Foreign(nullptr)); // the driver's thread
    // Another window of the thread, and the control library's indicator, keep their procedures.
    EXPECT_FALSE(Foreign(hOther));
    EXPECT_FALSE(Foreign(GetDlgItem(hStatusPanel, IDC_REDUNDANCY_MODE)));
    DestroyWindow(hOther);
}

TEST_F(MainWindow, ACommandWhileMinimisedSizesTheWindowForWhenItIsRestored) {
    StartWith("DebugMode=1\r\n");
    ShowWindow(hMain, SW_MINIMIZE); // as the entry point shows it
    ASSERT_TRUE(IsIconic(hMain));

    Command(IDM_DEBUG_HIDE);
    EXPECT_TRUE(IsIconic(hMain));
    WINDOWPLACEMENT place{};
    place.length = sizeof place;
    GetWindowPlacement(hMain, &place);
    EXPECT_LT(place.rcNormalPosition.bottom - place.rcNormalPosition.top, MAIN_FULL_HEIGHT);
    EXPECT_EQ(place.rcNormalPosition.right - place.rcNormalPosition.left, MAIN_WIDTH);

    ShowWindow(hMain, SW_RESTORE);
    ExpectPanelOnly();
    EXPECT_TRUE(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_HIDE));
}

namespace {

// What Windows does to the search of a driver started at a lower privilege level than other
// windows of the desktop (the infodriver's among them): each send is refused.
LRESULT WINAPI RefusedAcrossPrivilegeLevels(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

} // namespace

TEST_F(MainWindow, WithoutAnInfodriverTheWindowIsRefusedAfterTheMessageBox) {
    WriteSettings("LogMode=1\r\nDebugMode=1\r\n");
    std::vector<std::string> listWhileShown;
    std::string sBoxText;
    DialogWatcher watcher("Driver Error", CloseBy::OkButton, [&](HWND hBox) {
        sBoxText = MessageBoxText(hBox);
        listWhileShown = ShellWindow::Lines(); // the list still exists while the box is up
    });

    EXPECT_EQ(CreateMainWindow(), nullptr);
    watcher.Join();

    ASSERT_TRUE(watcher.Found());
    EXPECT_TRUE(watcher.ClosedAsTold());
    EXPECT_EQ(sBoxText, "VORN Dravik Driver Error\n\nCannot hook into InfoDriver 47");
    EXPECT_EQ(watcher.Owner(), hMainWnd); // the window being created
    auto Listed = [&](const std::string& sPrefix) {
        for (const std::string& s : listWhileShown)
            if (s.rfind(sPrefix, 0) == 0)
                return true;
        return false;
    };
    EXPECT_TRUE(Listed("Connect failed to infodriver 47"));
    EXPECT_FALSE(Listed("Opening serial port"));
    EXPECT_FALSE(Listed("Infodriver 47 may run at another privilege level")); // nothing refused the search
    const std::string sLog = LogText();
    EXPECT_NE(sLog.find(" - Connect failed to infodriver 47\r\r\n"), std::string::npos) << sLog;
    EXPECT_EQ(sLog.find("Serial port"), std::string::npos) << sLog;
    EXPECT_FALSE(DevicePort.IsOpen());
    EXPECT_EQ(Infodriver.hWnd, nullptr);
}

TEST_F(MainWindow, ASearchRefusedAcrossPrivilegeLevelsSaysSoBesideTheMessageBox) {
    WriteSettings("LogMode=1\r\nDebugMode=1\r\n");
    pfnSearchSend = RefusedAcrossPrivilegeLevels;
    std::string sListed; // the list, read while the box is up
    DialogWatcher watcher("Driver Error", CloseBy::OkButton, [&](HWND) {
        for (const std::string& s : ShellWindow::Lines())
            sListed += s + "\n";
    });
    EXPECT_EQ(CreateMainWindow(), nullptr);
    watcher.Join();
    pfnSearchSend = SendMessageTimeoutA;

    EXPECT_TRUE(watcher.Found());
    const std::string sLog = LogText();
    for (const std::string sLine :
         {"Infodriver 47 may run at another privilege level: ",
          "Start the driver and the infodriver the same way: both as administrator, or neither"}) {
        EXPECT_NE(sListed.find(sLine), std::string::npos) << sListed;
        EXPECT_NE(sLog.find(" - " + sLine), std::string::npos) << sLog;
    }
}

namespace {

void RecordingClock(SYSTEMTIME* pTime) {
    *pTime = SYSTEMTIME{2026, 12, 3, 9, 14, 35, 1, 0};
}

} // namespace

TEST_F(MainWindow, RecordLineRecordsBesideTheLogUnderItsMarkAndAMissingFolderIsReported) {
    StartWith("LogMode=1\r\nDebugMode=1\r\n");
    SetLogClock(RecordingClock);
    const std::string sFirst = sRoot + "\\sys\\logs\\Dravik_047_20261209_143501.rec";
    const std::string sSecond = sRoot + "\\sys\\logs\\Dravik_047_20261209_143501-2.rec";
    // The tick reports the file complete; the driver takes one a second at most.
    auto Completed = [&](const std::string& sFile) {
        for (int i = 0; i < 150 && LogText().find("Line recording complete: " + sFile) == std::string::npos; ++i) {
            Sleep(20);
            SendMessageA(hMain, WM_TIMER, TICK_TIMER_ID, 0);
        }
        return LogText().find("Line recording complete: " + sFile + ", 0 bytes of the line") != std::string::npos;
    };

    Command(IDM_DEBUG_RECORD);
    EXPECT_TRUE(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_RECORD));
    EXPECT_TRUE(ShellWindow::HasLine("Recording the line to " + sFirst));
    EXPECT_NE(LogText().find("Recording the line to " + sFirst + "\r\r\n"), std::string::npos) << LogText();
    Command(IDM_DEBUG_RECORD);
    EXPECT_FALSE(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_RECORD));
    EXPECT_TRUE(ShellWindow::HasLine("Line recording stopped: " + sFirst));
    EXPECT_TRUE(Completed(sFirst)) << LogText();
    // Started again within the same second: a file of its own, the first kept.
    Command(IDM_DEBUG_RECORD);
    EXPECT_TRUE(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_RECORD));
    Command(IDM_DEBUG_RECORD);
    EXPECT_TRUE(Completed(sSecond)) << LogText();
    EXPECT_TRUE(std::filesystem::exists(sFirst));

    // Without the log's folder nothing starts, and the list says why.
    std::filesystem::remove_all(sRoot + "\\sys\\logs");
    Command(IDM_DEBUG_RECORD);
    EXPECT_FALSE(Checked(IDM_POPUP_DEBUG, IDM_DEBUG_RECORD));
    EXPECT_TRUE(ShellWindow::HasLine("Cannot record the line to " + sFirst + " (error 3)"));
    SetLogClock(nullptr);
}
