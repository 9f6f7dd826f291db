#pragma once
// The slots the protocol core may publish and the texts each may hold, written out from the
// driver's slot map on their own (not from protocol/slotmap.h), so that a wrong layout table in
// the core is caught rather than copied.
#include <array>
#include <cstddef>

namespace slotrules {

enum class SlotClass : unsigned char {
    None,      // the core never writes it
    Tally,     // "0" or "1"
    Number,    // a byte as unsigned decimal
    Flag,      // "0" or "1"
    Text,      // up to 17 characters
    LinkState, // "0" or "1"
    LinkClear, // always the empty text
};

constexpr int LAST_SLOT = 4092;
using SlotClasses = std::array<SlotClass, LAST_SLOT + 1>;

constexpr void Mark(SlotClasses& classes, int iFirst, int iLast, SlotClass eClass) {
    for (int s = iFirst; s <= iLast; ++s)
        classes[s] = eClass;
}

constexpr SlotClasses BuildSlotClasses(bool bExtensions) {
    SlotClasses classes{};
    Mark(classes, 1, 128, SlotClass::Tally);
    for (int b = 1; b <= 4; ++b) {
        const int h = 200 * b; // block message b
        Mark(classes, h + 1, h + (bExtensions ? 14 : 12), SlotClass::Number);
        Mark(classes, h + 21, h + (bExtensions ? 124 : 108), SlotClass::Flag);
        const int o = 200 * b + 131; // output message b
        Mark(classes, o, o + 7, SlotClass::Number);
        Mark(classes, o + 10, o + 13, SlotClass::Flag);
    }
    Mark(classes, 951, 952, SlotClass::Number); // short message
    Mark(classes, 953, 959, SlotClass::Flag);
    for (int g : {1000, 1100}) { // group messages
        Mark(classes, g + 1, g + 14, SlotClass::Number);
        Mark(classes, g + 21, g + 72, SlotClass::Flag);
    }
    Mark(classes, 1200, 1455, SlotClass::Text);
    classes[4091] = SlotClass::LinkState;
    classes[4092] = SlotClass::LinkClear;
    return classes;
}

constexpr SlotClasses ShortFormClasses = BuildSlotClasses(false);
constexpr SlotClasses LongFormClasses = BuildSlotClasses(true);

constexpr SlotClass ClassOf(int iSlot, bool bExtensions) {
    if (iSlot < 1 || iSlot > LAST_SLOT)
        return SlotClass::None;
    return bExtensions ? LongFormClasses[iSlot] : ShortFormClasses[iSlot];
}

// The checks run on every slot sent, so they read the text themselves rather than call the
// library's string functions, which the address sanitizer makes costly.
inline bool IsBit(const char* pszText) {
    return (pszText[0] == '0' || pszText[0] == '1') && pszText[1] == '\0';
}

// At most nMax characters.
inline bool NoLongerThan(const char* pszText, std::size_t nMax) {
    for (std::size_t n = 0; n <= nMax; ++n)
        if (pszText[n] == '\0')
            return true;
    return false;
}

// "0" to "255", no leading zero.
inline bool IsByteNumber(const char* pszText) {
    if (!NoLongerThan(pszText, 3) || pszText[0] == '\0' || (pszText[0] == '0' && pszText[1] != '\0'))
        return false;
    int iValue = 0;
    for (std::size_t i = 0; pszText[i] != '\0'; ++i) {
        if (pszText[i] < '0' || pszText[i] > '9')
            return false;
        iValue = iValue * 10 + (pszText[i] - '0');
    }
    return iValue <= 255;
}

// True when the text may be published to a slot of this class.
inline bool TextFits(SlotClass eClass, const char* pszText) {
    switch (eClass) {
        case SlotClass::Tally:
        case SlotClass::Flag:
        case SlotClass::LinkState:
            return IsBit(pszText);
        case SlotClass::Number:
            return IsByteNumber(pszText);
        case SlotClass::Text:
            return NoLongerThan(pszText, 17);
        case SlotClass::LinkClear:
            return pszText[0] == '\0';
        default:
            return false;
    }
}

} // namespace slotrules
