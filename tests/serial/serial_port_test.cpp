// The serial port layer against real COM ports: a virtual null-modem pair made by
// scripts/nullmodem.sh (see CMakeLists.txt), the driver reading one end, a peer writing the other.
#include "serial/abandoned_readers.h"
#include "serial/port_calls.h"
#include "serial/port_reader.h"
#include "serial/port_table.h"
#include "serial/serial_port.h"
#include "tests/serial/rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using rig::NotifyWindow;
using rig::Peer;

namespace {

class SerialRig : public ::testing::Test {
  protected:
    void SetUp() override {
        rig::DrainPair();
        ASSERT_TRUE(Peer(9600).IsOpen()) << "COM" << rig::PeerPort() << " missing: is the null-modem rig up?";
    }
    void TearDown() override { EXPECT_EQ(hPortTable, nullptr) << "a case left a port open"; }

    // Bytes written by the peer at 38400 bit/s are received by a port open at that speed, all of
    // them and in order.
    static void ExpectReceivedWhole(const std::vector<BYTE>& Bytes) {
        NotifyWindow Window;
        SerialPort Port;
        Port.SetSpeed(38400);
        ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
        ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
        Peer Writer(38400);
        Writer.Write(Bytes);
        Window.PumpUntil([&] { return Window.Received().size() >= Bytes.size(); }, 20000);
        Window.Pump(100);
        EXPECT_EQ(Window.Received(), Bytes);
        Port.Close();
    }

    static PortRecord Record(const SerialPort& Port) {
        PortRecord Copy{};
        PortPeek(Port.GetIndex(), &Copy);
        return Copy;
    }
};

TEST_F(SerialRig, OpenCloseAndReopenUseTheRecordOfThePortAndFreeTheTable) {
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(Port.GetPortNumber(), rig::DriverPort());
    EXPECT_EQ(Port.GetIndex(), rig::DriverPort() - 1);
    PortRecord First = Record(Port);
    EXPECT_NE(First.hCom, nullptr);
    EXPECT_NE(First.hReaderThread, nullptr);
    EXPECT_NE(First.hRxQueue, nullptr);
    EXPECT_EQ(First.iPortNumber, rig::DriverPort());
    EXPECT_EQ(First.pOwner, &Port);
    // Open leaves no target and a read size of 0.
    EXPECT_EQ(First.hNotifyWindow, nullptr);
    EXPECT_EQ(First.Timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(iReadSize[Port.GetIndex()], 0);

    Port.Close();
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_EQ(Port.GetIndex(), -1);
    EXPECT_EQ(Port.GetPortNumber(), 0);
    EXPECT_EQ(hPortTable, nullptr);

    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    PortRecord Second = Record(Port);
    EXPECT_EQ(Second.iPendingCount, 0);
    EXPECT_EQ(Second.bNotifyPosted, 0);
    EXPECT_EQ(Second.dwLastNotifyTick, 0u);
    Port.Close();
}

TEST_F(SerialRig, OpenOfPortZero257OrAMissingPortFailsWithMinusOneAndLeavesNoTable) {
    SerialPort Port;
    for (int iBad : {0, 257, 99}) {
        EXPECT_EQ(Port.Open(iBad), -1) << "COM" << iBad;
        EXPECT_EQ(Port.GetIndex(), -1);
        EXPECT_EQ(Port.GetPortNumber(), 0);
        EXPECT_FALSE(Port.IsOpen());
        EXPECT_EQ(hPortTable, nullptr);
    }
    EXPECT_EQ(Port.SetNotifyWindow(GetDesktopWindow(), 16), 0);
    EXPECT_EQ(Port.Read(nullptr, 16), 0);
}

TEST_F(SerialRig, OpenOfAPortAlreadyOpenFailsWithMinusTwoAndLeavesTheFirstWorking) {
    NotifyWindow Window;
    SerialPort First, Second;
    ASSERT_EQ(First.Open(rig::DriverPort()), 1);
    EXPECT_EQ(Second.Open(rig::DriverPort()), -2);
    EXPECT_EQ(Second.GetIndex(), -2);
    EXPECT_EQ(Second.GetPortNumber(), 0);
    EXPECT_EQ(Second.SetNotifyWindow(Window.Handle(), 16), 0);

    ASSERT_EQ(First.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer;
    const auto Bytes = rig::Pattern(40);
    Writer.Write(Bytes);
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Received().size() >= Bytes.size(); }, 3000));
    EXPECT_EQ(Window.Received(), Bytes);
    EXPECT_EQ(Window.LastOwner(), &First);
    First.Close();
}

// A Linux pty keeps speed and stop bits but forces 8 data bits without parity, so those two are
// what can be seen from the Linux side.
TEST_F(SerialRig, LineSettingsReachTheLineAndASetterReopensWithTheNewOnes) {
    SerialPort Port;
    Port.SetSpeed(38400);
    Port.SetStopBits(TWOSTOPBITS);
    EXPECT_EQ(hPortTable, nullptr) << "setters of a closed port only store";
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    std::string sLine = rig::LinuxLineSettings(rig::DriverPort());
    ASSERT_FALSE(sLine.empty());
    EXPECT_NE(sLine.find("speed 38400 baud"), std::string::npos) << sLine;
    EXPECT_NE(sLine.find(" cstopb"), std::string::npos) << sLine;

    Port.SetStopBits(ONESTOPBIT);
    Port.SetSpeed(921600);
    ASSERT_TRUE(Port.IsOpen());
    sLine = rig::LinuxLineSettings(rig::DriverPort());
    EXPECT_NE(sLine.find("speed 921600 baud"), std::string::npos) << sLine;
    EXPECT_NE(sLine.find(" -cstopb"), std::string::npos) << sLine;

    Port.SetSpeed(9600);
    sLine = rig::LinuxLineSettings(rig::DriverPort());
    EXPECT_NE(sLine.find("speed 9600 baud"), std::string::npos) << sLine;
    Port.Close();
}

TEST_F(SerialRig, ASpeedOfZeroIsRefusedAndASetterWhoseReopenFailsLeavesThePortClosed) {
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    Port.SetSpeed(0);
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_LT(Port.GetIndex(), 0);
    EXPECT_EQ(Port.GetPortNumber(), 0);
    EXPECT_EQ(hPortTable, nullptr);
    Port.SetSpeed(9600);
    EXPECT_EQ(Port.Open(rig::DriverPort()), 1);
    Port.Close();
}

TEST_F(SerialRig, BytesWrittenOnThePeerArriveInOrderThroughNotificationsAndRead) {
    NotifyWindow Window;
    SerialPort Port;
    Port.SetSpeed(115200);
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer(115200);
    const auto Bytes = rig::Pattern(6000, 7);
    std::thread Sender([&] {
        for (size_t i = 0, iChunk = 1; i < Bytes.size(); i += iChunk, iChunk = iChunk % 300 + 37) {
            Writer.Write(Bytes.data() + i, std::min(iChunk, Bytes.size() - i));
            Sleep(2);
        }
    });
    bool bAll = Window.PumpUntil([&] { return Window.Received().size() >= Bytes.size(); }, 10000);
    Sender.join();
    ASSERT_TRUE(bAll) << Window.Received().size() << " of " << Bytes.size();
    EXPECT_EQ(Window.Received(), Bytes);
    EXPECT_EQ(Window.LastOwner(), &Port);
    EXPECT_GT(Window.Notifications(), 0);
    EXPECT_EQ(Record(Port).iPendingCount, 0);
    EXPECT_EQ(Port.GetDroppedBytes(), 0);
    Port.Close();
}

TEST_F(SerialRig, TwoChunks30MsApartGiveOneNotificationUnlessReadBetween) {
    NotifyWindow Window;
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer;
    // Whole reads of 16 bytes make each chunk one delivery.
    const auto Chunk = rig::Pattern(16);

    Window.SetDraining(false);
    Writer.Write(Chunk);
    Sleep(30);
    Writer.Write(Chunk);
    Window.Pump(60);
    EXPECT_EQ(Window.Notifications(), 1);
    EXPECT_EQ(Record(Port).iPendingCount, 32);
    BYTE Buffer[64];
    EXPECT_EQ(Port.Read(Buffer, sizeof Buffer), 32);
    Window.Pump(200);

    Window.SetDraining(true);
    const int iBefore = Window.Notifications();
    const DWORD dwStart = GetTickCount();
    Writer.Write(Chunk);
    ASSERT_TRUE(Window.PumpUntil([&] { return Window.Notifications() > iBefore; }, 1000));
    const DWORD dwElapsed = GetTickCount() - dwStart;
    if (dwElapsed < 30)
        Sleep(30 - dwElapsed);
    Writer.Write(Chunk);
    Window.Pump(60);
    EXPECT_EQ(Window.Notifications() - iBefore, 2);
    EXPECT_EQ(Window.Received().size(), 32u);
    Port.Close();
}

constexpr DWORD AFTER_THE_WRAP = 2000; // the tick count 2 s after it wrapped
DWORD WINAPI StoppedClock() {
    return AFTER_THE_WRAP;
}

// With the reader's clock stopped, only the record's state decides whether a chunk is announced.
TEST_F(SerialRig, ANotificationLostBeforeTheTickWrapOrNotPostedAtAllIsMadeUpByTheNextChunk) {
    struct RealClock {
        ~RealClock() { pfnPortTickCount = GetTickCount; }
    } Restore;
    pfnPortTickCount = StoppedClock;
    NotifyWindow Window;
    Window.SetDraining(false);
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer;

    // A notification posted 5 s ago, before the wrap, and lost: the consumer never read.
    {
        PortTablePin Pin;
        PortRecord& Live = *Pin.Record(Port.GetIndex());
        Live.bNotifyPosted = 1;
        Live.dwLastNotifyTick = AFTER_THE_WRAP - 5000;
    }
    Writer.Write(rig::Pattern(16));
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Notifications() == 1; }, 2000));

    // A post that fails (its window has gone) leaves nothing posted, so a chunk at the same tick
    // is announced to the next target.
    BYTE Buffer[64];
    while (Port.Read(Buffer, sizeof Buffer) > 0)
        ;
    const HWND hGone = CreateWindowA("STATIC", "gone", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(hGone);
    ASSERT_EQ(PortSetNotifyWindow(Port.GetIndex(), hGone, 16), 1);
    Writer.Write(rig::Pattern(32));
    // Every chunk but the last has been delivered whole, and its post has failed.
    ASSERT_TRUE(Window.PumpUntil([&] { return Record(Port).iPendingCount == 32; }, 2000));
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    const int iBefore = Window.Notifications();
    Writer.Write(rig::Pattern(16));
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Notifications() > iBefore; }, 2000));
    Port.Close();
}

TEST_F(SerialRig, ReadsAskForNothingBetweenOpenAndSetNotifyWindow) {
    NotifyWindow Window;
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    // The read under way when Open set the read size to 0 still asks for 16 bytes; let it time out.
    Window.Pump(400);
    Peer Writer;
    const auto Bytes = rig::Pattern(10, 3);
    Writer.Write(Bytes);
    Window.Pump(300);
    BYTE Buffer[16];
    EXPECT_EQ(Port.Read(Buffer, sizeof Buffer), 0);
    COMSTAT Status{};
    DWORD dwErrors = 0;
    Port.GetStatus(&Status, &dwErrors);
    EXPECT_EQ(Status.cbInQue, 0u);
    EXPECT_EQ(Record(Port).iPendingCount, 0);
    EXPECT_EQ(Window.Notifications(), 0);

    // The bytes waited in the system's buffer and come once a read size is set.
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Received().size() >= Bytes.size(); }, 2000));
    EXPECT_EQ(Window.Received(), Bytes);
    Port.Close();
}

// What the old queue held is read first: a reopen loses nothing that was received.
TEST_F(SerialRig, ASetterReopensWithANewReaderAndNoTargetAndKeepsWhatWasReceived) {
    NotifyWindow Window;
    Window.SetDraining(false);
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer;
    const auto Bytes = rig::Pattern(20);
    Writer.Write(Bytes);
    ASSERT_TRUE(Window.PumpUntil([&] { return Record(Port).iPendingCount == 20; }, 2000));
    const DWORD dwOldReader = Record(Port).dwReaderThreadId;

    Port.SetSpeed(19200);
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(Port.GetPortNumber(), rig::DriverPort());
    PortRecord After = Record(Port);
    EXPECT_NE(After.dwReaderThreadId, dwOldReader);
    EXPECT_EQ(After.iSpeed, 19200);
    EXPECT_EQ(After.hNotifyWindow, nullptr);
    EXPECT_EQ(After.iPendingCount, 0);
    EXPECT_EQ(iReadSize[Port.GetIndex()], 0);
    EXPECT_TRUE(Port.HasInput());
    BYTE Buffer[32];
    ASSERT_EQ(Port.Read(Buffer, sizeof Buffer), 20);
    EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.end(), Buffer));
    EXPECT_EQ(Port.Read(Buffer, sizeof Buffer), 0);
    EXPECT_FALSE(Port.HasInput());
    Port.Close();
}

TEST_F(SerialRig, ReadSizeIsBoundedByTheReadersBufferAndNegativeDetachesTheTarget) {
    NotifyWindow Window;
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 1000), 1);
    EXPECT_EQ(iReadSize[Port.GetIndex()], PORT_READ_BUFFER);

    ASSERT_EQ(PortSetNotifyWindow(Port.GetIndex(), Window.Handle(), 16), 1);
    const COMMTIMEOUTS Before = Record(Port).Timeouts;
    EXPECT_EQ(PortSetReadSize(Port.GetIndex(), -1), 1);
    PortRecord After = Record(Port);
    EXPECT_EQ(After.hNotifyWindow, nullptr);
    EXPECT_EQ(After.pCallback, nullptr);
    EXPECT_EQ(After.Timeouts.ReadTotalTimeoutMultiplier, Before.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(iReadSize[Port.GetIndex()], 16);

    // Without a target a chunk is still queued.
    Peer Writer;
    Writer.Write(rig::Pattern(12));
    EXPECT_TRUE(Window.PumpUntil([&] { return Record(Port).iPendingCount == 12; }, 2000));
    EXPECT_EQ(Window.Notifications(), 0);
    // A count of 65536 travels as 0; a read of nothing still answers the notification.
    BYTE Buffer[32];
    EXPECT_EQ(Port.Read(Buffer, 65536), 0);
    EXPECT_EQ(Port.Read(Buffer, -5), 0);
    EXPECT_EQ(Port.Read(Buffer, sizeof Buffer), 12);
    Port.Close();
}

TEST_F(SerialRig, AFullQueueKeepsTheOldestBytesAndCountsTheDroppedOnes) {
    NotifyWindow Window;
    Window.SetDraining(false);
    SerialPort Port;
    Port.SetSpeed(115200);
    // A queue the line can fill within the test; the driver's hold minutes of it.
    constexpr int RING_CAPACITY = 16383;
    iRxQueueSize = RING_CAPACITY + 1;
    const int iOpened = Port.Open(rig::DriverPort());
    iRxQueueSize = RX_QUEUE_BYTES;
    ASSERT_EQ(iOpened, 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Peer Writer(115200);
    const auto Bytes = rig::Pattern(20000, 11);
    const DWORD dwStart = GetTickCount();
    std::thread Sender([&] { Writer.Write(Bytes); });
    bool bAll = Window.PumpUntil(
        [&] { return Record(Port).iPendingCount + Port.GetDroppedBytes() >= static_cast<int>(Bytes.size()); },
        10000);
    Sender.join();
    ASSERT_TRUE(bAll);
    EXPECT_EQ(Record(Port).iPendingCount, RING_CAPACITY);
    EXPECT_EQ(Port.GetDroppedBytes(), static_cast<int>(Bytes.size()) - RING_CAPACITY);
    // Nothing is read, however much waits: the window is told again every 100 ms at most, not for
    // each of the 1,250 chunks. The slack is for the first and for messages still in flight.
    Window.PumpUntil([] { return false; }, 300);
    const DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_GE(Window.Notifications(), 1);
    EXPECT_LE(Window.Notifications(), static_cast<int>(dwElapsed / PORT_NOTIFY_INTERVAL_MS) + 2);
    COMSTAT Status{};
    DWORD dwErrors = 0;
    Port.GetStatus(&Status, &dwErrors);
    EXPECT_EQ(Status.cbInQue, static_cast<DWORD>(RING_CAPACITY));

    std::vector<BYTE> Got(Bytes.size());
    int iGot = 0;
    for (int n; (n = Port.Read(Got.data() + iGot, 16)) > 0;)
        iGot += n;
    ASSERT_EQ(iGot, RING_CAPACITY);
    Got.resize(iGot);
    EXPECT_TRUE(std::equal(Got.begin(), Got.end(), Bytes.begin()));
    EXPECT_EQ(Record(Port).iPendingCount, 0);
    Port.Close();
}

TEST_F(SerialRig, GetStatusNeedsBothOutputsAndLeavesThemAloneWhenClosed) {
    SerialPort Port;
    COMSTAT Status{};
    Status.cbInQue = 77;
    DWORD dwErrors = 55;
    Port.GetStatus(&Status, &dwErrors);
    EXPECT_EQ(Status.cbInQue, 77u);
    EXPECT_EQ(dwErrors, 55u);
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    Port.GetStatus(&Status, nullptr);
    EXPECT_EQ(Status.cbInQue, 77u);
    Port.GetStatus(&Status, &dwErrors);
    EXPECT_EQ(Status.cbInQue, 0u);
    Port.Close();
}

std::atomic<int> iCallbacks{0};
std::atomic<DWORD> dwCallbackThread{0};
SerialPort* volatile pCallbackOwner = nullptr;

void CountCallback(SerialPort* pOwner) {
    pCallbackOwner = pOwner;
    dwCallbackThread = GetCurrentThreadId();
    ++iCallbacks;
}

TEST_F(SerialRig, ACallbackTargetIsCalledOnTheReaderThreadWithTheOwner) {
    NotifyWindow Window;
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(PortSetCallback(Port.GetIndex(), CountCallback, 16), 1);
    const PortRecord Attached = Record(Port);
    EXPECT_EQ(Attached.hNotifyWindow, nullptr);
    Peer Writer;
    Writer.Write(rig::Pattern(8));
    ASSERT_TRUE(Window.PumpUntil([&] { return iCallbacks > 0; }, 2000));
    EXPECT_EQ(pCallbackOwner, &Port);
    EXPECT_EQ(dwCallbackThread, Record(Port).dwReaderThreadId);
    EXPECT_EQ(Window.Notifications(), 0);
    BYTE Buffer[16];
    EXPECT_EQ(Port.Read(Buffer, sizeof Buffer), 8);
    Port.Close();
}

HANDLE hReleaseCallback = nullptr;
std::atomic<int> iBlockedCalls{0};

// Stands for a callback that takes longer than a close waits for its reader.
void BlockingCallback(SerialPort*) {
    ++iBlockedCalls;
    WaitForSingleObject(hReleaseCallback, 10000);
}

TEST_F(SerialRig, AReaderTheCloseGaveUpOnNeverRunsAgainAndEndsWhenItsCallbackReturns) {
    hReleaseCallback = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(hReleaseCallback, nullptr);
    struct ReleaseOnExit {
        ~ReleaseOnExit() { SetEvent(hReleaseCallback); }
    } Release;
    NotifyWindow Window;
    const int iThreadsBefore = rig::ThreadCount();
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(PortSetCallback(Port.GetIndex(), BlockingCallback, 16), 1);
    const HANDLE hOldReader = OpenThread(SYNCHRONIZE, FALSE, Record(Port).dwReaderThreadId);
    ASSERT_NE(hOldReader, nullptr);
    Peer Writer;
    Writer.Write(rig::Pattern(8));
    ASSERT_TRUE(Window.PumpUntil([] { return iBlockedCalls > 0; }, 2000));

    const DWORD dwStart = GetTickCount();
    Port.Close();
    EXPECT_LT(GetTickCount() - dwStart, 4000u);
    ASSERT_EQ(WaitForSingleObject(hOldReader, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the close was to give up on the reader";
    EXPECT_NE(hPortTable, nullptr) << "the table was freed under a reader that may still pin it";
    EXPECT_EQ(AbandonedReaderCount(), 1);

    // A reopen of the same port works while the old reader is stuck, and the bytes written from
    // now on arrive once and in order, behind those the old reader had queued, both while the old
    // callback blocks and after it returned.
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    const auto Bytes = rig::Pattern(600, 23);
    Writer.Write(Bytes.data(), 100);
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Received().size() >= 108; }, 2000));
    SetEvent(hReleaseCallback);
    EXPECT_EQ(WaitForSingleObject(hOldReader, 2000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the old reader went on after its callback returned";
    for (size_t i = 100; i < Bytes.size(); i += 50) {
        Writer.Write(Bytes.data() + i, 50);
        Window.Pump(10);
    }
    Window.PumpUntil([&] { return Window.Received().size() >= 8 + Bytes.size(); }, 3000);
    Window.Pump(200);
    auto Expected = rig::Pattern(8);
    Expected.insert(Expected.end(), Bytes.begin(), Bytes.end());
    EXPECT_EQ(Window.Received(), Expected);
    EXPECT_EQ(Window.LastOwner(), &Port);
    EXPECT_EQ(iBlockedCalls, 1);

    // The last close sees the old reader ended and releases what it held, then the table.
    Port.Close();
    EXPECT_EQ(AbandonedReaderCount(), 0);
    EXPECT_EQ(hPortTable, nullptr);
    CloseHandle(hOldReader);
    EXPECT_EQ(rig::ThreadCount(), iThreadsBefore);
}

double ThreadCpuSeconds(HANDLE hThread) {
    FILETIME Created, Exited, Kernel, User;
    GetThreadTimes(hThread, &Created, &Exited, &Kernel, &User);
    auto Ticks = [](FILETIME f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(Ticks(Kernel) + Ticks(User)) / 1e7;
}

TEST_F(SerialRig, AReaderWhoseReadsFailAtOnceBacksOffInsteadOfSpinning) {
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    NotifyWindow Window;
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Window.Pump(300);
    // As if the adapter were pulled out: from now on every read fails at once.
    const PortRecord Before = Record(Port);
    CancelIoEx(Before.hCom, nullptr);
    HANDLE hDuplicate = nullptr;
    DuplicateHandle(GetCurrentProcess(), Before.hCom, GetCurrentProcess(), &hDuplicate, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    CloseHandle(Before.hCom);
    const double dCpuBefore = ThreadCpuSeconds(Before.hReaderThread);
    Window.Pump(1000);
    const double dCpu = ThreadCpuSeconds(Before.hReaderThread) - dCpuBefore;
    EXPECT_LT(dCpu, 0.1) << "reader CPU seconds in one second of failing reads";
    // The record's handle value is closed already; give the close a live handle of the same port.
    {
        PortTablePin Pin;
        Pin.Records()[Port.GetIndex()].hCom = hDuplicate;
    }
    const DWORD dwStart = GetTickCount();
    Port.Close();
    EXPECT_LT(GetTickCount() - dwStart, 1000u);
}

TEST_F(SerialRig, ClosingWhileDataFlowsManyTimesNeitherHangsNorLeavesThreads) {
    NotifyWindow Window;
    const int iThreadsBefore = rig::ThreadCount();
    std::atomic<bool> bFlowing{true};
    std::thread Flood([&] {
        Peer Writer(115200);
        const auto Bytes = rig::Pattern(512, 5);
        while (bFlowing)
            if (Writer.Write(Bytes) == 0)
                Sleep(1);
    });
    SerialPort Port;
    Port.SetSpeed(115200);
    DWORD dwSlowestClose = 0;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(Port.Open(rig::DriverPort()), 1) << "cycle " << i;
        ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
        Window.Pump(5 + (i % 4) * 10);
        const DWORD dwStart = GetTickCount();
        Port.Close();
        dwSlowestClose = std::max(dwSlowestClose, GetTickCount() - dwStart);
        EXPECT_EQ(hPortTable, nullptr);
    }
    bFlowing = false;
    Flood.join();
    Window.Pump(100);
    EXPECT_GT(Window.Received().size(), 0u);
    EXPECT_LT(dwSlowestClose, 1000u);
    EXPECT_EQ(rig::ThreadCount(), iThreadsBefore);
}

// The port as its last user may leave it. Wine keeps XON/XOFF in the pseudo-terminal's settings
// after the handle that set it is closed, as Windows keeps a port's DCB; the other hazards Wine
// ignores are put into what the layer reads back, and must not reach what it applies.
namespace hazards {

DCB Applied{};
BOOL WINAPI LeftBehind(HANDLE hCom, LPDCB pDcb) {
    if (!SYSTEM_PORT_CALLS.pfnGetCommState(hCom, pDcb))
        return FALSE;
    pDcb->fNull = pDcb->fAbortOnError = pDcb->fDsrSensitivity = pDcb->fErrorChar = TRUE;
    pDcb->fOutxCtsFlow = pDcb->fOutxDsrFlow = TRUE;
    pDcb->fDtrControl = DTR_CONTROL_DISABLE;
    pDcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
    pDcb->XonChar = pDcb->XoffChar = 0;
    return TRUE;
}
BOOL WINAPI Apply(HANDLE hCom, LPDCB pDcb) {
    Applied = *pDcb;
    return SYSTEM_PORT_CALLS.pfnSetCommState(hCom, pDcb);
}

void SetXonXoff(int iPort, BOOL bOn) {
    char szPath[32];
    std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", iPort);
    HANDLE hCom = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hCom, INVALID_HANDLE_VALUE);
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    GetCommState(hCom, &Dcb);
    Dcb.fOutX = Dcb.fInX = bOn;
    EXPECT_TRUE(SetCommState(hCom, &Dcb));
    CloseHandle(hCom);
}

} // namespace hazards

struct SystemCallsBack {
    ~SystemCallsBack() { PortCalls = SYSTEM_PORT_CALLS; }
};

TEST_F(SerialRig, APortLeftWithFlowControlAndTheOtherHazardsOnStillReceivesEveryByteValue) {
    ASSERT_NO_FATAL_FAILURE(hazards::SetXonXoff(rig::DriverPort(), TRUE));
    struct FlowControlOff {
        ~FlowControlOff() { hazards::SetXonXoff(rig::DriverPort(), FALSE); }
    } Off;
    ASSERT_NE(rig::LinuxLineSettings(rig::DriverPort()).find(" ixon"), std::string::npos);
    SystemCallsBack Back;
    PortCalls.pfnGetCommState = hazards::LeftBehind;
    PortCalls.pfnSetCommState = hazards::Apply;

    std::vector<BYTE> Bytes;
    for (int iRound = 0; iRound < 4; ++iRound)
        for (int b = 0; b < 256; ++b)
            Bytes.push_back(static_cast<BYTE>(iRound % 2 ? 255 - b : b));
    ExpectReceivedWhole(Bytes);

    const DCB& Dcb = hazards::Applied;
    EXPECT_TRUE(Dcb.fBinary);
    EXPECT_FALSE(Dcb.fOutX || Dcb.fInX || Dcb.fNull || Dcb.fAbortOnError || Dcb.fDsrSensitivity ||
                 Dcb.fErrorChar || Dcb.fOutxCtsFlow || Dcb.fOutxDsrFlow || Dcb.fParity);
    EXPECT_EQ(Dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(Dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_NE(Dcb.XonChar, Dcb.XoffChar);
}

// Reads a driver fails on its own.
namespace failing {

// Nothing is started, and each read completes at once, cancelled.
std::atomic<int> iReads{0};
BOOL WINAPI ReadCompletesAtOnce(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED pOverlapped) {
    ++iReads;
    SetEvent(pOverlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI CancelledByTheDriver(HANDLE, LPOVERLAPPED, LPDWORD pdwCount, BOOL) {
    *pdwCount = 0;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}
// A real read, always reported as under way, whose result is a failure with the bytes it
// delivered, as a port set to abort on error gives, or a read cancelled once bytes had come.
BOOL WINAPI ReadReportedPending(HANDLE hCom, LPVOID pBuffer, DWORD dwSize, LPDWORD pdwCount,
                                LPOVERLAPPED pOverlapped) {
    if (!SYSTEM_PORT_CALLS.pfnReadFile(hCom, pBuffer, dwSize, pdwCount, pOverlapped))
        return FALSE;
    SetEvent(pOverlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FailsWithItsBytes(HANDLE hCom, LPOVERLAPPED pOverlapped, LPDWORD pdwCount, BOOL bWait) {
    if (!SYSTEM_PORT_CALLS.pfnGetOverlappedResult(hCom, pOverlapped, pdwCount, bWait) || *pdwCount == 0)
        return FALSE;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}

} // namespace failing

TEST_F(SerialRig, ACancellationTheReaderDidNotAskForIsAFailedReadWithBackOff) {
    SystemCallsBack Back;
    PortCalls.pfnReadFile = failing::ReadCompletesAtOnce;
    PortCalls.pfnGetOverlappedResult = failing::CancelledByTheDriver;
    NotifyWindow Window;
    SerialPort Port;
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    EXPECT_TRUE(Window.PumpUntil([&] { return Port.ReadsFailing(); }, 20000));
    // Between failed reads the reader rests: a slower machine makes fewer reads, never more.
    const int iBefore = failing::iReads;
    const DWORD dwStart = GetTickCount();
    Window.Pump(1000);
    const int iReads = failing::iReads - iBefore;
    EXPECT_LE(iReads, static_cast<int>((GetTickCount() - dwStart) / PORT_RETRY_WAIT_MS) + 2);
    Port.Close();
}

// Only a line error has the port's buffer purged: these failures carry no error word, so every
// byte reaches the queue, in order, through failed reads alone.
TEST_F(SerialRig, BytesAFailedReadDeliveredAreKeptAndNothingIsPurged) {
    SystemCallsBack Back;
    PortCalls.pfnReadFile = failing::ReadReportedPending;
    PortCalls.pfnGetOverlappedResult = failing::FailsWithItsBytes;
    ExpectReceivedWhole(rig::Pattern(200, 17));
}

} // namespace
