#pragma once
// A hidden stand-in for the driver's main window: the real status panel (dialog 130, with the
// control libraries loaded from the package folder) and the real debug list as children of a
// top-level window on the test's thread, read back through the controls.
#include "app/diagnostics.h"
#include "app/panel.h"

#include <windows.h>

#include <string>
#include <vector>

class ShellWindow {
  public:
    ShellWindow() {
        LoadControlLibraries();
        hWnd = CreateWindowExA(0, "STATIC", "shell", WS_OVERLAPPED, 0, 0, 580, 640, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        CreateStatusPanel(hWnd);
        CreateDebugList(hWnd, PanelHeight());
    }
    ~ShellWindow() {
        hStatusPanel = nullptr;
        hDebugList = nullptr;
        DestroyWindow(hWnd);
    }
    ShellWindow(const ShellWindow&) = delete;
    ShellWindow& operator=(const ShellWindow&) = delete;

    HWND Window() const { return hWnd; }

    static std::string Panel(int iControl) {
        char szText[256];
        GetPanelText(iControl, szText, sizeof szText);
        return szText;
    }
    static std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        const int iCount = static_cast<int>(SendMessageA(hDebugList, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < iCount; ++i) {
            char szLine[512] = "";
            if (SendMessageA(hDebugList, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) <
                static_cast<LRESULT>(sizeof szLine))
                SendMessageA(hDebugList, LB_GETTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(szLine));
            lines.emplace_back(szLine);
        }
        return lines;
    }
    static bool HasLine(const std::string& sLine) {
        for (const std::string& s : Lines())
            if (s == sLine)
                return true;
        return false;
    }

    // The libraries that provide the indicator's class, as the driver loads them; kept loaded.
    static void LoadControlLibraries() {
        LoadLibraryA(DRAVIK_PACKAGE_DIR "\\vorn_cc.dll");
        LoadLibraryA(DRAVIK_PACKAGE_DIR "\\vorn_cc09.dll");
    }

  private:
    HWND hWnd = nullptr;
};
