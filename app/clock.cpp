// The receive path's millisecond clock.
#include <windows.h>

#include "protocol/external.h"

unsigned long TickCountMs() {
    return GetTickCount();
}
