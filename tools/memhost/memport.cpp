#include "tools/memhost/memhost.h"

#include "protocol/external.h"

#include <algorithm>
#include <deque>

namespace memhost {
namespace {
std::deque<unsigned char> PortQueue;
}

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
}

} // namespace memhost

using namespace memhost;

void PollPortStatus(SerialPort*) {}

bool DeviceInputWaiting() {
    return !PortQueue.empty();
}

int ReadPort(SerialPort*, unsigned char* pBuffer, int iMaxBytes) {
    int n = static_cast<int>(std::min<std::size_t>(PortQueue.size(), iMaxBytes < 0 ? 0 : iMaxBytes));
    std::copy_n(PortQueue.begin(), n, pBuffer);
    PortQueue.erase(PortQueue.begin(), PortQueue.begin() + n);
    return n;
}
