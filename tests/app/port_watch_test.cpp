// The port watch of the real main window, in the test process: the device port is one end of the
// rig's null-modem pair, the peer writes the other, the stand-in's core is the infodriver. Where a
// USB adapter's driver does what Wine never does (a handle that stops answering once the adapter
// is pulled, a read that then hangs for ever), the serial layer's system calls are replaced.
#include "protocol/slotmap.h"
#include "serial/port_calls.h"
#include "serial/port_table.h"
#include "tests/app/main_window_fixture.h"
#include "tests/serial/rig.h"
#include "tests/support/dialogs.h"
#include "tests/support/driver_site.h"
#include "tools/devsim/messages.h"

#include <dbt.h>

#include <atomic>
#include <functional>

namespace {

std::atomic<bool> bPulled{false};
std::atomic<int> iHangingReads{0};
HANDLE hEndHangingReads = nullptr;

BOOL WINAPI NoAnswerOncePulled(HANDLE hCom, LPDWORD pdwErrors, LPCOMSTAT pStatus) {
    if (!bPulled)
        return SYSTEM_PORT_CALLS.pfnClearCommError(hCom, pdwErrors, pStatus);
    SetLastError(ERROR_BAD_COMMAND);
    return FALSE;
}
// A read that never completes and ignores its cancellation: nothing is started, its event is never
// set, and the wait for its result lasts until the test ends.
BOOL WINAPI HangingRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
    ++iHangingReads;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI IgnoredCancel(HANDLE, LPOVERLAPPED) {
    return TRUE;
}
BOOL WINAPI ResultNeverComes(HANDLE, LPOVERLAPPED, LPDWORD pdwCount, BOOL) {
    WaitForSingleObject(hEndHangingReads, INFINITE);
    *pdwCount = 0;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}

std::vector<unsigned char> TextMessage(int iIndex, const std::string& sText) {
    std::string sError;
    return devsim::TextMessage(iIndex, sText, sError);
}

class PortWatch : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        rig::DrainPair();
        bPulled = false;
        hEndHangingReads = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        SetEvent(hEndHangingReads);
        MainWindowTest::TearDown();
        PortCalls = SYSTEM_PORT_CALLS;
        CloseHandle(hEndHangingReads);
    }

    // The window reading the rig's port, once its first tick has run: the watch then takes hints.
    void Start() {
        ASSERT_NO_FATAL_FAILURE(StartWith("DebugMode=1\r\nLogMode=1\r\n", rig::DriverPort()));
        ASSERT_TRUE(DevicePort.IsOpen());
        ASSERT_TRUE(
            PumpUntil([this] { return WindowText(hMain).find("TX/RX") != std::string::npos; }, 10000));
    }

    // Sent as the system sends it, with an lParam that points nowhere: only a hint, answered at
    // once; the window's loop looks at the port after it.
    LRESULT Hint(WPARAM wEvent, bool bOpenAfter) {
        const LRESULT iAnswer = SendMessageA(hMain, WM_DEVICECHANGE, wEvent, 0x10);
        EXPECT_TRUE(PumpUntil([bOpenAfter] { return DevicePort.IsOpen() == bOpenAfter; }, 5000));
        return iAnswer;
    }

    static bool PumpUntil(const std::function<bool()>& bDone, DWORD dwMs) {
        for (const DWORD dwStart = GetTickCount(); !bDone(); Sleep(10)) {
            if (GetTickCount() - dwStart > dwMs)
                return false;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        return true;
    }

    std::string Line(const char* pszWhat) const {
        return "Serial port " + std::to_string(rig::DriverPort()) + " " + pszWhat;
    }
};

TEST_F(PortWatch, AHandleThatStopsAnsweringWhileItsReadHangsIsClosedAndThePortOpenedAgainOnTheNextHint) {
    PortCalls.pfnReadFile = HangingRead;
    PortCalls.pfnCancelIoEx = IgnoredCancel;
    PortCalls.pfnGetOverlappedResult = ResultNeverComes;
    PortCalls.pfnClearCommError = NoAnswerOncePulled;
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(PumpUntil([] { return iHangingReads > 0; }, 5000));

    bPulled = true;
    EXPECT_EQ(Hint(DBT_DEVICEREMOVECOMPLETE, false), TRUE);
    EXPECT_TRUE(ShellWindow::HasLine(Line("removed")));
    EXPECT_EQ(CountOf(LogText(), Line("removed")), 1);

    // The adapter is back, its hung read still waits.
    PortCalls = SYSTEM_PORT_CALLS;
    bPulled = false;
    Hint(DBT_DEVICEARRIVAL, true);
    rig::Peer Device(38400);
    Device.Write(TextMessage(3, "BACK AGAIN"));
    EXPECT_TRUE(PumpUntil([] { return standin::SlotText(TEXT_BASE + 3) == "BACK AGAIN"; }, 5000));
    const std::string sLog = LogText();
    EXPECT_EQ(CountOf(sLog, Line("removed")), 1) << sLog;
    EXPECT_EQ(CountOf(sLog, Line("is back")), 1) << sLog;
    EXPECT_TRUE(ShellWindow::HasLine(Line("is back")));
}

// The window held (nothing dispatched) while the device sends: the bytes wait in the queue when
// the port goes.
TEST_F(PortWatch, WhatWaitedInTheQueueOfAPortTheWatchClosedIsAllPublished) {
    PortCalls.pfnClearCommError = NoAnswerOncePulled;
    ASSERT_NO_FATAL_FAILURE(Start());
    constexpr int TEXTS = 9;
    std::vector<unsigned char> Bytes;
    for (int i = 0; i < TEXTS; ++i) {
        const auto Message = TextMessage(i, "HELD " + std::to_string(i));
        Bytes.insert(Bytes.end(), Message.begin(), Message.end());
    }
    rig::Peer Device(38400);
    Device.Write(Bytes);
    PortRecord Record{};
    for (const DWORD dwStart = GetTickCount();
         PortPeek(DevicePort.GetIndex(), &Record) && Record.iPendingCount < static_cast<LONG>(Bytes.size());
         Sleep(10))
        ASSERT_LT(GetTickCount() - dwStart, 10000u)
            << Record.iPendingCount << " of " << Bytes.size() << " queued";

    bPulled = true;
    Hint(DBT_DEVICEREMOVECOMPLETE, false);
    bPulled = false;
    PumpUntil([] { return !standin::SlotText(TEXT_BASE + TEXTS - 1).empty(); }, 10000);
    for (int i = 0; i < TEXTS; ++i)
        EXPECT_EQ(standin::SlotText(TEXT_BASE + i), "HELD " + std::to_string(i));
}

} // namespace
