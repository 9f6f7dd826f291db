#pragma once
// The driver's real main window in the test process, created through the real class and
// procedure as the entry point creates it, with the stand-in's core as the infodriver on the same
// thread. The settings file lives in a fresh control-system tree per test, and names a COM port
// that does not exist, so no port is ever touched. The driver's process-wide objects are globals:
// every test gets them back as the entry point would find them.
#include "app/config.h"
#include "app/diagnostics.h"
#include "app/mainwnd.h"
#include "app/panel.h"
#include "app/title.h"
#include "infodriver/client.h"
#include "protocol/settings.h"
#include "protocol/state.h"
#include "resources/resource.h"
#include "serial/device_port.h"
#include "tests/app/shell_window.h"
#include "tools/standin/standin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class MainWindowTest : public ::testing::Test {
  protected:
    static constexpr int NUMBER = 47; // the infodriver and device number of these tests
    static constexpr int ABSENT_PORT = 99;

    void SetUp() override {
        static int iTrees = 0;
        char szTemp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, szTemp);
        sRoot = std::string(szTemp) + "dravik_mainwnd_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++iTrees);
        std::filesystem::create_directories(sRoot + "\\sys\\config\\system");
        std::filesystem::create_directories(sRoot + "\\sys\\logs");
        sIni = sRoot + "\\sys\\config\\system\\DEV_047.ini";
        sLog = sRoot + "\\sys\\logs\\Dravik_047.log";
        SetEnvironmentVariableA("CC_ROOT", sRoot.c_str());
        SetEnvironmentVariableA("CC_SYSTEM", "sys");

        ShellWindow::LoadControlLibraries();
        hInst = GetModuleHandleA(nullptr);
        iDeviceNumber = NUMBER;
        LoadTitleStrings(hInst);
        FormatWindowTitle("loading");
        LoadStringA(hInst, IDS_CLASS_NAME, szClassName, sizeof szClassName);
        RegisterMainClass(szClassName); // a second registration fails harmlessly
    }

    void TearDown() override {
        if (hMain != nullptr && IsWindow(hMain))
            DestroyWindow(hMain);
        hMain = nullptr;
        // The window's destruction ends the message loop of a real driver; here nothing may end.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            ;
        if (Infodriver.hWnd != nullptr)
            DestroyWindow(Infodriver.hWnd);
        Infodriver.hInfodriver = nullptr;
        Infodriver.SetCounters(nullptr, nullptr);
        DevicePort.Close();
        // What the closed port's queue still holds is the next test's no more.
        unsigned char Rest[256];
        while (DevicePort.Read(Rest, sizeof Rest) > 0)
            ;
        standin::Stop();

        hMainWnd = nullptr;
        hStatusPanel = nullptr;
        hDebugList = nullptr;
        iDebugMode = 1;
        iLogMode = 0;
        szLogPath[0] = '\0';
        bListShown = 1;
        ResetProtocolState();
        SetEnvironmentVariableA("CC_ROOT", nullptr);
        SetEnvironmentVariableA("CC_SYSTEM", nullptr);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, sIni.c_str());
        std::error_code error;
        std::filesystem::remove_all(sRoot, error);
    }

    // The settings file: section "Dravik" with these lines and the port (by default one that does
    // not exist).
    void WriteSettings(const std::string& sLines, int iPortSetting = ABSENT_PORT) {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, sIni.c_str());
        std::ofstream(sIni, std::ios::binary | std::ios::trunc)
            << "[Dravik]\r\nPort=" << iPortSetting << "\r\nSpeed=38400\r\n"
            << sLines;
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, sIni.c_str());
    }

    static void CollectStandinLine(const char*) {}

    // The stand-in answers for the window's infodriver.
    void StartInfodriver() { ASSERT_TRUE(standin::Start(NUMBER, CollectStandinLine)); }

    // As the entry point creates it; null when the creation was refused.
    HWND CreateMainWindow() {
        hMain = CreateWindowExA(0, szClassName, szWindowTitle, WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, 0,
                                MAIN_WIDTH, MAIN_FULL_HEIGHT, nullptr, nullptr, hInst, nullptr);
        if (hMain != nullptr)
            hMainWnd = hMain;
        return hMain;
    }

    // A started window with these settings; the test stops at the first failure.
    void StartWith(const std::string& sLines, int iPortSetting = ABSENT_PORT) {
        WriteSettings(sLines, iPortSetting);
        StartInfodriver();
        ASSERT_NE(CreateMainWindow(), nullptr);
    }

    LRESULT Command(int iCommand) { return SendMessageA(hMain, WM_COMMAND, MAKEWPARAM(iCommand, 0), 0); }

    bool Checked(int iPopup, int iCommand) const {
        const UINT uState = GetMenuState(GetSubMenu(GetMenu(hMain), iPopup), iCommand, MF_BYCOMMAND);
        return uState != static_cast<UINT>(-1) && (uState & MF_CHECKED) != 0;
    }

    RECT WindowRect() const {
        RECT rc{};
        GetWindowRect(hMain, &rc);
        return rc;
    }
    int WindowHeight() const {
        const RECT rc = WindowRect();
        return rc.bottom - rc.top;
    }

    // A key of the settings file as the profile functions read it; "<missing>" when absent.
    std::string Setting(const char* pszKey) const {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, sIni.c_str());
        char szValue[256] = "";
        GetPrivateProfileStringA("Dravik", pszKey, "<missing>", szValue, sizeof szValue, sIni.c_str());
        return szValue;
    }

    std::string LogText() const {
        std::ifstream file(sLog, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    static int ListCount() { return static_cast<int>(SendMessageA(hDebugList, LB_GETCOUNT, 0, 0)); }

    std::string sRoot;
    std::string sIni;
    std::string sLog;
    char szClassName[TITLE_CHARS] = "";
    HWND hMain = nullptr;
};
