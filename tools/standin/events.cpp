#include "tools/standin/events.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace standin {
namespace {
LineSink pfnLineSink = nullptr;
}

void SetSink(LineSink pfnSink) {
    pfnLineSink = pfnSink;
}

void Emit(const char* pszFormat, ...) {
    if (pfnLineSink == nullptr)
        return;
    char szLine[2400];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    pfnLineSink(szLine);
}

std::string Escaped(const std::string& sText) {
    std::string sOut;
    for (unsigned char c : sText) {
        switch (c) {
            case '\\':
                sOut += "\\\\";
                break;
            case '\n':
                sOut += "\\n";
                break;
            case '\r':
                sOut += "\\r";
                break;
            case '\t':
                sOut += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char szHex[8];
                    std::snprintf(szHex, sizeof szHex, "\\x%02x", c);
                    sOut += szHex;
                } else {
                    sOut += static_cast<char>(c);
                }
        }
    }
    return sOut;
}

std::string Unescaped(const char* pszText) {
    std::string sOut;
    for (const char* p = pszText; *p != 0; ++p) {
        if (*p != '\\' || p[1] == 0) {
            sOut += *p;
            continue;
        }
        ++p;
        switch (*p) {
            case 'n':
                sOut += '\n';
                break;
            case 'r':
                sOut += '\r';
                break;
            case 't':
                sOut += '\t';
                break;
            case 'x':
                if (std::isxdigit(static_cast<unsigned char>(p[1])) &&
                    std::isxdigit(static_cast<unsigned char>(p[2]))) {
                    char szHex[3] = {p[1], p[2], 0};
                    sOut += static_cast<char>(std::strtoul(szHex, nullptr, 16));
                    p += 2;
                } else {
                    sOut += 'x';
                }
                break;
            default:
                sOut += *p;
                break;
        }
    }
    return sOut;
}

std::string HandleText(HWND hWnd) {
    char szText[24];
    std::snprintf(szText, sizeof szText, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hWnd)));
    return szText;
}

} // namespace standin
