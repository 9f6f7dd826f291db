#include "tools/devsim/messages.h"

namespace devsim {
namespace {

constexpr int GROUP_LENGTH = 23;
constexpr int OUTPUT_LENGTH = 12;
constexpr int TEXT_LENGTH = 21;
constexpr int TEXT_CHARS = 17;

Bytes Start(int iCommand, int iLength) {
    Bytes m(iLength, 0);
    m[0] = m[1] = static_cast<std::uint8_t>(iCommand);
    return m;
}

bool CheckNumbers(const Fields& f, int iMaxCount, std::string& sError) {
    if (static_cast<int>(f.Numbers.size()) > iMaxCount) {
        sError = "at most " + std::to_string(iMaxCount) + " numbers";
        return false;
    }
    for (int n : f.Numbers)
        if (n < 0 || n > 255) {
            sError = "number " + std::to_string(n) + " is not a byte";
            return false;
        }
    return true;
}

bool CheckFlags(const Fields& f, int iMaxFlag, std::string& sError) {
    for (int k : f.Flags)
        if (k < 1 || k > iMaxFlag) {
            sError = "flag " + std::to_string(k) + " outside 1.." + std::to_string(iMaxFlag);
            return false;
        }
    return true;
}

int Number(const Fields& f, int k) {
    return k <= static_cast<int>(f.Numbers.size()) ? f.Numbers[k - 1] : 0;
}

// Sets flag k (from 1) in a run of flag bytes found through iOffsetOf(byte index).
template <typename OffsetOf>
void SetFlags(Bytes& m, const Fields& f, OffsetOf iOffsetOf) {
    for (int k : f.Flags)
        m[iOffsetOf((k - 1) / 8)] |= static_cast<std::uint8_t>(1u << ((k - 1) % 8));
}

} // namespace

int BlockLength(bool bExtensions) {
    return bExtensions ? 29 : 25;
}
int ShortLength(bool bExtensions) {
    return bExtensions ? 21 : 5;
}

Bytes BlockMessage(int iBlock, const Fields& f, bool bExtensions, std::string& sError) {
    const int iLength = BlockLength(bExtensions);
    const int iNumbers = bExtensions ? 14 : 12;
    if (iBlock < 1 || iBlock > 4) {
        sError = "block message 1 to 4";
        return {};
    }
    if (!CheckNumbers(f, iNumbers, sError) || !CheckFlags(f, (iLength - 3) / 2 * 8, sError))
        return {};
    Bytes m = Start(0x80 + iBlock, iLength);
    for (int k = 1; k <= iNumbers; ++k)
        m[2 + 2 * (k - 1)] = static_cast<std::uint8_t>(Number(f, k));
    SetFlags(m, f, [](int i) { return 3 + 2 * i; });
    return m;
}

Bytes GroupMessage(int iGroup, const Fields& f, std::string& sError) {
    if (iGroup < 1 || iGroup > 2) {
        sError = "group message 1 or 2";
        return {};
    }
    if (!CheckNumbers(f, 14, sError) || !CheckFlags(f, 52, sError))
        return {};
    Bytes m = Start(0x90 + iGroup, GROUP_LENGTH);
    for (int k = 1; k <= 6; ++k)
        m[3 + 2 * (k - 1)] = static_cast<std::uint8_t>(Number(f, k));
    for (int k = 7; k <= 14; ++k)
        m[15 + (k - 7)] = static_cast<std::uint8_t>(Number(f, k));
    // Flag bytes at offsets 2, 4, ..., 12; flags 49 to 52 in the low bits of offset 14.
    SetFlags(m, f, [](int i) { return 2 + 2 * i; });
    return m;
}

Bytes ShortMessage(const Fields& f, bool bExtensions, std::string& sError) {
    if (!CheckNumbers(f, 2, sError) || !CheckFlags(f, 7, sError))
        return {};
    Bytes m = Start(0xA1, ShortLength(bExtensions));
    m[2] = static_cast<std::uint8_t>(Number(f, 1));
    m[3] = static_cast<std::uint8_t>(Number(f, 2));
    SetFlags(m, f, [](int) { return 4; });
    return m;
}

Bytes OutputMessage(int iOutput, const Fields& f, std::string& sError) {
    if (iOutput < 1 || iOutput > 4) {
        sError = "output message 1 to 4";
        return {};
    }
    if (!CheckNumbers(f, 8, sError) || !CheckFlags(f, 4, sError))
        return {};
    Bytes m = Start(0xB0 + iOutput, OUTPUT_LENGTH);
    constexpr int iOffset[9] = {0, 2, 4, 6, 7, 8, 9, 10, 11};
    for (int k = 1; k <= 8; ++k)
        m[iOffset[k]] = static_cast<std::uint8_t>(Number(f, k));
    SetFlags(m, f, [](int) { return 5; });
    return m;
}

Bytes TextMessage(int iIndex, const std::string& sText, std::string& sError) {
    if (iIndex < 0 || iIndex > 255) {
        sError = "text index 0 to 255";
        return {};
    }
    if (static_cast<int>(sText.size()) > TEXT_CHARS) {
        sError = "a text holds at most 17 characters";
        return {};
    }
    Bytes m = Start(0xC1, TEXT_LENGTH);
    m[2] = static_cast<std::uint8_t>(iIndex);
    for (size_t i = 0; i < sText.size(); ++i)
        m[3 + i] = static_cast<std::uint8_t>(sText[i]);
    return m;
}

Bytes MarkerMessage() {
    return Start(0xD1, 2);
}
Bytes TallyTrigger() {
    return Start(0xD2, 2);
}

} // namespace devsim
