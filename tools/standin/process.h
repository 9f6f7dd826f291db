#pragma once
// standin.exe as a child process (for tests and benchmarks): commands go to its stdin, its event lines are
// collected from its stdout by a reader thread. Waiting pumps this thread's messages, because a client on
// this thread has to answer the stand-in while the test waits for it.
#include <windows.h>

#include <string>
#include <vector>

// A Linux path as Wine shows it to Windows programs (drive Z:).
inline std::string WindowsPath(const std::string& sPath) {
    if (sPath.empty() || sPath[0] != '/')
        return sPath;
    std::string sOut = "Z:" + sPath;
    for (char& c : sOut)
        if (c == '/')
            c = '\\';
    return sOut;
}

// Handles this thread's sent and posted messages for up to iMs.
inline void PumpFor(DWORD iMs, HANDLE hWaitFor = nullptr) {
    DWORD dwEnd = GetTickCount() + iMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD dwNow = GetTickCount();
        if (static_cast<int>(dwEnd - dwNow) <= 0)
            return;
        DWORD nHandles = hWaitFor != nullptr ? 1 : 0;
        DWORD dwWait = MsgWaitForMultipleObjects(nHandles, &hWaitFor, FALSE, dwEnd - dwNow, QS_ALLINPUT);
        if (nHandles == 1 && dwWait == WAIT_OBJECT_0)
            return;
    }
}

class StandinProcess {
  public:
    StandinProcess() { InitializeCriticalSection(&csLines); }
    ~StandinProcess() {
        Stop();
        DeleteCriticalSection(&csLines);
    }

    bool Start(const std::string& sExe, const std::string& sArgs) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE hChildIn = nullptr, hChildOut = nullptr;
        if (!CreatePipe(&hChildIn, &hToChild, &sa, 0) || !CreatePipe(&hFromChild, &hChildOut, &sa, 0))
            return false;
        SetHandleInformation(hToChild, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(hFromChild, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = hChildIn;
        si.hStdOutput = hChildOut;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string sCommand = "\"" + WindowsPath(sExe) + "\" " + sArgs;
        PROCESS_INFORMATION pi{};
        BOOL bOk =
            CreateProcessA(nullptr, &sCommand[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(hChildIn);
        CloseHandle(hChildOut);
        if (!bOk)
            return false;
        CloseHandle(pi.hThread);
        hProcess = pi.hProcess;
        hReader = CreateThread(nullptr, 0, ReadLines, this, 0, nullptr);
        return !WaitFor("ready ", 10000).empty();
    }

    void Send(const std::string& sLine) {
        std::string s = sLine + "\n";
        DWORD dwWritten = 0;
        WriteFile(hToChild, s.data(), static_cast<DWORD>(s.size()), &dwWritten, nullptr);
    }

    // Pumps until a line starting with sPrefix arrives after line iFrom; its text, or "".
    std::string WaitFor(const std::string& sPrefix, DWORD iMs, std::size_t iFrom = 0) {
        DWORD dwEnd = GetTickCount() + iMs;
        for (;;) {
            {
                std::vector<std::string> lines = Lines();
                for (std::size_t i = iFrom; i < lines.size(); ++i)
                    if (lines[i].rfind(sPrefix, 0) == 0)
                        return lines[i];
            }
            if (static_cast<int>(dwEnd - GetTickCount()) <= 0)
                return "";
            PumpFor(10);
        }
    }

    std::vector<std::string> Lines() {
        EnterCriticalSection(&csLines);
        std::vector<std::string> copy = lines;
        LeaveCriticalSection(&csLines);
        return copy;
    }

    std::size_t LineCount() { return Lines().size(); }

    // The tick count at which each line arrived, parallel to Lines().
    std::vector<DWORD> LineTimes() {
        EnterCriticalSection(&csLines);
        std::vector<DWORD> copy = times;
        LeaveCriticalSection(&csLines);
        return copy;
    }

    void Stop() {
        if (hProcess == nullptr)
            return;
        Send("quit");
        CloseHandle(hToChild);
        hToChild = nullptr;
        if (WaitForSingleObject(hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(hProcess, 1);
        WaitForSingleObject(hReader, 5000);
        CloseHandle(hReader);
        CloseHandle(hFromChild);
        CloseHandle(hProcess);
        hProcess = hReader = hFromChild = nullptr;
    }

  private:
    static DWORD WINAPI ReadLines(LPVOID pParam) {
        auto* pSelf = static_cast<StandinProcess*>(pParam);
        std::string sPending;
        char Buffer[4096];
        DWORD dwRead = 0;
        while (ReadFile(pSelf->hFromChild, Buffer, sizeof Buffer, &dwRead, nullptr) && dwRead > 0) {
            sPending.append(Buffer, dwRead);
            std::size_t iEnd;
            while ((iEnd = sPending.find('\n')) != std::string::npos) {
                std::string sLine = sPending.substr(0, iEnd);
                if (!sLine.empty() && sLine.back() == '\r')
                    sLine.pop_back();
                sPending.erase(0, iEnd + 1);
                EnterCriticalSection(&pSelf->csLines);
                pSelf->lines.push_back(sLine);
                pSelf->times.push_back(GetTickCount());
                LeaveCriticalSection(&pSelf->csLines);
            }
        }
        return 0;
    }

    HANDLE hProcess = nullptr;
    HANDLE hReader = nullptr;
    HANDLE hToChild = nullptr;
    HANDLE hFromChild = nullptr;
    CRITICAL_SECTION csLines;
    std::vector<std::string> lines;
    std::vector<DWORD> times;
};

// Runs a program to its end while this thread keeps answering messages; its exit code.
inline DWORD RunPumping(const std::string& sExe, const std::string& sArgs, DWORD iMs) {
    std::string sCommand = "\"" + WindowsPath(sExe) + "\" " + sArgs;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &sCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    CloseHandle(pi.hThread);
    DWORD dwEnd = GetTickCount() + iMs;
    while (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0 &&
           static_cast<int>(dwEnd - GetTickCount()) > 0)
        PumpFor(50, pi.hProcess);
    DWORD dwCode = 0xFFFFFFFE;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwCode);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    return dwCode;
}
