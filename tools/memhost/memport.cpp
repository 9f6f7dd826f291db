#include "tools/memhost/memhost.h"

#include "protocol/external.h"

#include <algorithm>
#include <cstring>

namespace memhost {
namespace {
// The bytes from iHead on wait to be read. A vector read from the front, and emptied once read
// out, rather than a deque: the receive drains it a read at a time, all through a fuzz run.
std::vector<unsigned char> PortQueue;
std::size_t iHead = 0;
unsigned uPortErrors = 0;
LineErrorCounts Counted{};
} // namespace

void QueueBytes(const unsigned char* pBytes, std::size_t nBytes) {
    if (iHead > 0 && iHead >= PortQueue.size() / 2) {
        PortQueue.erase(PortQueue.begin(), PortQueue.begin() + static_cast<std::ptrdiff_t>(iHead));
        iHead = 0;
    }
    PortQueue.insert(PortQueue.end(), pBytes, pBytes + nBytes);
}
void QueueBytes(const std::vector<unsigned char>& bytes) {
    QueueBytes(bytes.data(), bytes.size());
}
std::size_t QueuedBytes() {
    return PortQueue.size() - iHead;
}
void ClearPort() {
    PortQueue.clear();
    iHead = 0;
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
    return QueuedBytes() > 0;
}

int ReadPort(SerialPort*, unsigned char* pBuffer, int iMaxBytes) {
    const std::size_t n = std::min<std::size_t>(QueuedBytes(), iMaxBytes < 0 ? 0 : iMaxBytes);
    if (n > 0)
        std::memcpy(pBuffer, PortQueue.data() + iHead, n);
    iHead += n;
    if (iHead == PortQueue.size()) {
        PortQueue.clear();
        iHead = 0;
    }
    return static_cast<int>(n);
}
