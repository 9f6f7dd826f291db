#include "protocol/commissioning.h"

#include "protocol/commissioning_form.h"
#include "protocol/commissioning_texts.h"
#include "protocol/external.h"
#include "protocol/line_errors.h"

#include <array>
#include <climits>

namespace {

// Bytes that do not frame, judged over the last ticks: a wrong speed, parity or word length turns
// the line into bytes in which doubled known commands are rare.
constexpr int LINE_WINDOW_SECONDS = 10;
constexpr long long LINE_LEAST_BYTES = 100; // fewer in the window are judged neither way
constexpr int FEW_FRAMED_PERCENT = 5;       // below this share framed, with bytes every second: say so
constexpr int GOOD_FRAMED_PERCENT = 50;     // at least this share framed: the episode is over

std::array<int, LINE_WINDOW_SECONDS> BytesIn{};
std::array<int, LINE_WINDOW_SECONDS> BytesFramed{};
int iSecond = 0; // the entry the next tick fills
int iInNow = 0;  // since the last tick
int iFramedNow = 0;
bool bFewSaid = false;

int Sum(int iCount, int iMore) {
    return iMore > INT_MAX - iCount ? INT_MAX : iCount + iMore;
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
        DebugLine("%s", FEW_MESSAGES_TEXT);
        LogLine("%s", FEW_MESSAGES_TEXT);
    } else if (bFewSaid && llFramed * 100 >= llIn * GOOD_FRAMED_PERCENT) {
        bFewSaid = false;
    }
}

} // namespace

void WatchReceivedBytes(const unsigned char* pBytes, int iCount, bool bBuffered) {
    if (iCount <= 0)
        return;
    iInNow = Sum(iInNow, iCount);
    if (bBuffered)
        WatchFormBytes(pBytes, iCount);
    else
        WatchFormGap();
}

void WatchMessage(MessageKind eKind, int iStart, int iEnd) {
    iFramedNow = Sum(iFramedNow, iEnd - iStart);
    WatchFormMessage(eKind, iStart);
}

void JudgeLineEachSecond() {
    JudgeFraming();
    ReportLineErrors();
}

void ForgetLineJudgements() {
    ForgetForm();
    BytesIn.fill(0);
    BytesFramed.fill(0);
    iSecond = iInNow = iFramedNow = 0;
    bFewSaid = false;
    ForgetLineErrors();
}
