#include "tools/memhost/memhost.h"

#include "protocol/external.h"

#include <algorithm>
#include <cstring>

namespace memhost {
namespace {
// The bytes from iHead on wait to be read. A vector read from the front, and emptied once read
// out, rather than a deque: the receive drains it 16 bytes a read, all through a fuzz run.
std::vector<unsigned char> PortQueue;
std::size_t iHead = 0;
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
}

} // namespace memhost

using namespace memhost;

void PollPortStatus(SerialPort*) {}

bool DeviceInputWaiting() {
    return QueuedBytes() > 0;
}

int ReadPort(SerialPort*, unsigned char* pBuffer, int iMaxBytes) {
    const std::size_t n = std::min<std::size_t>(QueuedBytes(), iMaxBytes < 0 ? 0 : iMaxBytes);
    if (n > 0)
        std::memcpy(pBuffer, PortQueue.data() + iHead, n);
    iHead += n;
    if (iHead == PortQueue.size())
        ClearPort();
    return static_cast<int>(n);
}
