// The work of one receive notification, as the window runs it.
#include "protocol/assembly.h"
#include "protocol/external.h"
#include "protocol/pending.h"
#include "protocol/publish.h"
#include "protocol/tally.h"

namespace {

// While bytes keep coming, the counters are shown this often: each write of one costs about an
// exchange, and the bytes that came are to be framed first.
constexpr unsigned long COUNTS_PERIOD_MS = 200;
unsigned long ulCountsShown = 0;

} // namespace

void ReceiveAndPublish(SerialPort* pPort) {
    ReceiveFromPort(pPort);
    if (!ReceiveWaiting())
        PublishPending();
    // The panel last (the tally boxes, unless publishing showed them already): a tally's slot
    // must not wait for it. Nothing is painted before this returns anyway.
    ShowTallyBoxes();
    const unsigned long ulNow = TickCountMs();
    if (!PublishGaveWay() || ulNow - ulCountsShown >= COUNTS_PERIOD_MS) {
        ulCountsShown = ulNow;
        ShowRxCount();
        ShowLinkCounts();
    }
}

bool WorkWaiting() {
    return ReceiveWaiting() || PendingCount() > 0 || PublishGaveWay();
}
