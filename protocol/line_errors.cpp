#include "protocol/line_errors.h"

#include "protocol/commissioning_texts.h"
#include "protocol/external.h"

#include <climits>

namespace {

constexpr unsigned long REPORT_PERIOD_MS = 60000;

LineErrorCounts Unsaid{}; // since the last line
bool bSaid = false;
unsigned long ulSaid = 0; // when the last line went

int Sum(int iCount, int iMore) {
    if (iMore <= 0)
        return iCount;
    return iMore > INT_MAX - iCount ? INT_MAX : iCount + iMore;
}

} // namespace

void ReportLineErrors() {
    const LineErrorCounts New = TakeLineErrors();
    Unsaid.iFraming = Sum(Unsaid.iFraming, New.iFraming);
    Unsaid.iParity = Sum(Unsaid.iParity, New.iParity);
    Unsaid.iOverrun = Sum(Unsaid.iOverrun, New.iOverrun);
    Unsaid.iReceiveOverrun = Sum(Unsaid.iReceiveOverrun, New.iReceiveOverrun);
    if (Unsaid.iFraming == 0 && Unsaid.iParity == 0 && Unsaid.iOverrun == 0 && Unsaid.iReceiveOverrun == 0)
        return;
    // What is not said yet came after the last line: said a minute after it at the latest, it all
    // lies within the last minute.
    const unsigned long ulNow = TickCountMs();
    if (bSaid && ulNow - ulSaid < REPORT_PERIOD_MS)
        return;
    bSaid = true;
    ulSaid = ulNow;
    // A full receive buffer and the port's own overrun both lose characters to a reader too slow
    // for the line: one count.
    const int iOverrun = Sum(Unsaid.iOverrun, Unsaid.iReceiveOverrun);
    DebugLine(LINE_ERRORS_FORMAT, Unsaid.iFraming, Unsaid.iParity, iOverrun, LineSettingsText());
    LogLine(LINE_ERRORS_FORMAT, Unsaid.iFraming, Unsaid.iParity, iOverrun, LineSettingsText());
    Unsaid = LineErrorCounts{};
}

void ForgetLineErrors() {
    Unsaid = LineErrorCounts{};
    bSaid = false;
    ulSaid = 0;
}
