#include "tools/memhost/memhost.h"

#include "protocol/assembly.h"
#include "protocol/external.h"

#include <cstdarg>
#include <cstdio>
#include <map>

int iInfodriverTx = 0;
int iInfodriverRx = 0;

namespace memhost {
namespace {
bool bDebugOn = true;
bool bLogOn = true;
std::vector<std::string> DebugLog;
std::vector<std::string> LogLog;
std::map<int, std::string> Panel;
std::vector<std::pair<int, std::string>> PanelLog;
std::string sTitleState;
unsigned long ulClock = 0;

std::string Formatted(const char* pszFormat, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(&s[0], s.size(), pszFormat, args);
    s.resize(static_cast<std::size_t>(n));
    return s;
}
} // namespace

void SetDiagnostics(bool bDebug, bool bLog) {
    bDebugOn = bDebug;
    bLogOn = bLog;
}
const std::vector<std::string>& DebugLines() {
    return DebugLog;
}
const std::vector<std::string>& LogLines() {
    return LogLog;
}
bool HasDebugLine(const std::string& sLine) {
    return CountDebugLines(sLine) > 0;
}
int CountDebugLines(const std::string& sLine) {
    int n = 0;
    for (const std::string& s : DebugLog)
        n += s == sLine;
    return n;
}
void ClearDiagnostics() {
    DebugLog.clear();
    LogLog.clear();
}
const char* PanelText(int iControl) {
    auto it = Panel.find(iControl);
    return it == Panel.end() ? "" : it->second.c_str();
}
const std::vector<std::pair<int, std::string>>& PanelWrites() {
    return PanelLog;
}
void ClearPanel() {
    Panel.clear();
    PanelLog.clear();
}
const std::string& TitleState() {
    return sTitleState;
}
void SetClockMs(unsigned long ulMs) {
    ulClock = ulMs;
}
void AdvanceClockMs(unsigned long ulMs) {
    ulClock += ulMs;
}
void ResetShell() {
    bDebugOn = bLogOn = true;
    ClearDiagnostics();
    ClearPanel();
    sTitleState.clear();
    ulClock = 0;
    iInfodriverTx = iInfodriverRx = 0;
}

} // namespace memhost

using namespace memhost;

void SetPanelText(int iControl, const char* pszText) {
    Panel[iControl] = pszText;
    PanelLog.emplace_back(iControl, pszText);
}

void DebugLine(const char* pszFormat, ...) {
    if (!bDebugOn)
        return;
    va_list args;
    va_start(args, pszFormat);
    DebugLog.push_back(Formatted(pszFormat, args).substr(0, 160));
    va_end(args);
}

void LogLine(const char* pszFormat, ...) {
    if (!bLogOn)
        return;
    va_list args;
    va_start(args, pszFormat);
    LogLog.push_back(Formatted(pszFormat, args));
    va_end(args);
}

void HexDump() {
    if (!bDebugOn)
        return;
    char szLine[64];
    std::snprintf(szLine, sizeof szLine, "Hexdump - iWrtPtr = %d", iWrtPtr);
    std::string sLine = szLine;
    for (int i = 0; i < iWrtPtr && i < ASSEMBLY_BUFFER_SIZE; ++i) {
        if (i % 16 == 0) {
            DebugLog.push_back(sLine);
            sLine.clear();
        }
        std::snprintf(szLine, sizeof szLine, " %02X", AssemblyBuffer[i]);
        sLine += szLine;
    }
    DebugLog.push_back(sLine);
}

void ShowTitleState(const char* pszState) {
    sTitleState = pszState;
}

unsigned long TickCountMs() {
    return ulClock;
}

const char* LineSettingsText() {
    return "38400,8,1,N"; // the driver's defaults
}
