#pragma once
// A hidden stand-in for the driver's main window: the real status panel and the real debug list
// as children of a top-level window on the test's thread, read back through the controls.
#include "app/diagnostics.h"
#include "app/panel.h"

#include <windows.h>

#include <string>
#include <vector>

class ShellWindow {
  public:
    ShellWindow() {
        hWnd = CreateWindowExA(0, "STATIC", "shell", WS_OVERLAPPED, 0, 0, 580, 640, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        CreatePanel();
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

  private:
    // Until the panel dialog can be loaded here, plain static controls under the panel's ids.
    void CreatePanel() {
        hStatusPanel = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 580, 300, hWnd, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
        for (int iId : {2001, 2002, 2003, 2005, 2006, 2007, 2008, 2009, 2010})
            CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, hStatusPanel,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(iId)), nullptr, nullptr);
        for (int iId = 1006; iId <= 1133; ++iId)
            CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, hStatusPanel,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(iId)), nullptr, nullptr);
    }

    HWND hWnd = nullptr;
};
