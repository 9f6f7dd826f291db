// window.exe: finds a top-level window by the start of its title, in the caller's desktop or in
// a named one, and restores it, reads the texts of its controls, gives it a menu command or
// closes it. For scripts that drive a GUI program they did not start from a Windows process (the
// demonstration, the screenshot test): a Wine desktop started by explorer cannot be reached from
// plain "wine".
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int POLL_MS = 100;
constexpr int DEFAULT_WAIT_S = 10;
constexpr UINT TEXT_TIMEOUT_MS = 2000;
constexpr int EXIT_OK = 0;
constexpr int EXIT_NOT_FOUND = 1;
constexpr int EXIT_USAGE = 2;

const char szUsage[] =
    "window.exe [--desktop NAME] [--wait SECONDS] COMMAND TITLE [ARGS]\n"
    "  TITLE is the start of a top-level window's title; the window is waited for (default 10 s).\n"
    "  wait TITLE           print the window's title once it exists\n"
    "  restore TITLE        un-minimise it and print its screen rectangle: x y width height\n"
    "  text TITLE ID...     print \"ID text\" for each control id among its descendants\n"
    "  children TITLE       print every descendant: id x y width height class visible(1/0) text,\n"
    "                       positions on the screen\n"
    "  command TITLE ID     post it the menu command ID (WM_COMMAND)\n"
    "  close TITLE          send it WM_CLOSE and wait until it has gone\n"
    "  --desktop NAME       look in that desktop (a Wine desktop: explorer /desktop=NAME)\n"
    "Exit code 0, 1 when the window (or a control) is not found in time, 2 for bad usage.\n";

struct Search {
    const char* pszPrefix;
    HWND hFound;
};

BOOL CALLBACK MatchTitle(HWND hWnd, LPARAM lParam) {
    Search* pSearch = reinterpret_cast<Search*>(lParam);
    char szTitle[256] = "";
    GetWindowTextA(hWnd, szTitle, sizeof szTitle);
    if (std::strncmp(szTitle, pSearch->pszPrefix, std::strlen(pSearch->pszPrefix)) != 0)
        return TRUE;
    pSearch->hFound = hWnd;
    return FALSE;
}

HWND FindTopLevel(const char* pszPrefix, int iWaitSeconds) {
    const DWORD dwEnd = GetTickCount() + static_cast<DWORD>(iWaitSeconds) * 1000;
    for (;;) {
        Search search{pszPrefix, nullptr};
        EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
        if (search.hFound != nullptr)
            return search.hFound;
        if (static_cast<LONG>(GetTickCount() - dwEnd) >= 0)
            return nullptr;
        Sleep(POLL_MS);
    }
}

struct ControlSearch {
    int iId;
    HWND hFound;
};

BOOL CALLBACK MatchControl(HWND hWnd, LPARAM lParam) {
    ControlSearch* pSearch = reinterpret_cast<ControlSearch*>(lParam);
    if (GetDlgCtrlID(hWnd) != pSearch->iId)
        return TRUE;
    pSearch->hFound = hWnd;
    return FALSE;
}

// The text comes by WM_GETTEXT, bounded, so a window that hangs cannot hang the script.
int PrintControlTexts(HWND hWnd, int iCount, char** ppszIds) {
    int iResult = EXIT_OK;
    for (int i = 0; i < iCount; ++i) {
        ControlSearch search{std::atoi(ppszIds[i]), nullptr};
        EnumChildWindows(hWnd, MatchControl, reinterpret_cast<LPARAM>(&search));
        char szText[512] = "";
        DWORD_PTR dwIgnored = 0;
        if (search.hFound == nullptr ||
            SendMessageTimeoutA(search.hFound, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                                SMTO_ABORTIFHUNG, TEXT_TIMEOUT_MS, &dwIgnored) == 0) {
            std::fprintf(stderr, "window: no control %s\n", ppszIds[i]);
            iResult = EXIT_NOT_FOUND;
            continue;
        }
        std::printf("%d %s\n", search.iId, szText);
    }
    return iResult;
}

BOOL CALLBACK PrintChild(HWND hWnd, LPARAM) {
    char szClass[64] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    char szText[512] = "";
    DWORD_PTR dwIgnored = 0;
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText), SMTO_ABORTIFHUNG,
                        TEXT_TIMEOUT_MS, &dwIgnored);
    RECT rc{};
    GetWindowRect(hWnd, &rc);
    std::printf("%d %ld %ld %ld %ld %s %d %s\n", GetDlgCtrlID(hWnd), rc.left, rc.top, rc.right - rc.left,
                rc.bottom - rc.top, szClass, IsWindowVisible(hWnd) ? 1 : 0, szText);
    return TRUE;
}

// A program that shows its window minimised does so after creating it: the restore waits until
// the window is shown, or it would come first and be undone.
int Restore(HWND hWnd, int iWaitSeconds) {
    for (int i = 0; i < iWaitSeconds * 1000 / POLL_MS && !IsWindowVisible(hWnd); ++i)
        Sleep(POLL_MS);
    PostMessageA(hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    for (int i = 0; i < iWaitSeconds * 1000 / POLL_MS && IsIconic(hWnd); ++i)
        Sleep(POLL_MS);
    if (IsIconic(hWnd)) {
        std::fprintf(stderr, "window: still minimised\n");
        return EXIT_NOT_FOUND;
    }
    RECT rc{};
    GetWindowRect(hWnd, &rc);
    std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    return EXIT_OK;
}

int Close(HWND hWnd, int iWaitSeconds) {
    PostMessageA(hWnd, WM_CLOSE, 0, 0);
    for (int i = 0; i < iWaitSeconds * 1000 / POLL_MS && IsWindow(hWnd); ++i)
        Sleep(POLL_MS);
    return IsWindow(hWnd) ? EXIT_NOT_FOUND : EXIT_OK;
}

// Only a thread without windows may change its desktop, so this comes before anything else.
bool EnterDesktop(const char* pszName) {
    HDESK hDesktop = OpenDesktopA(pszName, 0, FALSE, GENERIC_ALL);
    if (hDesktop == nullptr || !SetThreadDesktop(hDesktop)) {
        std::fprintf(stderr, "window: no desktop %s (error %lu)\n", pszName, GetLastError());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Lines end in "\n" alone, whatever reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    int iWaitSeconds = DEFAULT_WAIT_S;
    int iArg = 1;
    while (iArg + 1 < argc && argv[iArg][0] == '-') {
        if (std::strcmp(argv[iArg], "--desktop") == 0) {
            if (!EnterDesktop(argv[iArg + 1]))
                return EXIT_NOT_FOUND;
        } else if (std::strcmp(argv[iArg], "--wait") == 0) {
            iWaitSeconds = std::atoi(argv[iArg + 1]);
        } else {
            break;
        }
        iArg += 2;
    }
    if (argc - iArg < 2) {
        std::fputs(szUsage, stderr);
        return EXIT_USAGE;
    }
    const char* pszCommand = argv[iArg];
    const char* pszTitle = argv[iArg + 1];
    const bool bKnown = std::strcmp(pszCommand, "wait") == 0 || std::strcmp(pszCommand, "restore") == 0 ||
                        std::strcmp(pszCommand, "text") == 0 || std::strcmp(pszCommand, "close") == 0 ||
                        std::strcmp(pszCommand, "children") == 0 ||
                        (std::strcmp(pszCommand, "command") == 0 && argc - iArg == 3);
    if (!bKnown) {
        std::fputs(szUsage, stderr);
        return EXIT_USAGE;
    }
    HWND hWnd = FindTopLevel(pszTitle, iWaitSeconds);
    if (hWnd == nullptr) {
        std::fprintf(stderr, "window: no window titled \"%s...\"\n", pszTitle);
        return EXIT_NOT_FOUND;
    }
    if (std::strcmp(pszCommand, "restore") == 0)
        return Restore(hWnd, iWaitSeconds);
    if (std::strcmp(pszCommand, "text") == 0)
        return PrintControlTexts(hWnd, argc - iArg - 2, argv + iArg + 2);
    if (std::strcmp(pszCommand, "close") == 0)
        return Close(hWnd, iWaitSeconds);
    if (std::strcmp(pszCommand, "command") == 0)
        return PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(std::atoi(argv[iArg + 2]), 0), 0) ? EXIT_OK : EXIT_NOT_FOUND;
    if (std::strcmp(pszCommand, "children") == 0) {
        EnumChildWindows(hWnd, PrintChild, 0);
        return EXIT_OK;
    }
    char szTitle[256] = "";
    GetWindowTextA(hWnd, szTitle, sizeof szTitle);
    std::printf("%s\n", szTitle);
    return EXIT_OK;
}
