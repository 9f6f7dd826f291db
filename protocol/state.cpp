#include "protocol/state.h"

#include "protocol/assembly.h"
#include "protocol/commissioning.h"
#include "protocol/decode.h"
#include "protocol/link.h"
#include "protocol/publish.h"
#include "protocol/settings.h"
#include "protocol/tally.h"

void ResetProtocolState() {
    AssemblyBuffer.fill(0);
    iWrtPtr = 0;
    iSerialRxCount = 0;
    SlotByteTable.fill(0);
    TallyLit.fill(0);
    ForgetPublishedTallies();
    ForgetDueTallyBoxes();
    bExtensions = false;
    iTXoutput = 0;
    iSilentTicks = 0;
    bCommsOK = false;
    iRedundancyState = 0;
    ResetPublishing();
    ForgetShownRxCount();
    ForgetShownLinkCounts();
    ForgetLineJudgements();
}
