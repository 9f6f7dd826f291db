#pragma once
// Top-level windows of another process, found by what a test can see of them from outside.
#include <windows.h>

#include <string>

inline std::string WindowClassName(HWND hWnd) {
    char szClass[256] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    return szClass;
}

// The first top-level window of process dwProcessId that bMatches (called with the window)
// accepts, or null.
template <typename Match>
HWND FindProcessWindow(DWORD dwProcessId, Match bMatches) {
    struct Search {
        DWORD dwProcessId;
        Match* pMatches;
        HWND hFound;
    } search{dwProcessId, &bMatches, nullptr};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* p = reinterpret_cast<Search*>(lParam);
            DWORD dwId = 0;
            GetWindowThreadProcessId(hWnd, &dwId);
            if (dwId != p->dwProcessId || !(*p->pMatches)(hWnd))
                return TRUE;
            p->hFound = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.hFound;
}

// Waits up to dwMs for any of the GUI_* flags of thread dwThread (another process's too) to be set,
// or for all of them to be clear; whether that came. GUI_INMENUMODE and GUI_INMOVESIZE tell that
// the thread runs the system's menu or move loop.
inline bool WaitForGuiFlags(DWORD dwThread, DWORD dwFlags, bool bSet, DWORD dwMs = 3000) {
    for (DWORD dwWaited = 0;; dwWaited += 20) {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(dwThread, &info) && ((info.flags & dwFlags) != 0) == bSet)
            return true;
        if (dwWaited >= dwMs)
            return false;
        Sleep(20);
    }
}
