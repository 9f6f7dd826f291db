#pragma once
// Modal dialogs and message boxes as a test meets them: found by process and caption, read
// through their controls, and closed the way an operator would (Enter, Escape, the close box or
// the OK button). Message boxes block their thread, so a test of its own process closes them
// from a watcher thread (DialogWatcher); one of another process is closed from the test's thread.
#include "tests/support/process_window.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Asked with a time limit: a window of a process that has crashed (and is held by a debugger)
// must fail the test, not hang it.
inline std::string WindowText(HWND hWnd) {
    char szText[1024] = "";
    DWORD_PTR dwCopied = 0;
    if (!SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                             SMTO_ABORTIFHUNG, 3000, &dwCopied))
        return "<no answer>";
    szText[sizeof szText - 1] = '\0';
    return szText;
}

inline std::string DialogItemText(HWND hDlg, int iControl) {
    HWND hControl = GetDlgItem(hDlg, iControl);
    return hControl != nullptr ? WindowText(hControl) : "<no control>";
}

// The visible top-level dialog ("#32770") of the process with this caption, or null. A dialog
// becomes visible only after its initialisation, so its controls are filled by then.
inline HWND FindDialog(DWORD dwProcessId, const std::string& sCaption) {
    return FindProcessWindow(dwProcessId, [&sCaption](HWND hWnd) {
        return WindowClassName(hWnd) == "#32770" && IsWindowVisible(hWnd) && WindowText(hWnd) == sCaption;
    });
}

inline HWND WaitForDialog(DWORD dwProcessId, const std::string& sCaption, DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        if (HWND hDlg = FindDialog(dwProcessId, sCaption))
            return hDlg;
        if (GetTickCount() - dwStart >= dwMs)
            return nullptr;
        Sleep(20);
    }
}

// A message box's text: its one static control with text (the icon's static has none).
inline std::string MessageBoxText(HWND hBox) {
    std::string sText;
    EnumChildWindows(
        hBox,
        [](HWND hChild, LPARAM lParam) -> BOOL {
            char szClass[16] = "";
            GetClassNameA(hChild, szClass, sizeof szClass);
            std::string sChild = WindowText(hChild);
            if (lstrcmpiA(szClass, "Static") == 0 && !sChild.empty())
                *reinterpret_cast<std::string*>(lParam) = sChild;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&sText));
    return sText;
}

enum class CloseBy { Enter, Escape, CloseBox, OkButton };

// Posted, so that it works whichever thread or process the dialog belongs to; the dialog's own
// modal loop turns the keys into its commands.
inline void CloseDialog(HWND hDlg, CloseBy eHow) {
    switch (eHow) {
        case CloseBy::Enter:
            PostMessageA(hDlg, WM_KEYDOWN, VK_RETURN, 0x001C0001);
            PostMessageA(hDlg, WM_KEYUP, VK_RETURN, 0xC01C0001);
            break;
        case CloseBy::Escape:
            PostMessageA(hDlg, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(hDlg, WM_KEYUP, VK_ESCAPE, 0xC0010001);
            break;
        case CloseBy::CloseBox:
            PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case CloseBy::OkButton:
            PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            break;
    }
}

inline bool WaitUntilGone(HWND hWnd, DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    while (IsWindow(hWnd)) {
        if (GetTickCount() - dwStart >= dwMs)
            return false;
        Sleep(20);
    }
    return true;
}

// Watches this process for a dialog while the test's thread is held in its modal loop: reads it
// (pfnRead runs on the watcher's thread while the dialog is up), then closes it as told. A dialog
// the action does not close is ended from its own thread by a timer that its modal loop runs, so
// that a failing test never hangs. Made on the thread that will run the dialog; one at a time.
class DialogWatcher {
  public:
    DialogWatcher(std::string sDialogCaption, CloseBy eHow, std::function<void(HWND)> pfnReadDialog = {})
        : sCaption(std::move(sDialogCaption)), eClose(eHow), pfnRead(std::move(pfnReadDialog)) {
        hGivenUp = nullptr;
        uRescueTimer = SetTimer(nullptr, 0, 100, Rescue);
        watcher = std::thread([this] { Watch(); });
    }
    ~DialogWatcher() {
        Join();
        KillTimer(nullptr, uRescueTimer);
    }
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    void Join() {
        if (watcher.joinable())
            watcher.join();
    }
    // Valid after Join.
    bool Found() const { return bFound; }
    bool ClosedAsTold() const { return bClosed; }
    HWND Owner() const { return hOwner; }

  private:
    void Watch() {
        HWND hDlg = WaitForDialog(GetCurrentProcessId(), sCaption, 10000);
        if (hDlg == nullptr)
            return;
        bFound = true;
        hOwner = GetWindow(hDlg, GW_OWNER);
        if (pfnRead)
            pfnRead(hDlg);
        CloseDialog(hDlg, eClose);
        bClosed = WaitUntilGone(hDlg, 5000);
        if (!bClosed) {
            hGivenUp = hDlg;
            WaitUntilGone(hDlg, 5000);
        }
    }

    static void CALLBACK Rescue(HWND, UINT, UINT_PTR, DWORD) {
        if (HWND hDlg = hGivenUp) {
            hGivenUp = nullptr;
            EndDialog(hDlg, IDCANCEL);
        }
    }

    static inline std::atomic<HWND> hGivenUp{nullptr};
    std::string sCaption;
    CloseBy eClose;
    std::function<void(HWND)> pfnRead;
    bool bFound = false;
    bool bClosed = false;
    HWND hOwner = nullptr;
    UINT_PTR uRescueTimer = 0;
    std::thread watcher;
};
