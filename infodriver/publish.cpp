// What the protocol core publishes goes through the driver's client.
#include "infodriver/client.h"

// Constructed before the entry point, as the first of the driver's process-wide objects.
InfodriverClient Infodriver(CLIENT_HEADER_VERSION);

bool PublishSlot(int iSlot, const char* pszText) {
    return Infodriver.UpdateSlot(iSlot, "%s", pszText);
}

void ReportDriverState(int iValue) {
    Infodriver.SetDriverState(iValue);
}
