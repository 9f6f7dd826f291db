#pragma once
// The real driver at work: the stand-in process as its infodriver, then dravik.exe as a process of
// its own, both started from the test and looked at from outside: the driver's windows, the texts
// of its status panel, and whether it still answers.
#include "tests/support/child.h"
#include "tools/standin/process.h"

#include <windows.h>

#include <string>
#include <vector>

class DriverRun {
  public:
    DriverRun() = default;
    ~DriverRun() { Stop(); }
    DriverRun(const DriverRun&) = delete;
    DriverRun& operator=(const DriverRun&) = delete;

    // The stand-in for iDevice, then the driver (which inherits CC_ROOT and CC_SYSTEM); returns
    // once the stand-in has seen the driver attach and the driver's start-up is over.
    bool Start(const char* pszDriverExe, const char* pszStandinExe, int iDevice, std::string& sError,
               const std::string& sStandinOptions = "") {
        const std::string sNumber = std::to_string(iDevice);
        if (!Standin.Start(pszStandinExe, sStandinOptions + sNumber))
            return Fail(sError, "the stand-in did not start");
        if (!Driver.Start(pszDriverExe, sNumber))
            return Fail(sError, "the driver did not start");
        hMain = Driver.WaitForWindow("CLASS_Dravik", 15000);
        hClient = Driver.WaitForWindow("extinfospwn", 5000);
        if (hMain == nullptr || hClient == nullptr)
            return Fail(sError, "the driver's windows did not appear");
        if (Standin.WaitFor("attach ", 5000).empty())
            return Fail(sError, "the driver did not attach to the stand-in");
        // The window is shown, minimised, only once its creation is over: the serial port has been
        // opened (or found missing) and the timer started.
        for (const DWORD dwStart = GetTickCount(); !IsWindowVisible(hMain) || !IsIconic(hMain); Sleep(20))
            if (GetTickCount() - dwStart > 10000)
                return Fail(sError, "the driver's window was not shown");
        return true;
    }
    void Stop() {
        Driver.Kill();
        Standin.Stop();
        hMain = hClient = nullptr;
    }

    // The status panel: the dialog that is a child of the main window.
    HWND Panel() const { return hMain ? FindWindowExA(hMain, nullptr, "#32770", nullptr) : nullptr; }
    // The text of a panel control, read across the process boundary; "" without one.
    std::string PanelText(int iControl) const {
        char szText[256] = "";
        if (HWND hPanel = Panel())
            GetDlgItemTextA(hPanel, iControl, szText, sizeof szText);
        return szText;
    }
    // The lines of the debug list, the main window's child 100, read across the process boundary:
    // Wine carries the text of another process's list box only as wide characters.
    std::vector<std::string> DebugList() const {
        std::vector<std::string> Lines;
        const HWND hList = hMain ? GetDlgItem(hMain, 100) : nullptr;
        const LRESULT iCount = hList ? SendMessageW(hList, LB_GETCOUNT, 0, 0) : 0;
        for (WPARAM i = 0; static_cast<LRESULT>(i) < iCount; ++i) {
            wchar_t wszLine[512] = L"";
            char szLine[512] = "";
            if (SendMessageW(hList, LB_GETTEXTLEN, i, 0) < 511)
                SendMessageW(hList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wszLine));
            WideCharToMultiByte(CP_ACP, 0, wszLine, -1, szLine, sizeof szLine, nullptr, nullptr);
            Lines.emplace_back(szLine);
        }
        return Lines;
    }
    // Both windows answer a message within dwMs.
    bool Answers(DWORD dwMs) const {
        DWORD_PTR dwResult = 0;
        return SendMessageTimeoutA(hMain, WM_NULL, 0, 0, SMTO_NORMAL, dwMs, &dwResult) != 0 &&
               SendMessageTimeoutA(hClient, WM_NULL, 0, 0, SMTO_NORMAL, dwMs, &dwResult) != 0;
    }
    // Waits up to dwMs for the panel control to show sText.
    bool WaitForPanel(int iControl, const std::string& sText, DWORD dwMs) const {
        for (const DWORD dwStart = GetTickCount();; Sleep(50)) {
            if (PanelText(iControl) == sText)
                return true;
            if (GetTickCount() - dwStart >= dwMs)
                return false;
        }
    }

    StandinProcess Standin;
    ChildProcess Driver;
    HWND hMain = nullptr;
    HWND hClient = nullptr;

  private:
    static bool Fail(std::string& sError, const char* pszWhy) {
        sError = pszWhy;
        return false;
    }
};
