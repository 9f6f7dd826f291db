#include "serial/line_errors.h"

#include "serial/port_table.h"

namespace {

enum LineErrorKind { FRAMING, PARITY, OVERRUN, RECEIVE_OVERRUN, LINE_ERROR_KINDS };

struct KindBit {
    LineErrorKind eKind;
    DWORD dwBit;
};
constexpr KindBit KindBits[] = {
    {FRAMING, CE_FRAME},
    {PARITY, CE_RXPARITY},
    {OVERRUN, CE_OVERRUN},
    {RECEIVE_OVERRUN, CE_RXOVER},
};

// Interlocked on both sides: the reader adds, the user-interface thread adds and takes.
volatile LONG iCounts[PORT_COUNT][LINE_ERROR_KINDS];

} // namespace

void CountLineErrors(int iIndex, DWORD dwErrors) {
    if (iIndex < 0 || iIndex >= PORT_COUNT)
        return;
    for (const KindBit& k : KindBits)
        if ((dwErrors & k.dwBit) != 0)
            InterlockedIncrement(&iCounts[iIndex][k.eKind]);
}

LineErrorCounts TakeRecordLineErrors(int iIndex) {
    if (iIndex < 0 || iIndex >= PORT_COUNT)
        return LineErrorCounts{};
    volatile LONG* pCounts = iCounts[iIndex];
    LineErrorCounts Taken{};
    Taken.iFraming = InterlockedExchange(&pCounts[FRAMING], 0);
    Taken.iParity = InterlockedExchange(&pCounts[PARITY], 0);
    Taken.iOverrun = InterlockedExchange(&pCounts[OVERRUN], 0);
    Taken.iReceiveOverrun = InterlockedExchange(&pCounts[RECEIVE_OVERRUN], 0);
    return Taken;
}
