#include "app/diagnostics.h"

#include "protocol/assembly.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

int iDebugMode = 1;
int iLogMode = 0;
char szLogPath[LOG_PATH_CHARS] = "";

namespace {

// A ring of the newest lines; iFirst is the oldest.
std::array<std::array<char, DEBUG_LINE_CHARS + 1>, DEBUG_LIST_LINES> DebugLines;
int iFirst = 0;
int iCount = 0;

// Dump lines are not cut, but at 16 bytes a line they stay at 48 characters.
void AddListLine(const char* pszText) {
    int iSlot = (iFirst + iCount) % DEBUG_LIST_LINES;
    if (iCount == DEBUG_LIST_LINES) {
        iFirst = (iFirst + 1) % DEBUG_LIST_LINES;
    } else {
        ++iCount;
    }
    std::snprintf(DebugLines[iSlot].data(), DebugLines[iSlot].size(), "%s", pszText);
}

} // namespace

int DebugLineCount() {
    return iCount;
}

const char* DebugLineAt(int iLine) {
    if (iLine < 0 || iLine >= iCount)
        return "";
    return DebugLines[(iFirst + iLine) % DEBUG_LIST_LINES].data();
}

void ClearDebugLines() {
    iFirst = 0;
    iCount = 0;
}

void DebugLine(const char* pszFormat, ...) {
    if (iDebugMode == 0)
        return;
    char szLine[DEBUG_LINE_CHARS + 1];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    AddListLine(szLine);
}

void LogLine(const char* pszFormat, ...) {
    if (iLogMode == 0)
        return;
    char szText[4096];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);

    std::time_t tNow = std::time(nullptr);
    std::tm* pNow = std::localtime(&tNow);
    char szStamp[32] = "";
    if (pNow != nullptr)
        std::strftime(szStamp, sizeof szStamp, "%m/%d/%y  %H:%M:%S", pNow);

    std::FILE* pFile = std::fopen(szLogPath, "a");
    if (pFile == nullptr)
        return;
    // "\r\n" through a text-mode stream: the file gets 0D 0D 0A, as earlier versions wrote it.
    std::fprintf(pFile, "%s - %s\r\n", szStamp, szText);
    std::fclose(pFile);
}

void HexDump() {
    if (iDebugMode == 0)
        return;
    char szLine[DEBUG_LINE_CHARS + 1];
    int iUsed = std::snprintf(szLine, sizeof szLine, "Hexdump - iWrtPtr = %d", iWrtPtr);
    int iBytes = iWrtPtr < 0 ? 0 : (iWrtPtr > ASSEMBLY_BUFFER_SIZE ? ASSEMBLY_BUFFER_SIZE : iWrtPtr);
    for (int i = 0; i < iBytes; ++i) {
        if (i % 16 == 0) {
            AddListLine(szLine);
            iUsed = 0;
            szLine[0] = '\0';
        }
        iUsed += std::snprintf(szLine + iUsed, sizeof szLine - iUsed, " %02X", AssemblyBuffer[i]);
    }
    AddListLine(szLine);
}
