// The debug list and the log file, through a real list box and real files.
#include "app/diagnostics.h"
#include "protocol/assembly.h"
#include "tests/app/shell_window.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace {

std::string TempPath(const char* pszName) {
    char szDir[MAX_PATH];
    GetTempPathA(MAX_PATH, szDir);
    return std::string(szDir) + pszName;
}

std::string FileBytes(const std::string& sPath) {
    std::ifstream file(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void FixedClock(SYSTEMTIME* pTime) {
    *pTime = SYSTEMTIME{};
    pTime->wYear = 2011;
    pTime->wMonth = 8;
    pTime->wDay = 2;
    pTime->wHour = 9;
    pTime->wMinute = 35;
    pTime->wSecond = 44;
}

class Diagnostics : public ::testing::Test {
  protected:
    void SetUp() override {
        shell = std::make_unique<ShellWindow>();
        sLog = TempPath("dravik_diagnostics_test.log");
        DeleteFileA(sLog.c_str());
        lstrcpynA(szLogPath, sLog.c_str(), LOG_PATH_CHARS);
        iDebugMode = 1;
        iLogMode = 1;
        SetLogClock(FixedClock);
    }
    void TearDown() override {
        SetLogClock(nullptr);
        iLogMode = 0;
        iWrtPtr = 0;
        DeleteFileA(sLog.c_str());
        shell.reset();
    }

    std::unique_ptr<ShellWindow> shell;
    std::string sLog;
};

} // namespace

TEST_F(Diagnostics, TheListKeepsTheNewestFiveHundredLinesInView) {
    for (int i = 1; i <= 501; ++i)
        DebugLine("line %d", i);
    const std::vector<std::string> lines = ShellWindow::Lines();
    ASSERT_EQ(lines.size(), 500u);
    EXPECT_EQ(lines.front(), "line 2");
    EXPECT_EQ(lines.back(), "line 501");
    // The newest line is in view.
    RECT rcList{};
    GetClientRect(hDebugList, &rcList);
    const LRESULT iTop = SendMessageA(hDebugList, LB_GETTOPINDEX, 0, 0);
    const LRESULT iItemHeight = SendMessageA(hDebugList, LB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(iItemHeight, 0);
    EXPECT_GT(iTop, 400);
    EXPECT_GE(iTop + rcList.bottom / iItemHeight, 499);
}

TEST_F(Diagnostics, ALongTextIsCutInTheListButWholeInTheLogAndPercentSignsStay) {
    const std::string sLong(200, 'x');
    DebugLine("%s", sLong.c_str());
    LogLine("%s", sLong.c_str());
    DebugLine("slot %d has changed to '%s'", 3000, "50% %s %n");
    LogLine("slot %d has changed to '%s'", 3000, "50% %s %n");
    const std::vector<std::string> lines = ShellWindow::Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], sLong.substr(0, 160));
    EXPECT_EQ(lines[1], "slot 3000 has changed to '50% %s %n'");
    EXPECT_EQ(FileBytes(sLog), "08/02/11  09:35:44 - " + sLong +
                                   "\r\r\n08/02/11  09:35:44 - slot 3000 has changed to '50% %s %n'\r\r\n");
}

TEST_F(Diagnostics, ALogLineIsDateTimeAndTextWithTheOldLineEnd) {
    LogLine("Driver closing");
    EXPECT_EQ(FileBytes(sLog), "08/02/11  09:35:44 - Driver closing\r\r\n");
    // Appended, never truncated.
    LogLine("COMMS FAIL");
    EXPECT_EQ(FileBytes(sLog),
              "08/02/11  09:35:44 - Driver closing\r\r\n08/02/11  09:35:44 - COMMS FAIL\r\r\n");
}

TEST_F(Diagnostics, TheHexDumpIsAHeaderAndLinesOfSixteenBytes) {
    iWrtPtr = 0;
    HexDump();
    EXPECT_EQ(ShellWindow::Lines(), std::vector<std::string>{"Hexdump - iWrtPtr = 0"});

    SendMessageA(hDebugList, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < 17; ++i)
        AssemblyBuffer[static_cast<std::size_t>(i)] = static_cast<unsigned char>(0xF0 + i);
    iWrtPtr = 17;
    HexDump();
    EXPECT_EQ(ShellWindow::Lines(),
              (std::vector<std::string>{"Hexdump - iWrtPtr = 17",
                                        " F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF", " 00"}));
}

TEST_F(Diagnostics, NothingIsWrittenWhileItsSwitchIsOff) {
    iDebugMode = 0;
    iLogMode = 0;
    DebugLine("hidden");
    iWrtPtr = 3;
    HexDump();
    LogLine("not logged");
    EXPECT_TRUE(ShellWindow::Lines().empty());
    EXPECT_EQ(GetFileAttributesA(sLog.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Diagnostics, ALogInAMissingFolderIsLostWithoutHarm) {
    const std::string sMissing = TempPath("dravik_no_such_folder\\driver.log");
    lstrcpynA(szLogPath, sMissing.c_str(), LOG_PATH_CHARS);
    LogLine("lost");
    EXPECT_EQ(GetFileAttributesA(sMissing.c_str()), INVALID_FILE_ATTRIBUTES);
    DebugLine("still here");
    EXPECT_EQ(ShellWindow::Lines(), std::vector<std::string>{"still here"});
}
