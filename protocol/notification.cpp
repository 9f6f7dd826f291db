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

// The tally boxes, unless publishing showed them already (a tally's slot must not wait for
// them), and the counters once the work is done, or every COUNTS_PERIOD_MS while it goes on.
// Nothing is painted before the window's work returns anyway.
void ShowPanel() {
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
    if (!ReceiveWaiting())
        PublishPending();
    ShowPanel();
}

void ReceiveSlice(SerialPort* pPort) {
    const unsigned long ulStart = TickCountMs();
    const auto TimeLeft = [ulStart] { return TickCountMs() - ulStart < RECEIVE_SLICE_MS; };
    for (;;) {
        ReceiveFromPort(pPort);
        while (ReceiveWaiting() && TimeLeft()) {
            const int iBefore = iWrtPtr;
            if (ReceiveFromPort(pPort) == 0 && iWrtPtr >= iBefore)
                break;
        }
        if (ReceiveWaiting())
            break;
        PublishPending();
        // A step that gave way to new bytes goes on here with them: a trip round the message loop
        // for each would cost more than the slot it publishes.
        if (!PublishGaveWay())
            break;
        if (!TimeLeft()) {
            // Out of time, but the bytes it gave way to may end in a trigger: its tallies go out
            // before the message loop runs, the rest of what they bring after it.
            ReceiveFromPort(pPort);
            if (!ReceiveWaiting())
                PublishUrgent();
            break;
        }
    }
    ShowPanel();
}

bool WorkWaiting() {
    return ReceiveWaiting() || PendingCount() > 0 || PublishGaveWay();
}
