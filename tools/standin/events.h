#pragma once
// The stand-in's event lines: one line per event, fields separated by blanks, any text last and
// escaped (\\ \n \r \t and \xNN for other control bytes) so that a line is always one line.
#include <windows.h>

#include <string>

#include "tools/standin/standin.h"

namespace standin {

void SetSink(LineSink pfnSink);
void Emit(const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string Escaped(const std::string& sText);
std::string Unescaped(const char* pszText);
std::string HandleText(HWND hWnd); // "0x" and hexadecimal digits

} // namespace standin
