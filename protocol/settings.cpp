#include "protocol/settings.h"

int iDeviceNumber = 0;
bool bExtensions = false;
int iTXoutput = 0;

int TxOutputSlot(int iSetting) {
    if (iSetting < 1 || iSetting > 16)
        return iSetting;
    int n = iSetting - 1;
    return 331 + 200 * (n / 4) + n % 4;
}
