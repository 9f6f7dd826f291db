// The work of one receive notification, as the window runs it.
#include "protocol/assembly.h"
#include "protocol/pending.h"
#include "protocol/publish.h"
#include "protocol/tally.h"

void ReceiveAndPublish(SerialPort* pPort) {
    ReceiveFromPort(pPort);
    if (!ReceiveWaiting())
        PublishPending();
    // The panel last (the tally boxes, unless publishing showed them already): each of its writes
    // costs about as much as an exchange, and a tally's slot must not wait for them. Nothing is
    // painted before this returns anyway.
    ShowTallyBoxes();
    ShowRxCount();
    ShowLinkCounts();
}

bool WorkWaiting() {
    return ReceiveWaiting() || PendingCount() > 0 || PublishGaveWay();
}
