#pragma once
// A shell command on the Linux side, run from a test under Wine: Wine starts Linux programs too,
// but hands back no process handle to wait on, so the command's output goes to a file that is
// renamed into place, with the exit status as its last line, once the command has ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The exit status of /bin/sh -c sCommand, or -1 when it could not be started or did not end
// within dwMs. Its output (standard output and error) goes to *psOutput. The command must not
// contain double quotes: it travels inside a pair of them.
inline int RunLinuxCommand(const std::string& sCommand, DWORD dwMs, std::string* psOutput = nullptr) {
    static int iCall = 0;
    const std::string sOut =
        "/tmp/dravik-cmd-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++iCall) + ".txt";
    std::string sWindowsOut = "Z:" + sOut;
    for (char& c : sWindowsOut)
        if (c == '/')
            c = '\\';
    if (sCommand.find('"') != std::string::npos)
        return -1;
    DeleteFileA(sWindowsOut.c_str());
    std::string sLine = "/bin/sh -c \"export PATH=/usr/local/bin:/usr/bin:/bin; ( " + sCommand + " ) >" +
                        sOut + ".tmp 2>&1 </dev/null; echo exit $? >>" + sOut + ".tmp; mv " + sOut + ".tmp " +
                        sOut + "\"";
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Process{};
    if (!CreateProcessA("Z:\\bin\\sh", sLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                        &Process))
        return -1;
    // Handles of a Linux process are null under Wine.
    if (Process.hThread)
        CloseHandle(Process.hThread);
    if (Process.hProcess)
        CloseHandle(Process.hProcess);
    for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < dwMs; Sleep(20)) {
        std::FILE* pFile = std::fopen(sWindowsOut.c_str(), "rb");
        if (!pFile)
            continue;
        std::string sText;
        char szBuffer[4096];
        for (std::size_t n; (n = std::fread(szBuffer, 1, sizeof szBuffer, pFile)) > 0;)
            sText.append(szBuffer, n);
        std::fclose(pFile);
        DeleteFileA(sWindowsOut.c_str());
        const std::size_t iStatus = sText.rfind("exit ");
        if (psOutput)
            *psOutput = sText.substr(0, iStatus == std::string::npos ? sText.size() : iStatus);
        return iStatus == std::string::npos ? -1 : std::atoi(sText.c_str() + iStatus + 5);
    }
    return -1;
}

// Whether this program runs under Wine rather than Windows.
inline bool RunningUnderWine() {
    const HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
}

// The processor time (user and system, all threads) that Linux has counted for the process whose
// command line, its words joined by blanks, ends in sCommandLineEnd; in milliseconds, in steps of
// the clock tick (10 ms), or -1 when there is no such process. Under Wine a Windows program's
// Linux command line is its Windows one: the program's Windows path, then its arguments.
inline double LinuxProcessCpuMs(const std::string& sCommandLineEnd) {
    if (sCommandLineEnd.find('\'') != std::string::npos)
        return -1;
    std::string sOutput;
    const std::string sCommand =
        "hz=$(getconf CLK_TCK); for p in /proc/[0-9]*; do c=$(tr -s '\\0' ' ' <$p/cmdline 2>/dev/null) || "
        "continue; "
        "case $c in *'" +
        sCommandLineEnd +
        " ') set -- $(sed 's/.*) //' $p/stat); echo cpu $(( (${12} + ${13}) * 1000 / hz ));; "
        "esac; done";
    if (RunLinuxCommand(sCommand, 10000, &sOutput) != 0)
        return -1;
    const std::size_t iAt = sOutput.find("cpu ");
    return iAt == std::string::npos ? -1 : std::atof(sOutput.c_str() + iAt + 4);
}
