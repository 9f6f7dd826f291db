// The work of one receive notification, as the window runs it.
#include "protocol/assembly.h"
#include "protocol/pending.h"
#include "protocol/publish.h"

void ReceiveAndPublish(SerialPort* pPort) {
    ReceiveFromPort(pPort);
    if (!ReceiveWaiting())
        PublishPending();
}

bool WorkWaiting() {
    return ReceiveWaiting() || PendingCount() > 0 || PublishGaveWay();
}
