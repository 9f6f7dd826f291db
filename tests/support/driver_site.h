#pragma once
// Where a driver under test finds its settings and writes its log: a temporary CC_ROOT with
// CC_SYSTEM "sys", the device's DEV_nnn.ini and an empty logs folder. Both variables are set in
// this process, so a driver started from here inherits them.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

// The settings file's [Dravik] section for the tests: the log on, the given port at 38400 bit/s
// (or iSpeed) 8N1, tallies from every output.
inline std::string DriverKeys(int iPort, bool bDebugList, int iSpeed = 38400) {
    return "LogMode=1\nDebugMode=" + std::string(bDebugList ? "1" : "0") +
           "\nExtensions=0\nTXoutput=0\nPort=" + std::to_string(iPort) + "\nSpeed=" + std::to_string(iSpeed) +
           "\nDataBits=8\nStopBits=1\nParity=N\n";
}

class DriverSite {
  public:
    DriverSite() = default;
    ~DriverSite() { Remove(); }
    DriverSite(const DriverSite&) = delete;
    DriverSite& operator=(const DriverSite&) = delete;

    // sTag names the temporary folder; sKeys is the body of section [Dravik].
    bool Create(const std::string& sTag, int iDevice, const std::string& sKeys) {
        Remove();
        iNumber = iDevice;
        char szTemp[MAX_PATH] = "";
        GetTempPathA(sizeof szTemp, szTemp);
        sRoot = std::string(szTemp) + "dravik_" + sTag + "_" + std::to_string(GetCurrentProcessId());
        for (const char* pszSub : {"", "\\sys", "\\sys\\config", "\\sys\\config\\system", "\\sys\\logs"})
            CreateDirectoryA((sRoot + pszSub).c_str(), nullptr);
        DeleteFileA(LogPath().c_str());
        std::ofstream Ini(IniPath());
        Ini << "[Dravik]\n" << sKeys;
        Ini.close();
        return Ini.good() && SetEnvironmentVariableA("CC_ROOT", sRoot.c_str()) &&
               SetEnvironmentVariableA("CC_SYSTEM", "sys");
    }
    // The tree again; call once the driver has gone.
    void Remove() {
        if (sRoot.empty())
            return;
        DeleteFileA(IniPath().c_str());
        DeleteFileA(LogPath().c_str());
        for (const char* pszSub : {"\\sys\\logs", "\\sys\\config\\system", "\\sys\\config", "\\sys", ""})
            RemoveDirectoryA((sRoot + pszSub).c_str());
        sRoot.clear();
    }

    std::string LogPath() const { return sRoot + "\\sys\\logs\\Dravik_" + Number() + ".log"; }
    std::string IniPath() const { return sRoot + "\\sys\\config\\system\\DEV_" + Number() + ".ini"; }
    // The log file as written so far ("" before the first line).
    std::string LogText() const {
        std::ifstream In(LogPath(), std::ios::binary);
        std::stringstream Text;
        Text << In.rdbuf();
        return Text.str();
    }

  private:
    std::string Number() const {
        char sz[8];
        std::snprintf(sz, sizeof sz, "%03d", iNumber);
        return sz;
    }

    std::string sRoot;
    int iNumber = 0;
};

// How often sNeedle occurs in sText from iFrom on.
inline int CountOf(const std::string& sText, const std::string& sNeedle, std::size_t iFrom = 0) {
    int n = 0;
    for (std::size_t i = sText.find(sNeedle, iFrom); i != std::string::npos;
         i = sText.find(sNeedle, i + sNeedle.size()))
        ++n;
    return n;
}
