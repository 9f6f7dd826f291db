#include "tools/memhost/memhost.h"

#include "protocol/assembly.h"
#include "protocol/external.h"

#include <cstdarg>
#include <cstdio>
#include <algorithm>

int iInfodriverTx = 0;
int iInfodriverRx = 0;

namespace memhost {
namespace {
bool bDebugOn = true;
bool bLogOn = true;
std::vector<std::string> DebugLog;
std::vector<std::string> LogLog;
// Control ids are 16-bit: a table over them, so that reading a tally box costs no search. A
// clear empties only the controls set since the last one.
constexpr int PANEL_CONTROLS = 65536;
std::vector<std::string> Panel(PANEL_CONTROLS);
std::vector<int> PanelSet;
std::vector<unsigned char> bPanelSet(PANEL_CONTROLS);
std::vector<std::pair<int, std::string>> PanelLog;
std::string sTitleState;
unsigned long ulClock = 0;

bool ValidControl(int iControl) {
    return iControl >= 0 && iControl < PANEL_CONTROLS;
}

// At most nMax characters of the line. Most lines fit the first buffer: formatted once, and one
// allocation.
std::string Formatted(std::size_t nMax, const char* pszFormat, va_list args) {
    char szLine[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(szLine, sizeof szLine, pszFormat, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    const std::size_t nKept = std::min(nMax, static_cast<std::size_t>(n));
    if (nKept < sizeof szLine)
        return std::string(szLine, nKept);
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(&s[0], s.size(), pszFormat, args);
    s.resize(nKept);
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
    return ValidControl(iControl) ? Panel[iControl].c_str() : "";
}
const std::vector<std::pair<int, std::string>>& PanelWrites() {
    return PanelLog;
}
void ClearPanel() {
    for (int iControl : PanelSet) {
        Panel[iControl].clear();
        bPanelSet[iControl] = false;
    }
    PanelSet.clear();
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
    PanelLog.emplace_back(iControl, pszText);
    if (!ValidControl(iControl))
        return;
    if (!bPanelSet[iControl]) {
        bPanelSet[iControl] = true;
        PanelSet.push_back(iControl);
    }
    Panel[iControl] = pszText;
}

void DebugLine(const char* pszFormat, ...) {
    if (!bDebugOn)
        return;
    va_list args;
    va_start(args, pszFormat);
    DebugLog.push_back(Formatted(160, pszFormat, args));
    va_end(args);
}

void LogLine(const char* pszFormat, ...) {
    if (!bLogOn)
        return;
    va_list args;
    va_start(args, pszFormat);
    LogLog.push_back(Formatted(std::string::npos, pszFormat, args));
    va_end(args);
}

void HexDump() {
    if (!bDebugOn)
        return;
    // By hand rather than a formatted print per byte: a dump can hold a whole buffer, and the
    // fuzz target makes them all the time.
    static const char szDigits[] = "0123456789ABCDEF";
    char szLine[64];
    std::snprintf(szLine, sizeof szLine, "Hexdump - iWrtPtr = %d", iWrtPtr);
    std::string sLine = szLine;
    for (int i = 0; i < iWrtPtr && i < ASSEMBLY_BUFFER_SIZE; ++i) {
        if (i % 16 == 0) {
            DebugLog.push_back(sLine);
            sLine.clear();
        }
        sLine += ' ';
        sLine += szDigits[AssemblyBuffer[i] >> 4];
        sLine += szDigits[AssemblyBuffer[i] & 0x0F];
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
