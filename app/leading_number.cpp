#include "app/leading_number.h"

#include <climits>

namespace {

// The C locale's white space, as strtol skips it.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

int LeadingNumber(const char* pszText) {
    if (pszText == nullptr)
        return 0;
    const char* p = pszText;
    while (IsBlank(*p))
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = *p++ == '-';
    // Accumulated as a magnitude that stops growing one past INT_MAX, so nothing can overflow.
    const long long llLimit = static_cast<long long>(INT_MAX) + 1;
    long long llValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        llValue = llValue * 10 + (*p - '0');
        if (llValue > llLimit)
            llValue = llLimit;
    }
    if (bNegative)
        return static_cast<int>(-llValue); // -(INT_MAX + 1) is INT_MIN itself
    return llValue > INT_MAX ? INT_MAX : static_cast<int>(llValue);
}
