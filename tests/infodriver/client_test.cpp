// The client against the stand-in's core in this process.
#include "inprocess_fixture.h"

#include "protocol/counter.h"

#include <cstring>

using Exchange = std::pair<unsigned, unsigned>;

TEST_F(InProcess, RecordsAreLaidOutByteForByte) {
    EXPECT_TRUE(client->UpdateSlot(7, "abc"));
    const auto& records = standin::Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].dwData, 2727u * 65536u + 7u);
    EXPECT_EQ(records[0].cbData, 513u);
    EXPECT_EQ(records[0].hSender, client->hWnd);
    EXPECT_EQ(records[1].dwData, 2726u * 65536u + 7u);
    EXPECT_EQ(records[1].cbData, 513u);
    EXPECT_EQ(records[1].bytes, TextPayload("abc")); // the filler is zero, not stack content

    // A numeric 2729 record names the infodriver by its index field and is answered with a
    // numeric 2984 record carrying "00000000".
    standin::ClearRecords();
    HWND hStandin = standin::Window();
    client->hInfodriver = nullptr;
    std::vector<unsigned char> number = {'0', '0', '0', '0', '0', '0', '0', '1', 0, 0, 0, 0, 0, 0, 0, 0};
    SendRawRecord(hStandin, client->hWnd, RecordTag(2729, standin::WordOf(hStandin)), number);
    EXPECT_EQ(standin::WordOf(client->hInfodriver), standin::WordOf(hStandin));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].dwData, 2984u * 65536u);
    EXPECT_EQ(records[0].cbData, 16u);
    std::vector<unsigned char> zero = {'0', '0', '0', '0', '0', '0', '0', '0', 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(records[0].bytes, zero);

    // A text 2728 record is answered with a text 2984 record carrying the same 513 bytes back,
    // filler included.
    standin::ClearRecords();
    auto text = TextPayload("new");
    for (std::size_t i = 10; i < text.size(); ++i)
        text[i] = static_cast<unsigned char>('A' + i % 26);
    SendRawRecord(hStandin, client->hWnd, RecordTag(2728, 1500), text);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].dwData, 2984u * 65536u);
    EXPECT_EQ(records[0].bytes, text);
    ASSERT_EQ(ClientEvents.size(), 1u);
    EXPECT_EQ(ClientEvents[0].iValue, 1500);
    EXPECT_EQ(ClientEvents[0].sText, "new");
}

TEST_F(InProcess, UpdateSlotReadsAlwaysAndWritesOnlyAChange) {
    standin::PresetSlot(20, "5");
    EXPECT_FALSE(client->UpdateSlot(20, "%d", 5));
    EXPECT_EQ(Exchanges(), (std::vector<Exchange>{{2727, 20}}));
    EXPECT_EQ(client->iWriteCount, 0);

    EXPECT_TRUE(client->UpdateSlot(20, "%d", 6));
    EXPECT_EQ(Exchanges(), (std::vector<Exchange>{{2727, 20}, {2727, 20}, {2726, 20}}));
    EXPECT_EQ(client->iWriteCount, 1);
    EXPECT_EQ(standin::SlotText(20), "6");

    // Case matters.
    standin::PresetSlot(21, "On");
    EXPECT_TRUE(client->UpdateSlot(21, "on"));
}

TEST_F(InProcess, CountersCanBeRedirectedAndStartAgainAtZeroAfterEightDigits) {
    int iWrites = COUNTER_LIMIT - 1, iChanges = COUNTER_LIMIT - 1;
    client->SetCounters(&iWrites, &iChanges);
    client->UpdateSlot(30, "x");
    client->WriteSlot(30, "x");
    standin::SetSlot(1500, "y");
    EXPECT_EQ(iWrites, 1);
    EXPECT_EQ(iChanges, 0);
    EXPECT_EQ(client->iWriteCount, 0);
    EXPECT_EQ(client->iChangeCount, 0);
}

TEST_F(InProcess, NegativeIndexesWriteWith2731) {
    EXPECT_TRUE(client->UpdateSlot(-7, "x"));
    EXPECT_EQ(Exchanges(), (std::vector<Exchange>{{2727, 7}, {2731, 7}}));
    EXPECT_EQ(standin::SlotText(7), "x");
    standin::ClearRecords();
    client->WriteSlot(-9, "%s", "y");
    EXPECT_EQ(Exchanges(), (std::vector<Exchange>{{2731, 9}}));
    EXPECT_EQ(standin::SlotText(9), "y");
}

TEST_F(InProcess, ReadsStopAt256CharactersSoLongTextsAreAlwaysWritten) {
    std::string sLong(300, 'L');
    sLong[255] = 'E';
    standin::PresetSlot(40, sLong.c_str());
    char szRead[READ_REPLY_CHARS + 1];
    std::memset(szRead, 'X', sizeof szRead);
    EXPECT_EQ(client->ReadSlot(40, szRead), 1);
    EXPECT_EQ(std::string(szRead), sLong.substr(0, 256));

    EXPECT_TRUE(client->UpdateSlot(40, "%s", sLong.c_str()));
    EXPECT_TRUE(client->UpdateSlot(40, "%s", sLong.c_str()));
    EXPECT_EQ(client->iWriteCount, 2);

    // A slot holding more than the read shows is not taken to hold its first 256 characters.
    std::string s256(256, 'k');
    standin::PresetSlot(41, (s256 + "tail").c_str());
    EXPECT_TRUE(client->UpdateSlot(41, "%s", s256.c_str()));
    EXPECT_EQ(standin::SlotText(41), s256);
}

TEST_F(InProcess, TextsLongerThan512AreCutToFit) {
    std::string sHuge(700, 'h');
    client->WriteSlot(42, "%s", sHuge.c_str());
    EXPECT_EQ(standin::SlotText(42), sHuge.substr(0, 512));
}

TEST_F(InProcess, A2730TextKeeps299Characters) {
    std::string s400;
    for (int i = 0; i < 400; ++i)
        s400 += static_cast<char>('a' + i % 26);
    standin::SendTextToClients(s400.c_str());
    EXPECT_EQ(std::string(client->pszText), s400.substr(0, 299));
}

TEST_F(InProcess, RedundancyRequestsAreDeniedForRxOnlyAndAcceptedForTxRx) {
    EXPECT_EQ(standin::SendToClients(2179, 0), 0);
    EXPECT_EQ(client->iStatus, IDSTAT_GO_RX_ONLY);
    EXPECT_EQ(standin::SendToClients(2180, 0), 1);
    EXPECT_EQ(client->iStatus, IDSTAT_GO_TXRX);
    ASSERT_EQ(ClientEvents.size(), 2u);
    EXPECT_EQ(ClientEvents[0].sText, "Denying request to go RX Only");
    EXPECT_EQ(ClientEvents[1].sText, "Accepting request to go TXRX");
}

TEST_F(InProcess, NotificationsSetStatusAndPassTheirValues) {
    standin::SendToClients(2190, 65536 + 12);
    EXPECT_EQ(client->iStatus, IDSTAT_ID_IN_USE);
    ASSERT_EQ(ClientEvents.size(), 1u);
    EXPECT_EQ(ClientEvents[0].iValue, 12);
    EXPECT_EQ(ClientEvents[0].sText, "Device ID in use");

    standin::SendToClients(2032, 77);
    EXPECT_EQ(client->iNotifyValue, 77);

    standin::SendToClients(2175, 0);
    EXPECT_EQ(client->iStatus, IDSTAT_NOT_CONNECTED);
    EXPECT_EQ(ClientEvents.back().sText, "Infodriver has disconnected");
}

TEST_F(InProcess, RedundancyStateAndDriverStateReachTheInfodriver) {
    EXPECT_EQ(client->GetRedundancyState(), 2);
    standin::SetRedundancyState(5);
    EXPECT_EQ(client->GetRedundancyState(), 5);
    client->SetDriverState(3);
    EXPECT_EQ(standin::DriverStates(), std::vector<int>{3});
}

TEST_F(InProcess, ConnectWithZeroOrNoInfodriverCreatesNoWindow) {
    InfodriverClient zero(CLIENT_HEADER_VERSION);
    EXPECT_EQ(zero.Connect(0, nullptr, 0, 0, 0, 0), IDSTAT_NUMBER_ZERO);
    EXPECT_EQ(zero.hWnd, nullptr);
    EXPECT_TRUE(InfodriverClient::bClassRegistered);

    InfodriverClient nobody(CLIENT_HEADER_VERSION);
    EXPECT_EQ(nobody.Connect(977, nullptr, 0, 0, 0, 0), IDSTAT_NO_WINDOW);
    EXPECT_EQ(nobody.hWnd, nullptr);
    EXPECT_EQ(nobody.hInfodriver, nullptr);
}

TEST_F(InProcess, ExtendedRegistrationIsSentOnlyWithAllValuesNonZero) {
    InfodriverClient ext(CLIENT_HEADER_VERSION);
    ASSERT_EQ(ext.Connect(NUMBER, nullptr, 1, 9, 0x12345, 0x6789), IDSTAT_CONNECTED);
    EXPECT_EQ(ext.bExtended, 1);
    bool bSeen = false;
    for (const auto& s : StandinLines)
        bSeen = bSeen || (s.rfind("extended ", 0) == 0 &&
                          s.find(" " + std::to_string(0x67892345)) != std::string::npos);
    EXPECT_TRUE(bSeen);

    InfodriverClient plain(CLIENT_HEADER_VERSION);
    ASSERT_EQ(plain.Connect(NUMBER, nullptr, 1, 9, 0, 5), IDSTAT_CONNECTED);
    EXPECT_EQ(plain.bExtended, 0);
    EXPECT_EQ(plain.iExtHigh, 0);
}

TEST_F(InProcess, DestroyingTheClientDetaches) {
    client.reset();
    EXPECT_EQ(standin::DetachCount(), 1);
    EXPECT_EQ(StandinLines.back(), "detach 41");
}

TEST_F(InProcess, ARequestWithoutReplyTakesNothingFromAnEarlierOne) {
    standin::PresetSlot(50, "old");
    char szRead[READ_REPLY_CHARS + 1];
    EXPECT_EQ(client->ReadSlot(50, szRead), 1);
    EXPECT_STREQ(szRead, "old");

    // The infodriver vanishes: no reply arrives any more.
    standin::Stop();
    EXPECT_EQ(client->ReadSlot(51, szRead), 0);
    EXPECT_STREQ(szRead, "");
    EXPECT_TRUE(client->UpdateSlot(50, "old")); // an old matching reply must not skip the write
    EXPECT_EQ(client->GetRedundancyState(), 0);
    ASSERT_TRUE(standin::Start(NUMBER, CollectLine)); // for TearDown
}

TEST_F(InProcess, ANotificationDuringARequestIsHandledInsideIt) {
    // The stand-in sends 2728 for slot 1500 inside the read of slot 60, before its reply; the
    // callback writes inside that, and the outer read still gets its own slot's text.
    client->SetCallback([](InfodriverClient* pClient, int iValue, const char* pszText) {
        RecordEvent(pClient, iValue, pszText);
        pClient->WriteSlot(1600, "%s", pszText);
    });
    standin::PresetSlot(60, "same");
    standin::DeferSlot(1500, "nested");
    EXPECT_FALSE(client->UpdateSlot(60, "same"));
    EXPECT_EQ(Exchanges(), (std::vector<Exchange>{{2727, 60}, {2726, 1600}, {2984, 0}}));
    EXPECT_EQ(standin::SlotText(1600), "nested");
    ASSERT_EQ(ClientEvents.size(), 1u);
    EXPECT_EQ(ClientEvents[0].iValue, 1500);
}

TEST_F(InProcess, ACopyDataWithoutRecordIsAnsweredAndIgnored) {
    EXPECT_EQ(SendMessageA(client->hWnd, WM_COPYDATA, 0, 0), 1);
    // A plain 2728 brings the empty text, even from this thread: its lParam is never read.
    SendMessageA(client->hWnd, 2728, 1400, 0);
    SendMessageA(client->hWnd, 2728, 1401, reinterpret_cast<LPARAM>("plain"));
    ASSERT_EQ(ClientEvents.size(), 2u);
    EXPECT_EQ(ClientEvents[0].sText, "");
    EXPECT_EQ(ClientEvents[1].sText, "");
    EXPECT_TRUE(IsWindow(client->hWnd));
}

TEST_F(InProcess, APlainSlotChangeNamingNoSixteenBitSlotIsRefused) {
    // Cut down to an int, 65536 + 1201 would be slot 66737, and its write-back would land on 1201.
    SendMessageA(client->hWnd, 2728, 0x10000 + 1201, 0);
    SendMessageA(client->hWnd, 2728, static_cast<WPARAM>(-1), 0);
    EXPECT_TRUE(ClientEvents.empty());
    EXPECT_EQ(client->iChangeCount, 0);
    SendMessageA(client->hWnd, 2728, 0xFFFF, 0);
    ASSERT_EQ(ClientEvents.size(), 1u);
    EXPECT_EQ(ClientEvents[0].iValue, 0xFFFF);
}

TEST_F(InProcess, ACreationMessageAfterTheCreationLeavesTheWindowAsItWas) {
    CREATESTRUCTA create{};
    create.lpszName = "renamed";
    create.style = WS_VSCROLL;
    EXPECT_EQ(SendMessageA(client->hWnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)), TRUE);
    char szTitle[16] = "?";
    GetWindowTextA(client->hWnd, szTitle, sizeof szTitle);
    EXPECT_STREQ(szTitle, "");
    EXPECT_TRUE(client->UpdateSlot(70, "still connected"));
}

namespace {
HWND hDetachingClient = nullptr;
LRESULT iDetachTextAnswer = -1;
// An infodriver that answers the detach with a last text for the client.
LRESULT CALLBACK TalkativeInfodriverProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iMessage == INFO_DETACH && hDetachingClient != nullptr) {
        iDetachTextAnswer = standin::SendTextRecord(hWnd, hDetachingClient, INFO_TEXT, 0, "late");
        return 0;
    }
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}
} // namespace

TEST_F(InProcess, ATextArrivingWhileTheClientDetachesIsHandled) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TalkativeInfodriverProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TalkativeInfodriver";
    RegisterClassA(&wc);
    HWND hTalkative =
        CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hTalkative, nullptr);
    client->hInfodriver = hTalkative;
    hDetachingClient = client->hWnd;

    client.reset(); // the text must not land in a freed buffer
    EXPECT_EQ(iDetachTextAnswer, 1);
    hDetachingClient = nullptr;
    DestroyWindow(hTalkative);
}
