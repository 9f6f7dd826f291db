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

// The publish step once nothing is left to frame, then the panel: the tally boxes, unless
// publishing showed them already (a tally's slot must not wait for them), and the counters once the
// work is done, or every COUNTS_PERIOD_MS while it goes on. Nothing is painted before the slice
// returns anyway.
void PublishAndShow() {
    if (!ReceiveWaiting())
        PublishPending();
    ShowTallyBoxes();
    const unsigned long ulNow = TickCountMs();
    if (!WorkWaiting() || ulNow - ulCountsShown >= COUNTS_PERIOD_MS) {
        ulCountsShown = ulNow;
        ShowRxCount();
        ShowLinkCounts();
    }
}

} // namespace

void ReceiveAndPublish(SerialPort* pPort) {
    ReceiveFromPort(pPort);
    PublishAndShow();
}

void ReceiveSlice(SerialPort* pPort) {
    const unsigned long ulStart = TickCountMs();
    ReceiveFromPort(pPort);
    while (ReceiveWaiting() && TickCountMs() - ulStart < RECEIVE_SLICE_MS) {
        const int iBefore = iWrtPtr;
        if (ReceiveFromPort(pPort) == 0 && iWrtPtr >= iBefore)
            break;
    }
    PublishAndShow();
}

bool WorkWaiting() {
    return ReceiveWaiting() || PendingCount() > 0 || PublishGaveWay();
}
