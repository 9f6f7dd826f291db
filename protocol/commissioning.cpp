#include "protocol/commissioning.h"

#include "protocol/assembly.h"
#include "protocol/commissioning_texts.h"
#include "protocol/external.h"
#include "protocol/line_errors.h"
#include "protocol/settings.h"

#include <array>
#include <climits>
#include <cstdint>

namespace {

// The form the switcher sends, judged over its last block and short messages: data and garbage
// can make any one message look like either form.
constexpr int FORM_WINDOW = 32;
constexpr int FORM_SAY = 20; // this many of them look like the other form: say so
constexpr int FORM_OVER = 4; // no more than this many: the episode is over, a new one speaks again
constexpr int BLOCK_EXTRA = MessageLength(0x81, true) - MessageLength(0x81, false);
constexpr int SHORT_EXTRA = MessageLength(0xA1, true) - MessageLength(0xA1, false);
static_assert(FORM_WINDOW <= 32, "the window is a 32-bit history");

// Bytes that do not frame, judged over the last ticks: a wrong speed, parity or word length turns
// the line into bytes in which doubled known commands are rare.
constexpr int LINE_WINDOW_SECONDS = 10;
constexpr long long LINE_LEAST_BYTES = 100; // fewer in the window are judged neither way
constexpr int FEW_FRAMED_PERCENT = 5;       // below this share framed, with bytes every second: say so
constexpr int GOOD_FRAMED_PERCENT = 50;     // at least this share framed: the episode is over

std::uint32_t uOtherForm = 0; // a bit per judged message, the newest lowest: it looked like the other form
int iOtherForm = 0;           // bits set in uOtherForm
bool bFormSaid = false;
// Extensions clear, after a block or short message: the bytes its long form adds. The next pair
// found that far on says the switcher sends the long form. 0: none awaited.
int iGapAwaited = 0;

std::array<int, LINE_WINDOW_SECONDS> BytesIn{};
std::array<int, LINE_WINDOW_SECONDS> BytesFramed{};
int iSecond = 0; // the entry the next tick fills
int iInNow = 0;  // since the last tick
int iFramedNow = 0;
bool bFewSaid = false;

int Sum(int iCount, int iMore) {
    return iMore > INT_MAX - iCount ? INT_MAX : iCount + iMore;
}

void Say(const char* pszText) {
    DebugLine("%s", pszText);
    LogLine("%s", pszText);
}

void JudgeForm(bool bOther) {
    if ((uOtherForm & (1u << (FORM_WINDOW - 1))) != 0)
        --iOtherForm;
    uOtherForm = (uOtherForm << 1) | (bOther ? 1u : 0u);
    iOtherForm += bOther ? 1 : 0;
    if (!bFormSaid && iOtherForm >= FORM_SAY) {
        bFormSaid = true;
        Say(bExtensions ? SENDS_PLAIN_TEXT : SENDS_EXTENDED_TEXT);
    } else if (bFormSaid && iOtherForm <= FORM_OVER) {
        bFormSaid = false;
    }
}

bool KnownPairAt(int i) {
    const unsigned char b = AssemblyBuffer[i];
    return b >= FIRST_COMMAND_BYTE && AssemblyBuffer[i + 1] == b && KindOf(b) != MessageKind::Unrecognised;
}

void JudgeFraming() {
    BytesIn[iSecond] = iInNow;
    BytesFramed[iSecond] = iFramedNow;
    iSecond = (iSecond + 1) % LINE_WINDOW_SECONDS;
    iInNow = iFramedNow = 0;
    long long llIn = 0, llFramed = 0;
    bool bEverySecond = true;
    for (int k = 0; k < LINE_WINDOW_SECONDS; ++k) {
        llIn += BytesIn[k];
        llFramed += BytesFramed[k];
        bEverySecond = bEverySecond && BytesIn[k] > 0;
    }
    if (llIn < LINE_LEAST_BYTES)
        return;
    if (!bFewSaid && bEverySecond && llFramed * 100 < llIn * FEW_FRAMED_PERCENT) {
        bFewSaid = true;
        Say(FEW_MESSAGES_TEXT);
    } else if (bFewSaid && llFramed * 100 >= llIn * GOOD_FRAMED_PERCENT) {
        bFewSaid = false;
    }
}

} // namespace

void WatchReceivedBytes(int iCount) {
    if (iCount > 0)
        iInNow = Sum(iInNow, iCount);
}

void WatchCommandPair(int iAt, MessageKind eKind) {
    // The buffer starts where the last message ended, until the next pair is found.
    if (iGapAwaited == 0)
        return;
    JudgeForm(iAt == iGapAwaited && eKind != MessageKind::Unrecognised);
    iGapAwaited = 0;
}

void WatchMessage(MessageKind eKind, int iStart, int iEnd) {
    iFramedNow = Sum(iFramedNow, iEnd - iStart);
    const int iExtra = eKind == MessageKind::Block   ? BLOCK_EXTRA
                       : eKind == MessageKind::Short ? SHORT_EXTRA
                                                     : 0;
    if (iExtra == 0)
        return;
    if (bExtensions)
        JudgeForm(KnownPairAt(iEnd - iExtra)); // where the short form would have ended
    else
        iGapAwaited = iExtra;
}

void JudgeLineEachSecond() {
    JudgeFraming();
    ReportLineErrors();
}

void ForgetLineJudgements() {
    uOtherForm = 0;
    iOtherForm = 0;
    bFormSaid = false;
    iGapAwaited = 0;
    BytesIn.fill(0);
    BytesFramed.fill(0);
    iSecond = iInNow = iFramedNow = 0;
    bFewSaid = false;
    ForgetLineErrors();
}
