#include "app/process_policy.h"

#include <windows.h>

namespace {

using SetProcessInformationFunction = BOOL(WINAPI*)(HANDLE hProcess, PROCESS_INFORMATION_CLASS iClass,
                                                    LPVOID pInformation, DWORD dwSize);

// A flag in ControlMask with its bit clear in StateMask turns that throttling off. Windows 10
// before version 1709 has no ProcessPowerThrottling, and knows the timer-resolution flag only from
// Windows 11 on: a refused request is tried again with less.
void OptOutOfPowerThrottling() {
    // Windows 8 and later: looked up, so that Windows 7 still starts the driver.
    const auto pfnSet = reinterpret_cast<SetProcessInformationFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessInformation")));
    if (pfnSet == nullptr)
        return;
    constexpr ULONG Requests[] = {PROCESS_POWER_THROTTLING_EXECUTION_SPEED |
                                      PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION,
                                  PROCESS_POWER_THROTTLING_EXECUTION_SPEED};
    for (const ULONG ulControl : Requests) {
        PROCESS_POWER_THROTTLING_STATE state{};
        state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        state.ControlMask = ulControl;
        state.StateMask = 0;
        if (pfnSet(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state))
            return;
    }
}

} // namespace

void ApplyProcessPolicy() {
    // A window that has not read its messages for 5 s is otherwise ghosted, and the operator
    // offered to end the driver, while it only waits for a stalled infodriver.
    DisableProcessWindowsGhosting();
    OptOutOfPowerThrottling();
}
