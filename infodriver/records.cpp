// WM_COPYDATA transfer records: the wire format of every slot exchange. Records arriving at the
// hidden window may come from any process on the desktop, so nothing in them is trusted.
#include "infodriver/client.h"

#include "app/work_window.h"
#include "protocol/settings.h"

#include <cstdio>
#include <cstring>

static_assert(sizeof(DWORD) == 4, "dwData carries a 32-bit message/index pair on the wire");
static_assert(RecordTag(INFO_READ, 7) == 2727u * 65536u + 7u);
static_assert(RecordMessage(RecordTag(INFO_REPLY, 0xFFFF)) == INFO_REPLY);
static_assert(RecordIndex(RecordTag(INFO_REPLY, 0x12345)) == 0x2345);
static_assert(NUMBER_DIGITS + 1 + 7 == NUMBER_PAYLOAD, "number payload: 8 digits, terminator, 7 zeros");

namespace {

// The reply area of the request waiting innermost. Each request has its own, cleared before it is
// sent, so a request that gets no reply reads an empty text and result 0, and a nested exchange
// (a notification handled while a request waits) cannot hand its reply to the outer request.
struct ReplyArea {
    char szReply[TEXT_PAYLOAD + 1];
    LRESULT iReplyResult;
};
ReplyArea* pWaitingReply = nullptr;
// The innermost exchange's count of the milliseconds this thread spent handling what the
// infodriver sent inside it: that time is the driver's, not the infodriver's.
unsigned long* pulHandledInside = nullptr;
DWORD dwLastSlowAnswer = 0;
bool bSlowAnswerSeen = false;

// An infodriver that takes over a second holds the driver's window with it: the log says so, so
// that a stalled infodriver can be told from a starved workstation. Once for a run of them: a
// slow answer within SLOW_EPISODE_MS of the last one belongs to the same episode.
constexpr DWORD SLOW_ANSWER_MS = 1000;
constexpr DWORD SLOW_EPISODE_MS = 10000;

void NoteAnswerTime(DWORD dwMs) {
    if (dwMs <= SLOW_ANSWER_MS)
        return;
    const DWORD dwNow = GetTickCount();
    const bool bNewEpisode = !bSlowAnswerSeen || dwNow - dwLastSlowAnswer >= SLOW_EPISODE_MS;
    bSlowAnswerSeen = true;
    dwLastSlowAnswer = dwNow;
    if (!bNewEpisode)
        return;
    const double dSeconds = dwMs / 1000.0;
    DebugLine("Infodriver %d took %.1f s to answer", iDeviceNumber, dSeconds);
    LogLine("Infodriver %d took %.1f s to answer", iDeviceNumber, dSeconds);
}

// A safe, terminated copy of a record's payload. Text: the 513 bytes, cut at 512 characters when
// the sender left out the terminator. Number: at most its 16 bytes, read as at most 8 digits.
struct Payload {
    char szData[TEXT_PAYLOAD + 1];
    bool bText;
};

void CopyPayload(const COPYDATASTRUCT& record, Payload& payload) {
    std::memset(&payload, 0, sizeof payload);
    payload.bText = record.cbData == TEXT_PAYLOAD;
    DWORD cbAvailable = record.lpData != nullptr ? record.cbData : 0;
    if (payload.bText) {
        if (cbAvailable > 0)
            std::memcpy(payload.szData, record.lpData, cbAvailable);
        if (std::memchr(payload.szData, 0, TEXT_PAYLOAD) == nullptr)
            payload.szData[SLOT_TEXT_CHARS] = 0;
    } else {
        DWORD cbCopy = cbAvailable < NUMBER_PAYLOAD ? cbAvailable : NUMBER_PAYLOAD;
        if (cbCopy > 0)
            std::memcpy(payload.szData, record.lpData, cbCopy);
        std::memset(payload.szData + NUMBER_DIGITS, 0, sizeof payload.szData - NUMBER_DIGITS);
    }
}

// Sends one record. A request (anything but a reply) waits for its reply in pArea.
LRESULT Exchange(HWND hOwn, HWND hTarget, COPYDATASTRUCT& record, ReplyArea* pArea) {
    WPARAM wOwn = reinterpret_cast<WPARAM>(hOwn);
    LPARAM lRecord = reinterpret_cast<LPARAM>(&record);
    if (RecordMessage(record.dwData) == INFO_REPLY)
        return SendToInfodriver(hTarget, WM_COPYDATA, wOwn, lRecord);
    ReplyArea* pOuter = pWaitingReply;
    pWaitingReply = pArea;
    SendToInfodriver(hTarget, WM_COPYDATA, wOwn, lRecord);
    pWaitingReply = pOuter;
    return pArea->iReplyResult;
}

} // namespace

LRESULT SendToInfodriver(HWND hTo, UINT iMessage, WPARAM wParam, LPARAM lParam, DWORD dwWaitMs) {
    unsigned long ulHandled = 0;
    unsigned long* const pulOuter = pulHandledInside;
    pulHandledInside = &ulHandled;
    const DWORD dwStart = GetTickCount();
    NoteExchange(true);
    LRESULT iResult = 0;
    bool bAnswered = true;
    if (dwWaitMs == INFINITE) {
        iResult = SendMessageA(hTo, iMessage, wParam, lParam);
    } else {
        // Messages sent to this thread meanwhile are still handled (SMTO_NORMAL); a hung
        // infodriver is not waited for at all.
        DWORD_PTR dwResult = 0;
        bAnswered = SendMessageTimeoutA(hTo, iMessage, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                        dwWaitMs, &dwResult) != 0;
        iResult = bAnswered ? static_cast<LRESULT>(dwResult) : 0;
    }
    NoteExchange(false);
    const DWORD dwTaken = GetTickCount() - dwStart;
    pulHandledInside = pulOuter;
    // A send given up is no answer, slow or not.
    if (bAnswered)
        NoteAnswerTime(dwTaken > ulHandled ? dwTaken - static_cast<DWORD>(ulHandled) : 0);
    return iResult;
}

HandledInsideExchange::HandledInsideExchange()
    : pulCount(pulHandledInside), dwStart(pulHandledInside != nullptr ? GetTickCount() : 0) {}

HandledInsideExchange::~HandledInsideExchange() {
    if (pulCount != nullptr)
        *pulCount += GetTickCount() - dwStart;
}

LRESULT InfodriverClient::SendRecord(HWND hOwn, HWND hTarget, UINT iMessage, unsigned iIndex, char* pData,
                                     int iReplyLength) {
    COPYDATASTRUCT record{};
    record.dwData = RecordTag(iMessage, iIndex);
    record.cbData = TEXT_PAYLOAD;
    record.lpData = pData;
    ReplyArea area{};
    LRESULT iResult = Exchange(hOwn, hTarget, record, &area);
    if (iMessage == INFO_REPLY)
        return iResult;

    if (iReplyLength > 0) {
        int iLength =
            iReplyLength < static_cast<int>(TEXT_PAYLOAD) ? iReplyLength : static_cast<int>(TEXT_PAYLOAD);
        // Up to the terminator, zero-filled to the reply length.
        int i = 0;
        for (; i < iLength && area.szReply[i] != 0; ++i)
            pData[i] = area.szReply[i];
        std::memset(pData + i, 0, static_cast<std::size_t>(iLength - i) + 1);
    }
    return area.iReplyResult;
}

LRESULT InfodriverClient::SendRecord(HWND hOwn, HWND hTarget, UINT iMessage, unsigned iIndex,
                                     unsigned long ulNumber) {
    char szNumber[NUMBER_PAYLOAD] = {}; // the last 7 bytes stay zero
    std::snprintf(szNumber, NUMBER_DIGITS + 1, "%08lx", ulNumber & 0xFFFFFFFFul);
    COPYDATASTRUCT record{};
    record.dwData = RecordTag(iMessage, iIndex);
    record.cbData = NUMBER_PAYLOAD;
    record.lpData = szNumber;
    ReplyArea area{};
    return Exchange(hOwn, hTarget, record, &area);
}

LRESULT InfodriverClient::ReceiveRecord(HWND hOwn, const COPYDATASTRUCT* pRecord) {
    if (pRecord == nullptr)
        return 1;
    UINT iMessage = RecordMessage(pRecord->dwData);
    unsigned iIndex = RecordIndex(pRecord->dwData);
    Payload payload;
    CopyPayload(*pRecord, payload);

    if (iMessage == INFO_REPLY) {
        // A reply nobody waits for (late, or from a stranger) is dropped.
        if (pWaitingReply != nullptr) {
            std::memcpy(pWaitingReply->szReply, payload.szData, sizeof payload.szData);
            pWaitingReply->iReplyResult = iIndex;
        }
        return 1;
    }

    // A record naming a system message (below WM_USER) is never dispatched: it would reach the
    // creation, destruction or copy-data handling, or default handling with a foreign pointer.
    LRESULT iResult = IsClientMessage(iMessage) ? HandleMessage(iMessage, iIndex, payload.szData) : 0;
    if (payload.bText)
        SendRecord(hOwn, hInfodriver, INFO_REPLY, static_cast<unsigned>(iResult), payload.szData, 0);
    else
        SendRecord(hOwn, hInfodriver, INFO_REPLY, static_cast<unsigned>(iResult), 0ul);
    return 1;
}
