// What the protocol core publishes goes through the driver's client.
#include "infodriver/client.h"

bool PublishSlot(int iSlot, const char* pszText) {
    return Infodriver.UpdateSlot(iSlot, "%s", pszText);
}

void ReportDriverState(int iValue) {
    Infodriver.SetDriverState(iValue);
}

int QueryRedundancyState() {
    return Infodriver.GetRedundancyState();
}
