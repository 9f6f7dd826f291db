#pragma once
// The stand-in's core and a client in the test process, on the test's thread: every exchange is a
// real window message between two real windows.
#include "infodriver/client.h"
#include "tools/standin/standin.h"
#include "tools/standin/wire.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline std::vector<std::string> StandinLines;
inline void CollectLine(const char* pszLine) {
    StandinLines.emplace_back(pszLine);
}

// What the client's callback was given, in order.
struct ClientEvent {
    int iStatus;
    int iValue;
    std::string sText;
};
inline std::vector<ClientEvent> ClientEvents;
inline void RecordEvent(InfodriverClient* pClient, int iValue, const char* pszText) {
    ClientEvents.push_back({pClient->iStatus, iValue, pszText});
}

class InProcess : public ::testing::Test {
  protected:
    static constexpr int NUMBER = 41; // distinct from the cross-process tests' stand-ins

    void SetUp() override {
        StandinLines.clear();
        ClientEvents.clear();
        ASSERT_TRUE(standin::Start(NUMBER, CollectLine));
        client = std::make_unique<InfodriverClient>(CLIENT_HEADER_VERSION);
        client->SetCallback(RecordEvent);
        ASSERT_EQ(client->Connect(NUMBER, nullptr, 0, 0, 0, 0), IDSTAT_CONNECTED);
        standin::ClearRecords();
    }
    void TearDown() override {
        client.reset();
        standin::Stop();
    }

    // The records the stand-in received from the client, as (message, index) pairs.
    static std::vector<std::pair<unsigned, unsigned>> Exchanges() {
        std::vector<std::pair<unsigned, unsigned>> out;
        for (const auto& r : standin::Records())
            out.emplace_back(RecordMessage(r.dwData), RecordIndex(r.dwData));
        return out;
    }

    std::unique_ptr<InfodriverClient> client;
};

// Sends a record whose bytes are exactly `bytes` (cbData = their number) from hFrom to hTo.
inline LRESULT SendRawRecord(HWND hFrom, HWND hTo, DWORD dwData, const std::vector<unsigned char>& bytes) {
    COPYDATASTRUCT data{};
    data.dwData = dwData;
    data.cbData = static_cast<DWORD>(bytes.size());
    data.lpData = bytes.empty() ? nullptr : const_cast<unsigned char*>(bytes.data());
    return SendMessageA(hTo, WM_COPYDATA, reinterpret_cast<WPARAM>(hFrom), reinterpret_cast<LPARAM>(&data));
}

inline std::vector<unsigned char> TextPayload(const std::string& sText) {
    std::vector<unsigned char> bytes(TEXT_PAYLOAD, 0);
    std::copy(sText.begin(), sText.end(), bytes.begin());
    return bytes;
}
