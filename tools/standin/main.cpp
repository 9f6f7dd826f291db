// standin.exe: the stand-in as its own process, driven by line commands on stdin.
#include "tools/standin/standin.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void PrintLine(const char* pszLine) {
    std::fputs(pszLine, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reads stdin on its own thread: every send to a client must come from the window's thread, so
// each line is handed over as a posted message.
DWORD WINAPI ReadCommands(LPVOID pParam) {
    HWND hWnd = static_cast<HWND>(pParam);
    char szLine[4096];
    while (std::fgets(szLine, sizeof szLine, stdin) != nullptr) {
        szLine[std::strcspn(szLine, "\r\n")] = 0;
        // The window's thread may be the one stalled: this command is carried out here.
        if (std::strcmp(szLine, "release") == 0) {
            standin::ReleaseStall();
            continue;
        }
        char* pszCopy = new char[std::strlen(szLine) + 1];
        std::strcpy(pszCopy, szLine);
        if (!PostMessageA(hWnd, standin::WM_STANDIN_COMMAND, 0, reinterpret_cast<LPARAM>(pszCopy)))
            delete[] pszCopy;
    }
    PostMessageA(hWnd, standin::WM_STANDIN_COMMAND, 0, 0); // end of input: quit
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int iNumber = 0;
    bool bQuiet = false;
    unsigned uDelayUs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(standin::HelpText(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "-q") == 0)
            bQuiet = true;
        else if (std::strcmp(argv[i], "--delay-us") == 0 && i + 1 < argc)
            uDelayUs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else
            iNumber = std::atoi(argv[i]);
    }
    // Lines end in "\n" alone, whatever reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    if (iNumber < 1 || iNumber > 999) {
        std::fputs(standin::HelpText(), stderr);
        return 2;
    }
    if (!standin::Start(iNumber, PrintLine)) {
        std::fprintf(stderr, "standin: cannot create the window\n");
        return 1;
    }
    standin::SetQuiet(bQuiet);
    standin::SetExchangeDelayUs(uDelayUs);
    HANDLE hReader = CreateThread(nullptr, 0, ReadCommands, standin::Window(), 0, nullptr);
    if (hReader != nullptr)
        CloseHandle(hReader);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    standin::Stop();
    return 0;
}
