// The configuration: where the settings file is found, what is read from it and written back, and
// what reaches the status panel and the debug list. Real profile files in a temporary folder, real
// environment variables of this process.
#include "app/config.h"
#include "app/diagnostics.h"
#include "protocol/settings.h"
#include "protocol/tally.h"
#include "tests/app/shell_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The profile functions may keep a file's contents cached by name; a file written or removed
// behind their back must be dropped from that cache.
void DropProfileCache(const std::string& sPath) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, sPath.c_str());
}

std::string FileBytes(const std::string& sPath) {
    std::ifstream file(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& sPath) {
    return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFileBytes(const std::string& sPath, const std::string& sBytes) {
    DropProfileCache(sPath);
    std::ofstream(sPath, std::ios::binary | std::ios::trunc) << sBytes;
    DropProfileCache(sPath);
}

void RemoveFile(const std::string& sPath) {
    DropProfileCache(sPath);
    DeleteFileA(sPath.c_str());
    DropProfileCache(sPath);
}

// A file outside the test's folder, as the test found it: removed for the test, put back after.
class FileKeeper {
  public:
    explicit FileKeeper(std::string sFilePath) : sPath(std::move(sFilePath)) {
        bExisted = FileExists(sPath);
        if (bExisted)
            sBytes = FileBytes(sPath);
        RemoveFile(sPath);
    }
    ~FileKeeper() {
        RemoveFile(sPath);
        if (bExisted)
            WriteFileBytes(sPath, sBytes);
    }
    FileKeeper(const FileKeeper&) = delete;
    FileKeeper& operator=(const FileKeeper&) = delete;

  private:
    std::string sPath;
    std::string sBytes;
    bool bExisted = false;
};

// An environment variable as the test found it, restored after.
class EnvironmentKeeper {
  public:
    explicit EnvironmentKeeper(const char* pszName) : sName(pszName) {
        const DWORD dwSize = GetEnvironmentVariableA(pszName, nullptr, 0);
        if (dwSize > 0) {
            sValue.resize(dwSize);
            const DWORD dwLength = GetEnvironmentVariableA(pszName, &sValue[0], dwSize);
            sValue.resize(dwLength);
            bSet = true;
        }
    }
    ~EnvironmentKeeper() { SetEnvironmentVariableA(sName.c_str(), bSet ? sValue.c_str() : nullptr); }
    EnvironmentKeeper(const EnvironmentKeeper&) = delete;
    EnvironmentKeeper& operator=(const EnvironmentKeeper&) = delete;

  private:
    std::string sName;
    std::string sValue;
    bool bSet = false;
};

std::string WindowsDirectory() {
    char szDir[MAX_PATH] = "";
    GetWindowsDirectoryA(szDir, MAX_PATH);
    return szDir;
}

// A key of a profile file as the profile functions read it; "<missing>" when absent.
std::string Key(const std::string& sFile, const char* pszSection, const char* pszKey) {
    std::vector<char> text(1024);
    GetPrivateProfileStringA(pszSection, pszKey, "<missing>", text.data(), static_cast<DWORD>(text.size()),
                             sFile.c_str());
    return text.data();
}

std::string DeviceKey(const std::string& sFile, const char* pszKey) {
    return Key(sFile, "Dravik", pszKey);
}

const std::string sVornConfig = "c:\\vorn_config.ini";

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int iFolders = 0;
        char szTemp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, szTemp);
        sFolder = std::string(szTemp) + "dravik_config_" + std::to_string(GetCurrentProcessId()) + "_" +
                  std::to_string(++iFolders);
        std::filesystem::create_directories(sFolder);
        SetEnvironmentVariableA("CC_ROOT", nullptr);
        SetEnvironmentVariableA("CC_SYSTEM", nullptr);
        SetEnvironmentVariableA("CC_WORKSTATION", nullptr);
        iDeviceNumber = 7;
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(sFolder, error);
        iDeviceNumber = iKeptDevice;
        iDebugMode = iKeptDebugMode;
        iLogMode = iKeptLogMode;
        bExtensions = bKeptExtensions;
        iTXoutput = iKeptTxOutput;
        szLogPath[0] = '\0';
        ForgetPublishedTallies();
    }

    // CC_ROOT and CC_SYSTEM naming a fresh tree under the test's folder; the settings file's path.
    std::string UseTree(const std::string& sName) {
        const std::string sRoot = sFolder + "\\" + sName;
        std::filesystem::create_directories(sRoot + "\\sys\\config\\system");
        SetEnvironmentVariableA("CC_ROOT", sRoot.c_str());
        SetEnvironmentVariableA("CC_SYSTEM", "sys");
        return sRoot + "\\sys\\config\\system\\DEV_007.ini";
    }
    // A fresh tree whose settings file holds these lines of section "Dravik".
    std::string TreeWith(const std::string& sName, const std::string& sLines) {
        const std::string sFile = UseTree(sName);
        WriteFileBytes(sFile, "[Dravik]\r\n" + sLines);
        return sFile;
    }
    std::string NewFolder(const std::string& sName) {
        const std::string sPath = sFolder + "\\" + sName;
        std::filesystem::create_directories(sPath);
        return sPath;
    }

    ShellWindow Shell;
    std::string sFolder;
    EnvironmentKeeper KeptRoot{"CC_ROOT"};
    EnvironmentKeeper KeptSystem{"CC_SYSTEM"};
    EnvironmentKeeper KeptWorkstation{"CC_WORKSTATION"};
    EnvironmentKeeper KeptWinDir{"WINDIR"};
    FileKeeper KeptVornConfig{sVornConfig};
    FileKeeper KeptZivIni{WindowsDirectory() + "\\ZIV.INI"};
    FileKeeper KeptWindowsDeviceFile{WindowsDirectory() + "\\DEV_007.ini"};
    int iKeptDevice = iDeviceNumber;
    int iKeptDebugMode = iDebugMode;
    int iKeptLogMode = iLogMode;
    bool bKeptExtensions = bExtensions;
    int iKeptTxOutput = iTXoutput;
};

TEST_F(ConfigTest, RootAndSystemTogetherPlaceTheFilesInTheControlSystemTree) {
    const std::string sRoot = NewFolder("root");
    std::filesystem::create_directories(sRoot + "\\sys\\config\\system");
    // Environment names match whatever their case.
    SetEnvironmentVariableA("cc_root", sRoot.c_str());
    SetEnvironmentVariableA("Cc_System", "sys");

    LoadConfiguration();

    const std::string sIni = sRoot + "\\sys\\config\\system\\DEV_007.ini";
    EXPECT_EQ(sIni, iniPath);
    EXPECT_EQ(sRoot + "\\sys\\logs\\Dravik_007.log", defaultLogPath);
    EXPECT_EQ(defaultLogPath, DeviceKey(sIni, "LogPath"));
    EXPECT_TRUE(ShellWindow::HasLine("Path to ini file is " + sIni));
}

TEST_F(ConfigTest, RootWithoutSystemTakesTheFolderNamedInTheSharedConfigFile) {
    const std::string sConfigFolder = NewFolder("cfg");
    WriteFileBytes(sVornConfig, "[Config]\r\nConfigPath=" + sConfigFolder + "\r\n");
    SetEnvironmentVariableA("CC_ROOT", NewFolder("root").c_str());

    LoadConfiguration();

    EXPECT_EQ(sConfigFolder + "\\DEV_007.ini", iniPath);
    EXPECT_STREQ("c:\\vornlogs\\Dravik_007.log", defaultLogPath);
    EXPECT_TRUE(FileExists(sConfigFolder + "\\DEV_007.ini"));
}

TEST_F(ConfigTest, WithoutSharedConfigFileTheWindowsDirectoryHoldsTheSettingsAndNothingSharedIsWritten) {
    char szWinDir[MAX_PATH] = "";
    GetEnvironmentVariableA("WINDIR", szWinDir, MAX_PATH);

    LoadConfiguration();

    EXPECT_EQ(std::string(szWinDir) + "\\DEV_007.ini", iniPath);
    EXPECT_STREQ("c:\\vornlogs\\Dravik_007.log", defaultLogPath);
    EXPECT_TRUE(FileExists(WindowsDirectory() + "\\DEV_007.ini"));
    EXPECT_FALSE(FileExists(sVornConfig));
    EXPECT_FALSE(FileExists(WindowsDirectory() + "\\ZIV.INI"));
}

TEST_F(ConfigTest, WithoutWindirTheBareFileNameLeadsToTheWindowsDirectory) {
    SetEnvironmentVariableA("WINDIR", nullptr);
    WriteFileBytes(sVornConfig, "[Config]\r\nConfigPath=" + NewFolder("cfg") + "\r\n");

    LoadConfiguration();

    EXPECT_STREQ("DEV_007.ini", iniPath);
    EXPECT_TRUE(FileExists(WindowsDirectory() + "\\DEV_007.ini"));
}

TEST_F(ConfigTest, FreshStartCreatesTheSettingsFileWithTheTenDefaultsInOrder) {
    const std::string sIni = UseTree("fresh");
    ForgetPublishedTallies();
    TallyShown[5] = 1;

    LoadConfiguration();

    // The same keys written by the profile functions themselves, in the order the settings are read.
    const std::string sExpected = sFolder + "\\expected.ini";
    const std::string sDefaultLog = sFolder + "\\fresh\\sys\\logs\\Dravik_007.log";
    const char* Defaults[][2] = {{"LogMode", "0"},   {"LogPath", sDefaultLog.c_str()},
                                 {"DebugMode", "1"}, {"Extensions", "0"},
                                 {"TXoutput", "0"},  {"Port", "1"},
                                 {"Speed", "38400"}, {"DataBits", "8"},
                                 {"StopBits", "1"},  {"Parity", "N"}};
    for (const auto& Pair : Defaults)
        WritePrivateProfileStringA("Dravik", Pair[0], Pair[1], sExpected.c_str());
    DropProfileCache(sIni);
    EXPECT_EQ(FileBytes(sExpected), FileBytes(sIni));

    EXPECT_EQ("Disabled", ShellWindow::Panel(2002));
    EXPECT_EQ("Dravik", ShellWindow::Panel(2003));
    EXPECT_EQ("COM1 38400,8,1,N", ShellWindow::Panel(2005));
    EXPECT_EQ(sDefaultLog, szLogPath);
    EXPECT_EQ(1, iDebugMode);
    EXPECT_EQ(1, bListShown);
    EXPECT_EQ(0, iLogMode);
    EXPECT_EQ(38400L, lSpeed);
    EXPECT_EQ(8, iDataBits);
    EXPECT_EQ(ONESTOPBIT, iStopBitsCode);
    EXPECT_EQ(NOPARITY, iParityCode);
    EXPECT_EQ(2, TallyShown[5]); // the first resolution publishes every tally
    const std::vector<std::string> Expected = {"Path to ini file is " + sIni, "Workstation is 0",
                                               "Path to log file " + sDefaultLog, "iTXoutput = 0"};
    EXPECT_EQ(Expected, ShellWindow::Lines());
}

// Wine reads past the mark; Windows takes it for part of the first line and loses the section.
TEST_F(ConfigTest, AUtf8ByteOrderMarkIsNamed) {
    const std::string sIni = TreeWith("bom", "Port=4\r\n");
    WriteFileBytes(sIni, "\xEF\xBB\xBF" + FileBytes(sIni));

    LoadConfiguration();

    const std::string sLine = "Settings file " + sIni + " starts with a UTF-8 byte-order mark";
    int iListed = 0;
    for (const std::string& s : ShellWindow::Lines())
        iListed += s.rfind(sLine, 0) == 0;
    EXPECT_EQ(iListed, 1);
}

TEST_F(ConfigTest, LogPathShorterThanThreeCharactersIsReplacedInMemoryAndInTheFile) {
    const std::string sIni = TreeWith("short", "LogPath=C:\r\nLogMode=1\r\n");

    LoadConfiguration();

    EXPECT_STREQ(defaultLogPath, szLogPath);
    EXPECT_EQ(defaultLogPath, DeviceKey(sIni, "LogPath"));
    EXPECT_EQ(1, iLogMode);
    EXPECT_TRUE(ShellWindow::HasLine(std::string("Path to log file ") + defaultLogPath));
}

TEST_F(ConfigTest, LogPathTooLongToKeepWholeLogsToTheDefaultAndStaysInTheFile) {
    const std::string sLong = "C:\\" + std::string(300, 'l') + "\\x.log";
    const std::string sIni = TreeWith("long", "LogPath=" + sLong + "\r\n");

    LoadConfiguration();

    EXPECT_STREQ(defaultLogPath, szLogPath);
    EXPECT_EQ(sLong, DeviceKey(sIni, "LogPath"));
}

TEST_F(ConfigTest, ReadSettingCutsALongValueButWritesItBackWhole) {
    const std::string sFile = NewFolder("read") + "\\long.ini";
    const std::string sValue = std::string(200, 'a') + std::string(200, 'b');
    WriteFileBytes(sFile, "[S]\r\nK=" + sValue + "\r\n");

    const char* pszRead = ReadSetting(sFile.c_str(), "S", "K", "d", true);
    EXPECT_EQ(sValue.substr(0, 255), pszRead);
    EXPECT_EQ(sValue, Key(sFile, "S", "K"));

    EXPECT_STREQ("d", ReadSetting(sFile.c_str(), "S", "Missing", "d", false));
    EXPECT_EQ("<missing>", Key(sFile, "S", "Missing"));
    EXPECT_STREQ("d", ReadSetting(sFile.c_str(), "S", "Missing", "d", true));
    EXPECT_EQ("d", Key(sFile, "S", "Missing"));
}

TEST_F(ConfigTest, ParityAndStopBitsGiveTheirCodesAndThePortSummary) {
    struct Case {
        const char* pszLines;
        int iStopBits;
        int iParity;
        const char* pszSummary;
    };
    const Case Cases[] = {
        {"Parity=e\r\nStopBits=2\r\n", TWOSTOPBITS, EVENPARITY, "COM1 38400,8,2,E"},
        {"Parity=None\r\nStopBits=3\r\n", ONESTOPBIT, NOPARITY, "COM1 38400,8,1,N"},
        {"Parity=M\r\nPort=4\r\nSpeed=9600\r\nDataBits=7\r\n", ONESTOPBIT, MARKPARITY, "COM4 9600,7,1,M"},
    };
    int iCase = 0;
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.pszLines);
        const std::string sIni = TreeWith("port" + std::to_string(++iCase), c.pszLines);
        LoadConfiguration();
        EXPECT_EQ(c.iStopBits, iStopBitsCode);
        EXPECT_EQ(c.iParity, iParityCode);
        EXPECT_EQ(c.pszSummary, ShellWindow::Panel(2005));
    }
    // Written back as read, not as understood.
    EXPECT_EQ("3", DeviceKey(sFolder + "\\port2\\sys\\config\\system\\DEV_007.ini", "StopBits"));
    EXPECT_EQ("None", DeviceKey(sFolder + "\\port2\\sys\\config\\system\\DEV_007.ini", "Parity"));
}

TEST_F(ConfigTest, TxOutputIsShownAndSelectsItsSlot) {
    struct Case {
        const char* pszSetting;
        const char* pszShown;
        int iSlot;
    };
    const Case Cases[] = {{"0", "Dravik", 0}, {"6", "6", 532}, {"16", "16", 934}, {"345", "345", 345}};
    int iCase = 0;
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.pszSetting);
        TreeWith("tx" + std::to_string(++iCase), std::string("TXoutput=") + c.pszSetting + "\r\n");
        iTXoutput = -1;
        LoadConfiguration();
        EXPECT_EQ(c.pszShown, ShellWindow::Panel(2003));
        EXPECT_EQ(c.iSlot, iTXoutput);
        EXPECT_EQ("iTXoutput = " + std::to_string(c.iSlot), ShellWindow::Lines().back());
    }
}

TEST_F(ConfigTest, ExtensionsAndNumbersAreReadAsLeadingDecimals) {
    TreeWith("numbers", "Extensions= -1\r\nPort= +3x\r\nDataBits=abc\r\nSpeed=99999999999\r\n");

    LoadConfiguration();

    EXPECT_TRUE(bExtensions);
    EXPECT_EQ("Enabled", ShellWindow::Panel(2002));
    EXPECT_EQ(3, iPort);
    EXPECT_EQ(0, iDataBits);
    EXPECT_EQ(2147483647L, lSpeed);
}

TEST_F(ConfigTest, DebugModeZeroLetsOnlyTheLocationLinesThrough) {
    const std::string sIni = TreeWith("quiet", "DebugMode=0\r\n");
    iDebugMode = 0; // as the menu may have left it

    LoadConfiguration();

    const std::vector<std::string> Expected = {"Path to ini file is " + sIni, "Workstation is 0",
                                               std::string("Path to log file ") + defaultLogPath};
    EXPECT_EQ(Expected, ShellWindow::Lines());
    EXPECT_EQ(0, iDebugMode);
    EXPECT_EQ(0, bListShown);
}

TEST_F(ConfigTest, WorkstationComesFromTheEnvironmentBeforeTheSharedNetworkFile) {
    const std::string sZiv = WindowsDirectory() + "\\ZIV.INI";
    UseTree("ws");

    LoadConfiguration();
    EXPECT_EQ(0, iWorkstation);
    EXPECT_FALSE(FileExists(sZiv));

    WriteFileBytes(sZiv, "[Network]\r\nWorkstation=34\r\n");
    LoadConfiguration();
    EXPECT_EQ(34, iWorkstation);

    SetEnvironmentVariableA("cc_workstation", "12");
    LoadConfiguration();
    EXPECT_EQ(12, iWorkstation);
    EXPECT_TRUE(ShellWindow::HasLine("Workstation is 12"));

    // Set but empty is still set: no number in it.
    SetEnvironmentVariableA("CC_WORKSTATION", "");
    LoadConfiguration();
    EXPECT_EQ(0, iWorkstation);
}

// A path that does not fit is never cut: the route that would need it is passed over.
TEST_F(ConfigTest, RootTooLongForThePathsFallsBackToTheSharedConfigFolder) {
    const std::string sConfigFolder = NewFolder("cfg");
    WriteFileBytes(sVornConfig, "[Config]\r\nConfigPath=" + sConfigFolder + "\r\n");
    SetEnvironmentVariableA("CC_SYSTEM", "sys");

    for (std::size_t uLength : {240u, 300u, 5000u}) {
        SCOPED_TRACE(uLength);
        SetEnvironmentVariableA("CC_ROOT", ("C:\\" + std::string(uLength, 'r')).c_str());
        LoadConfiguration();
        EXPECT_EQ(sConfigFolder + "\\DEV_007.ini", iniPath);
        EXPECT_STREQ("c:\\vornlogs\\Dravik_007.log", defaultLogPath);
    }
}

TEST_F(ConfigTest, ConfigPathTooLongForThePathFallsBackToTheWindowsDirectory) {
    for (std::size_t uLength : {250u, 400u}) {
        SCOPED_TRACE(uLength);
        WriteFileBytes(sVornConfig, "[Config]\r\nConfigPath=C:\\" + std::string(uLength, 'c') + "\r\n");
        LoadConfiguration();
        EXPECT_STREQ("DEV_007.ini", iniPath);
        EXPECT_TRUE(FileExists(WindowsDirectory() + "\\DEV_007.ini"));
    }
}

} // namespace
