// Throughput and cost of the serial port layer through a virtual null-modem pair:
//   scripts/nullmodem.sh run 7 8 -- wine $DRAVIK_BUILD/bench/serial/serial_bench.exe 7 8
// The driver's SerialPort reads COM<first>; a writer thread sends a numbered byte stream into
// COM<second> at the pace of the line speed (start, 8 data bits, stop). A window drains every
// WM_COMMNOTIFY until the queue is empty and checks the stream; the reader asks for its whole
// buffer a read, as the driver's does. The paced runs again with the line recorded (the driver's
// Debug, Record line, into the null device), for the reader's cost of a recording. At 38400 and
// 115200 bit/s the line runs flat out once more as the layer read it before its reads returned
// with the first byte (16 bytes a read, an interval time-out of 100000 / speed ms, at least 1, and
// a total of 16 ms a byte), and once with first-byte reads of 16 bytes, for the reader's processor
// time under each in the same run. Then the line stays idle for 10 s while the reader thread's CPU
// time is measured, and the recording's tap is timed on its own.
#include "serial/line_recorder.h"
#include "serial/port_calls.h"
#include "serial/port_reader.h"
#include "serial/port_table.h"
#include "serial/serial_port.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <thread>

namespace {

int iDriverPort = 7, iPeerPort = 8;

struct Counts {
    long long iReceived = 0;
    long long iOutOfOrder = 0;
    long long iNotifications = 0;
    unsigned char bNext = 0;
} Rx;

LRESULT CALLBACK DrainProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg != PORT_NOTIFY_MESSAGE)
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    ++Rx.iNotifications;
    auto* pPort = reinterpret_cast<SerialPort*>(lParam);
    unsigned char Chunk[16];
    for (;;) {
        COMSTAT Status{};
        DWORD dwErrors = 0;
        pPort->GetStatus(&Status, &dwErrors);
        const int n = pPort->Read(Chunk, sizeof Chunk);
        if (n <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            if (Chunk[i] != Rx.bNext)
                ++Rx.iOutOfOrder;
            Rx.bNext = static_cast<unsigned char>(Chunk[i] + 1);
        }
        Rx.iReceived += n;
    }
    return 0;
}

HANDLE OpenPeer(int iSpeed) {
    char szPath[32];
    std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", iPeerPort);
    HANDLE h = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    GetCommState(h, &Dcb);
    Dcb.BaudRate = iSpeed;
    Dcb.ByteSize = 8;
    Dcb.Parity = NOPARITY;
    Dcb.StopBits = ONESTOPBIT;
    Dcb.fOutX = Dcb.fInX = Dcb.fOutxCtsFlow = Dcb.fOutxDsrFlow = FALSE;
    SetCommState(h, &Dcb);
    COMMTIMEOUTS Timeouts{MAXDWORD, 0, 0, 0, 2000};
    SetCommTimeouts(h, &Timeouts);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return h;
}

// Every read the reader starts, counted on its way to the system.
volatile LONG iReads = 0;
BOOL WINAPI CountedRead(HANDLE hCom, LPVOID pBuffer, DWORD dwSize, LPDWORD pdwCount,
                        LPOVERLAPPED pOverlapped) {
    InterlockedIncrement(&iReads);
    return SYSTEM_PORT_CALLS.pfnReadFile(hCom, pBuffer, dwSize, pdwCount, pOverlapped);
}

double dFirstByteReader115200 = -1; // the reader's share of a core, flat out at 115200 bit/s

double Now() {
    static LARGE_INTEGER Frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(Frequency.QuadPart);
}

void Pump(HWND, double dSeconds) {
    const double dEnd = Now() + dSeconds;
    while (Now() < dEnd) {
        MSG Msg;
        while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&Msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

double ThreadSeconds(HANDLE hThread) {
    FILETIME Created, Exited, Kernel, User;
    if (!GetThreadTimes(hThread, &Created, &Exited, &Kernel, &User))
        return -1;
    auto Ticks = [](FILETIME f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(Ticks(Kernel) + Ticks(User)) / 1e7;
}

double ProcessSeconds() {
    FILETIME Created, Exited, Kernel, User;
    if (!GetProcessTimes(GetCurrentProcess(), &Created, &Exited, &Kernel, &User))
        return -1;
    auto Ticks = [](FILETIME f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return static_cast<double>(Ticks(Kernel) + Ticks(User)) / 1e7;
}

// A recording of port record iIndex into the null device: the tap's and the writer's work
// without a disk's.
bool StartRecording(int iIndex) {
    HANDLE hNull = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return LineRecorderStart(hNull, "device 0\n", iIndex, RECORDING_LIMIT_BYTES, RECORDING_RING_BYTES) == 0;
}

void StopRecording() {
    LineRecorderStop();
    LineRecorderFinished(5000, nullptr);
}

// One run: iSpeed on the line, the writer paced to it (or as fast as it can when bPaced is false),
// the line recorded or not, with the layer's read time-outs or the interval ones it had before.
void Run(HWND hWnd, int iSpeed, bool bPaced, double dSeconds, int iReadSize = PORT_READ_BUFFER,
         bool bRecorded = false, bool bIntervalTimeouts = false) {
    Rx = Counts{};
    SerialPort Port;
    Port.SetSpeed(iSpeed);
    if (Port.Open(iDriverPort) != 1) {
        std::printf("cannot open COM%d\n", iDriverPort);
        return;
    }
    if (bRecorded && !StartRecording(Port.GetIndex()))
        std::printf("cannot record\n");
    Port.SetNotifyWindow(hWnd, iReadSize);
    PortRecord Record{};
    PortPeek(Port.GetIndex(), &Record);
    if (bIntervalTimeouts) {
        const DWORD dwInterval = static_cast<DWORD>(100000 / iSpeed);
        COMMTIMEOUTS Before{dwInterval < 1 ? 1 : dwInterval, static_cast<DWORD>(iReadSize), 0, 0, 1000};
        SetCommTimeouts(Record.hCom, &Before);
    }
    HANDLE hPeer = OpenPeer(iSpeed);
    if (hPeer == INVALID_HANDLE_VALUE) {
        std::printf("cannot open COM%d\n", iPeerPort);
        return;
    }
    Pump(hWnd, 0.3); // the first read, started before the read size was set, runs out

    std::atomic<long long> iSent{0};
    std::atomic<bool> bDone{false};
    std::thread Writer([&] {
        const double dBytesPerSecond = iSpeed / 10.0;
        const int iChunk = iSpeed >= 500000 ? 256 : (iSpeed >= 100000 ? 64 : 32);
        unsigned char Buffer[256];
        unsigned char bNext = 0;
        const double dStart = Now();
        while (Now() - dStart < dSeconds) {
            for (int i = 0; i < iChunk; ++i)
                Buffer[i] = bNext++;
            DWORD dwWritten = 0;
            WriteFile(hPeer, Buffer, iChunk, &dwWritten, nullptr);
            iSent += dwWritten;
            if (bPaced) {
                const double dDue = dStart + static_cast<double>(iSent) / dBytesPerSecond;
                while (Now() < dDue)
                    Sleep(static_cast<DWORD>((dDue - Now()) * 1000 > 2 ? (dDue - Now()) * 1000 - 1 : 0));
            }
        }
        bDone = true;
    });
    const double dStart = Now();
    const double dReaderBefore = ThreadSeconds(Record.hReaderThread);
    const LONG iReadsBefore = iReads;
    while (!bDone)
        Pump(hWnd, 0.05);
    const double dWriteEnd = Now();
    Writer.join();
    // Let the tail arrive.
    for (long long iLast = -1; iLast != Rx.iReceived;) {
        iLast = Rx.iReceived;
        Pump(hWnd, 0.4);
    }
    const double dElapsed = dWriteEnd - dStart;
    const double dReaderCpu = ThreadSeconds(Record.hReaderThread) - dReaderBefore;
    const double dReadsPerSecond = (iReads - iReadsBefore) / (Now() - dStart);
    const long long iDropped = Port.GetDroppedBytes();
    if (bRecorded)
        StopRecording();
    const double dReaderShare = 100.0 * dReaderCpu / dElapsed;
    if (iSpeed == 115200 && bPaced && !bRecorded && !bIntervalTimeouts && iReadSize == PORT_READ_BUFFER)
        dFirstByteReader115200 = dReaderShare;
    std::printf("%8d %5d %-8s %-9s %10.0f %10.0f %8lld %8lld %8lld %9.1f %8.0f %7.1f%%\n", iSpeed, iReadSize,
                bIntervalTimeouts ? "interval" : "first",
                bRecorded ? "paced+rec" : (bPaced ? "paced" : "flat-out"),
                static_cast<double>(iSent) / dElapsed, static_cast<double>(Rx.iReceived) / dElapsed,
                static_cast<long long>(iSent) - Rx.iReceived, iDropped, Rx.iOutOfOrder,
                static_cast<double>(Rx.iNotifications) / dElapsed, dReadsPerSecond, dReaderShare);
    CloseHandle(hPeer);
    Port.Close();
}

void Idle(HWND hWnd, double dSeconds) {
    SerialPort Port;
    Port.SetSpeed(38400);
    if (Port.Open(iDriverPort) != 1)
        return;
    Port.SetNotifyWindow(hWnd, PORT_READ_BUFFER);
    PortRecord Record{};
    PortPeek(Port.GetIndex(), &Record);
    Pump(hWnd, 0.5);
    const double dReaderBefore = ThreadSeconds(Record.hReaderThread);
    const double dProcessBefore = ProcessSeconds();
    const double dStart = Now();
    Pump(hWnd, dSeconds);
    const double dWall = Now() - dStart;
    const double dReader = ThreadSeconds(Record.hReaderThread) - dReaderBefore;
    const double dProcess = ProcessSeconds() - dProcessBefore;
    std::printf(
        "\nidle line, 38400 bit/s, read size 256, %.1f s: reader thread CPU %.4f s = %.3f%% of one core\n",
        dWall, dReader, 100.0 * dReader / dWall);
    std::printf("whole process (reader and the pumping window thread): CPU %.4f s = %.3f%%\n", dProcess,
                100.0 * dProcess / dWall);
    Port.Close();
}

// The reader's share of a recording: one tap of a 16-byte chunk, timed over many, the writer
// draining into the null device meanwhile.
void Tap() {
    constexpr int INDEX = PORT_COUNT - 1;
    constexpr int TAPS = 50000; // within the ring: none is lost to a writer that falls behind
    if (!StartRecording(INDEX))
        return;
    BYTE Chunk[16] = {};
    const double dStart = Now();
    for (int i = 0; i < TAPS; ++i) {
        Chunk[0] = static_cast<BYTE>(i);
        LineRecorderTap(INDEX, Chunk, sizeof Chunk);
    }
    const double dEach = (Now() - dStart) / TAPS;
    LineRecorderStop();
    RecordingResult Result{};
    LineRecorderFinished(5000, &Result);
    std::printf("\nrecording tap: %.2f us a 16-byte chunk (%lld of %d kept); at 115200 bit/s, 720 chunks a second,\n"
                "that is %.2f ms a second of the reader's time\n",
                dEach * 1e6, Result.llLineBytes / 16, TAPS, dEach * 720 * 1000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3) {
        iDriverPort = std::atoi(argv[1]);
        iPeerPort = std::atoi(argv[2]);
    }
    WNDCLASSA Class{};
    Class.lpfnWndProc = DrainProc;
    Class.hInstance = GetModuleHandleA(nullptr);
    Class.lpszClassName = "DravikSerialBench";
    RegisterClassA(&Class);
    HWND hWnd = CreateWindowA(Class.lpszClassName, "serial bench", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, Class.hInstance, nullptr);

    PortCalls.pfnReadFile = CountedRead;
    std::printf("serial bench: driver reads COM%d, writer sends into COM%d\n", iDriverPort, iPeerPort);
    std::printf(
        "reads: \"first\" return with the first byte, \"interval\" end 100000 / speed ms after a byte;\n"
        "paced: the writer keeps the line flat out at its speed\n\n");
    std::printf("%8s %5s %-8s %-9s %10s %10s %8s %8s %8s %9s %8s %8s\n", "bit/s", "read", "reads", "writer",
                "sent B/s", "queued B/s", "lost", "dropped", "misorder", "notify/s", "reads/s", "reader");
    for (int iSpeed : {38400, 115200, 921600}) {
        Run(hWnd, iSpeed, true, 4.0);
        if (iSpeed <= 115200) {
            Run(hWnd, iSpeed, true, 4.0, 16, false, true);
            Run(hWnd, iSpeed, true, 4.0, 16);
        }
        Run(hWnd, iSpeed, true, 4.0, PORT_READ_BUFFER, true);
    }
    Run(hWnd, 921600, false, 3.0);
    std::printf("\nreader flat out at 115200 bit/s with first-byte reads: %.1f%% of a core (%s 5%%)\n",
                dFirstByteReader115200, dFirstByteReader115200 < 5.0 ? "under" : "NOT under");
    Idle(hWnd, 10.0);
    Tap();
    DestroyWindow(hWnd);
    return 0;
}
