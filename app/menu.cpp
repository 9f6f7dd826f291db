#include "app/menu.h"

#include "app/about.h"
#include "app/config.h"
#include "app/diagnostics.h"
#include "app/line_recording.h"
#include "app/mainwnd.h"
#include "resources/resource.h"

void MarkMenuItem(HWND hWnd, int iPopup, UINT uCommand, bool bChecked) {
    CheckMenuItem(GetSubMenu(GetMenu(hWnd), iPopup), uCommand,
                  MF_BYCOMMAND | (bChecked ? MF_CHECKED : MF_UNCHECKED));
}

namespace {

// Width 580 and the given height where the window stands; a minimised window gets the size for
// when it is restored.
void SizeMainWindow(HWND hWnd, int iHeight) {
    if (IsIconic(hWnd)) {
        WINDOWPLACEMENT place{};
        place.length = sizeof place;
        GetWindowPlacement(hWnd, &place);
        place.rcNormalPosition.right = place.rcNormalPosition.left + MAIN_WIDTH;
        place.rcNormalPosition.bottom = place.rcNormalPosition.top + iHeight;
        place.showCmd = SW_SHOWMINNOACTIVE;
        SetWindowPlacement(hWnd, &place);
        return;
    }
    SetWindowPos(hWnd, nullptr, 0, 0, MAIN_WIDTH, iHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WriteMode(const char* pszKey, int iValue) {
    WriteSetting(iniPath, szSettingsSection, pszKey, iValue != 0 ? "1" : "0");
}

// The window at full height with the list uncovered and its output on.
void ShowFullList(HWND hWnd) {
    SizeMainWindow(hWnd, MainWindowHeight(hWnd, true));
    MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_ON, true);
    WriteMode("DebugMode", 1);
    iDebugMode = 1;
    MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_HIDE, false);
    bListShown = 1;
}

// Debug, On: stops the output when it runs, else uncovers the list and starts it.
void ToggleDebugOutput(HWND hWnd) {
    if (iDebugMode == 1) {
        MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_ON, false);
        WriteMode("DebugMode", 0);
        iDebugMode = 0;
        return;
    }
    ShowFullList(hWnd);
}

// Debug, Hide: covering the list also stops the output, and uncovering starts it again.
void ToggleDebugList(HWND hWnd) {
    if (bListShown == 1) {
        SizeMainWindow(hWnd, MainWindowHeight(hWnd, false));
        MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_HIDE, true);
        bListShown = 0;
        MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_ON, false);
        WriteMode("DebugMode", 0);
        iDebugMode = 0;
        return;
    }
    ShowFullList(hWnd);
}

void ToggleLog(HWND hWnd) {
    iLogMode = iLogMode != 0 ? 0 : 1;
    WriteMode("LogMode", iLogMode);
    MarkMenuItem(hWnd, IDM_POPUP_LOG, IDM_LOG_ENABLE, iLogMode != 0);
}

} // namespace

void SetStartMenuMarks(HWND hWnd) {
    MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_ON, iDebugMode != 0);
    MarkMenuItem(hWnd, IDM_POPUP_DEBUG, IDM_DEBUG_HIDE, iDebugMode == 0);
    MarkMenuItem(hWnd, IDM_POPUP_LOG, IDM_LOG_ENABLE, iLogMode != 0);
}

bool OnMenuCommand(HWND hWnd, int iCommand) {
    switch (iCommand) {
        case IDM_ABOUT:
            DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_ABOUT), hWnd, AboutDialogProc, 0);
            return true;
        case IDM_EXIT:
            CloseMainWindow();
            return true;
        case IDM_DEBUG_CLEAR:
            if (hDebugList != nullptr)
                SendMessageA(hDebugList, LB_RESETCONTENT, 0, 0);
            return true;
        case IDM_DEBUG_ON:
            ToggleDebugOutput(hWnd);
            return true;
        case IDM_DEBUG_HIDE:
            ToggleDebugList(hWnd);
            return true;
        case IDM_LOG_ENABLE:
            ToggleLog(hWnd);
            return true;
        case IDM_DEBUG_RECORD:
            ToggleLineRecording(hWnd);
            return true;
        default:
            return false;
    }
}
