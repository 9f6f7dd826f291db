#pragma once
// A program of ours started as its own process under test: the driver, the receive-road tool or
// the simulator. Its window, exit code, processor time and handles can be looked at from outside.
#include "tests/support/linux_command.h"
#include "tests/support/process_window.h"
#include "tools/standin/process.h" // WindowsPath

#include <windows.h>

#include <cstdlib>
#include <string>

// The driver a benchmark runs: its own build's, or the one DRAVIK_BENCH_DRIVER names (another
// build, to compare the two in one run on one machine).
inline const char* BenchDriverExe(const char* pszOwn) {
    const char* pszOther = std::getenv("DRAVIK_BENCH_DRIVER");
    return pszOther != nullptr && pszOther[0] != '\0' ? pszOther : pszOwn;
}

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // sExe is a Linux or Windows path; the child inherits the environment and the console, or
    // writes its standard output and error into the file sOutputPath when one is given.
    bool Start(const std::string& sExe, const std::string& sArgs, const std::string& sOutputPath = "") {
        const std::string sPath = WindowsPath(sExe);
        sCommandLineEnd = sPath.substr(sPath.find_last_of("\\/") + 1) + " " + sArgs;
        std::string sCommand = "\"" + sPath + "\" " + sArgs;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        HANDLE hOutput = INVALID_HANDLE_VALUE;
        if (!sOutputPath.empty()) {
            SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
            hOutput = CreateFileA(sOutputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0,
                                  nullptr);
            if (hOutput == INVALID_HANDLE_VALUE)
                return false;
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            si.hStdOutput = si.hStdError = hOutput;
        }
        PROCESS_INFORMATION pi{};
        const BOOL bStarted = CreateProcessA(nullptr, &sCommand[0], nullptr, nullptr,
                                             hOutput != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &si, &pi);
        if (hOutput != INVALID_HANDLE_VALUE)
            CloseHandle(hOutput);
        if (!bStarted)
            return false;
        CloseHandle(pi.hThread);
        hProcess = pi.hProcess;
        dwProcessId = pi.dwProcessId;
        return true;
    }
    bool Running() const { return hProcess != nullptr && WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT; }
    // The exit code once the process has ended within dwMs; STILL_ACTIVE otherwise.
    DWORD Wait(DWORD dwMs) {
        if (hProcess == nullptr || WaitForSingleObject(hProcess, dwMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD dwCode = STILL_ACTIVE;
        GetExitCodeProcess(hProcess, &dwCode);
        return dwCode;
    }
    void Kill() {
        if (hProcess == nullptr)
            return;
        if (Running())
            TerminateProcess(hProcess, 1);
        WaitForSingleObject(hProcess, 5000);
        CloseHandle(hProcess);
        hProcess = nullptr;
    }
    DWORD Id() const { return dwProcessId; }
    HANDLE Handle() const { return hProcess; }
    // User and kernel time so far, in milliseconds. Wine has none to report for another process
    // (GetProcessTimes gives a few ms whatever it did): there the Linux count is read instead.
    double CpuMs() const {
        if (hProcess != nullptr && RunningUnderWine())
            return LinuxProcessCpuMs(sCommandLineEnd);
        FILETIME ftCreate, ftExit, ftKernel, ftUser;
        if (hProcess == nullptr || !GetProcessTimes(hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser))
            return 0;
        auto Ms = [](const FILETIME& ft) {
            return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) /
                   1e4;
        };
        return Ms(ftKernel) + Ms(ftUser);
    }
    // The first top-level window of this process with the class name, or null.
    HWND FindWindowOfClass(const char* pszClass) const {
        return FindProcessWindow(dwProcessId,
                                 [pszClass](HWND hWnd) { return WindowClassName(hWnd) == pszClass; });
    }
    // Waits up to dwMs for that window to appear.
    HWND WaitForWindow(const char* pszClass, DWORD dwMs) const {
        for (DWORD dwWaited = 0;; dwWaited += 50) {
            if (HWND hWnd = FindWindowOfClass(pszClass))
                return hWnd;
            if (dwWaited >= dwMs || !Running())
                return nullptr;
            Sleep(50);
        }
    }

  private:
    HANDLE hProcess = nullptr;
    DWORD dwProcessId = 0;
    std::string sCommandLineEnd; // the program's file name and its arguments
};
