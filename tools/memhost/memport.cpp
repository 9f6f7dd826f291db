#include "tools/memhost/memhost.h"

#include "protocol/external.h"

#include <algorithm>
#include <deque>

namespace memhost {
namespace {
std::deque<unsigned char> PortQueue;
unsigned uPortErrors = 0;
LineErrorCounts Counted{};
} // namespace

void QueueBytes(const unsigned char* pBytes, std::size_t nBytes) {
    PortQueue.insert(PortQueue.end(), pBytes, pBytes + nBytes);
}
void QueueBytes(const std::vector<unsigned char>& bytes) {
    QueueBytes(bytes.data(), bytes.size());
}
std::size_t QueuedBytes() {
    return PortQueue.size();
}
void ClearPort() {
    PortQueue.clear();
    uPortErrors = 0;
    Counted = LineErrorCounts{};
}
void SetPortErrors(unsigned uErrorWord) {
    uPortErrors = uErrorWord;
}

} // namespace memhost

using namespace memhost;

// Counted as the serial layer counts the port's error word: one of each kind it names.
void PollPortStatus(SerialPort*) {
    Counted.iFraming += (uPortErrors & PORT_ERROR_FRAMING) != 0;
    Counted.iParity += (uPortErrors & PORT_ERROR_PARITY) != 0;
    Counted.iOverrun += (uPortErrors & PORT_ERROR_OVERRUN) != 0;
    Counted.iReceiveOverrun += (uPortErrors & PORT_ERROR_RECEIVE_OVERRUN) != 0;
}

LineErrorCounts TakeLineErrors() {
    const LineErrorCounts Taken = Counted;
    Counted = LineErrorCounts{};
    return Taken;
}

bool DeviceInputWaiting() {
    return !PortQueue.empty();
}

int ReadPort(SerialPort*, unsigned char* pBuffer, int iMaxBytes) {
    int n = static_cast<int>(std::min<std::size_t>(PortQueue.size(), iMaxBytes < 0 ? 0 : iMaxBytes));
    std::copy_n(PortQueue.begin(), n, pBuffer);
    PortQueue.erase(PortQueue.begin(), PortQueue.begin() + n);
    return n;
}
