#pragma once
// Helpers for tests against the virtual null-modem pairs made by scripts/nullmodem.sh: the ports
// of the pair, the peer end, a real window that counts WM_COMMNOTIFY, and the Linux view of a line.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class SerialPort;

namespace rig {

// The pair under test from DRAVIK_RIG_PORTS ("5,6" by default): the driver reads the first,
// the peer writes the second.
int DriverPort();
int PeerPort();
// The Linux side of COM<n>: DRAVIK_RIG_DIR/com<n>.
std::string LinuxPath(int iPort);
// The line settings of COM<n> as the Linux terminal layer reports them (stty -a), or "".
std::string LinuxLineSettings(int iPort);
// Whether anything but the pair's socat holds the Linux side of COM<n> open: under Wine the
// wineserver does while any program has the port open. Wine lets a second program open a port
// that one holds, so this is how a test sees that a port was closed. *psHolders: who holds it.
bool LineHeld(int iPort, std::string* psHolders = nullptr);
// Empties the system receive buffers of both ends, dropping what earlier cases left in flight.
// Another pair is named by its two ports.
void DrainPair();
void DrainPair(int iDriverPort, int iPeerPort);
int ThreadCount();
std::vector<BYTE> Pattern(size_t nBytes, unsigned iSeed = 1);

// The other end of the pair, opened plainly (no overlapped I/O), 8N1, no flow control. iPort
// names the peer end of another pair.
class Peer {
  public:
    explicit Peer(int iSpeed = 9600, int iPort = PeerPort());
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    bool IsOpen() const { return hCom != INVALID_HANDLE_VALUE; }
    DWORD Write(const std::vector<BYTE>& Bytes) { return Write(Bytes.data(), Bytes.size()); }
    DWORD Write(const BYTE* pBytes, size_t nBytes);

  private:
    HANDLE hCom;
};

// A real top-level window (never shown) that receives WM_COMMNOTIFY. When draining, each
// notification is answered the way the driver's receive path does: status, then reads of 16
// bytes until the queue is empty.
class NotifyWindow {
  public:
    NotifyWindow();
    ~NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    HWND Handle() const { return hWnd; }
    void SetDraining(bool bOn) { bDrain = bOn; }
    int Notifications() const { return iNotifications; }
    const std::vector<BYTE>& Received() const { return Bytes; }
    SerialPort* LastOwner() const { return pLastOwner; }
    // Dispatches messages for iMs milliseconds.
    void Pump(DWORD dwMs);
    // Dispatches messages until bDone returns true or dwMs pass; the final value of bDone.
    bool PumpUntil(const std::function<bool()>& bDone, DWORD dwMs);

  private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    HWND hWnd = nullptr;
    bool bDrain = true;
    int iNotifications = 0;
    SerialPort* pLastOwner = nullptr;
    std::vector<BYTE> Bytes;
};

} // namespace rig
