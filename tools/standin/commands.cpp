// The stand-in's line commands.
#include "tools/standin/events.h"
#include "tools/standin/standin.h"

#include <cstdlib>
#include <cstring>

namespace standin {
namespace {

// Splits off the first blank-separated word; the rest is left in pszRest (leading blanks gone).
std::string NextWord(const char*& pszRest) {
    while (*pszRest == ' ' || *pszRest == '\t')
        ++pszRest;
    const char* pStart = pszRest;
    while (*pszRest != 0 && *pszRest != ' ' && *pszRest != '\t')
        ++pszRest;
    std::string sWord(pStart, pszRest);
    if (*pszRest != 0)
        ++pszRest; // exactly one separator: the rest of a text keeps its own blanks
    return sWord;
}

bool ParseNumber(const std::string& sWord, long& lValue) {
    if (sWord.empty())
        return false;
    char* pEnd = nullptr;
    lValue = std::strtol(sWord.c_str(), &pEnd, 0);
    return *pEnd == 0;
}

void DumpSlots(int iFirst, int iLast) {
    int iCount = 0;
    for (int iSlot = iFirst; iSlot <= iLast; ++iSlot) {
        if (SlotText(iSlot).empty())
            continue;
        Emit("slot %d %s", iSlot, Escaped(SlotText(iSlot)).c_str());
        ++iCount;
    }
    Emit("dump-end %d", iCount);
}

int Fail(const char* pszWhy, const char* pszLine) {
    Emit("error %s: %s", pszWhy, Escaped(pszLine).c_str());
    return -1;
}

} // namespace

int RunCommand(const char* pszLine) {
    const char* pszRest = pszLine;
    std::string sCommand = NextWord(pszRest);
    long lValue = 0;
    if (sCommand.empty() || sCommand[0] == '#')
        return 0;
    if (sCommand == "quit") {
        Emit("bye");
        return 1;
    }
    if (sCommand == "dump") {
        long lFirst = 1, lLast = SLOT_COUNT - 1;
        std::string sFirst = NextWord(pszRest), sLast = NextWord(pszRest);
        if ((!sFirst.empty() && !ParseNumber(sFirst, lFirst)) ||
            (!sLast.empty() && !ParseNumber(sLast, lLast)))
            return Fail("dump [first [last]]", pszLine);
        if (sLast.empty() && !sFirst.empty())
            lLast = lFirst;
        DumpSlots(lFirst < 1 ? 1 : static_cast<int>(lFirst),
                  lLast >= SLOT_COUNT ? SLOT_COUNT - 1 : static_cast<int>(lLast));
        return 0;
    }
    if (sCommand == "set" || sCommand == "defer" || sCommand == "preset") {
        if (!ParseNumber(NextWord(pszRest), lValue) || lValue <= 0 || lValue >= SLOT_COUNT)
            return Fail("slot 1..65535 expected", pszLine);
        std::string sText = Unescaped(pszRest);
        if (sCommand == "set")
            SetSlot(static_cast<int>(lValue), sText.c_str());
        else if (sCommand == "defer")
            DeferSlot(static_cast<int>(lValue), sText.c_str());
        else
            PresetSlot(static_cast<int>(lValue), sText.c_str());
        return 0;
    }
    if (sCommand == "get") {
        if (!ParseNumber(NextWord(pszRest), lValue) || lValue <= 0 || lValue >= SLOT_COUNT)
            return Fail("slot 1..65535 expected", pszLine);
        Emit("slot %ld %s", lValue, Escaped(SlotText(static_cast<int>(lValue))).c_str());
        return 0;
    }
    if (sCommand == "redundancy") {
        if (!ParseNumber(NextWord(pszRest), lValue))
            return Fail("state expected", pszLine);
        SetRedundancyState(static_cast<int>(lValue));
        Emit("redundancy-set %ld", lValue);
        return 0;
    }
    if (sCommand == "delay") {
        if (!ParseNumber(NextWord(pszRest), lValue) || lValue < 0)
            return Fail("microseconds expected", pszLine);
        SetExchangeDelayUs(static_cast<unsigned>(lValue));
        Emit("delay-set %ld", lValue);
        return 0;
    }
    if (sCommand == "stall") {
        if (!ParseNumber(NextWord(pszRest), lValue) || lValue < 0)
            return Fail("milliseconds expected", pszLine);
        StallNextAnswer(static_cast<unsigned>(lValue));
        Emit("stall-set %ld", lValue);
        return 0;
    }
    if (sCommand == "quiet") {
        SetQuiet(ParseNumber(NextWord(pszRest), lValue) && lValue != 0);
        return 0;
    }
    if (sCommand == "send") {
        if (!ParseNumber(NextWord(pszRest), lValue))
            return Fail("message expected", pszLine);
        if (lValue == 2730) {
            SendTextToClients(Unescaped(pszRest).c_str());
            return 0;
        }
        if (lValue != 2175 && lValue != 2179 && lValue != 2180 && lValue != 2190 && lValue != 2032)
            return Fail("send takes 2175, 2179, 2180, 2190, 2730 or 2032", pszLine);
        long lParam = 0;
        std::string sArg = NextWord(pszRest);
        if (!sArg.empty() && !ParseNumber(sArg, lParam))
            return Fail("number expected", pszLine);
        SendToClients(static_cast<UINT>(lValue), static_cast<WPARAM>(static_cast<unsigned long>(lParam)));
        return 0;
    }
    if (sCommand == "counts") {
        Emit("counts %ld %ld", ReadCount(), WriteCount());
        return 0;
    }
    if (sCommand == "move") {
        if (MoveToNewWindow() == nullptr)
            return Fail("no new window", pszLine);
        return 0;
    }
    if (sCommand == "clients") {
        for (int i = 0; i < ClientCount(); ++i)
            Emit("client %s", HandleText(ClientAt(i)).c_str());
        Emit("clients-end %d", ClientCount());
        return 0;
    }
    return Fail("unknown command", pszLine);
}

const char* HelpText() {
    return R"(standin.exe [-q] [--delay-us <n>] <number>

An infodriver stand-in: a slot store for infodriver <number> (1..999) that speaks the
infodriver's side of the driver's message protocol from a hidden top-level window.
  -q   start quiet (no read and write lines; for timing)
  --delay-us <n>  answer each request of a client (record, 2732, 2733) after at least <n> us:
                  an infodriver slowed by the rest of the control system
  -h   this text

Commands, one per line on standard input (texts may use \\ \n \r \t \xNN escapes):
  set <slot> <text>       change a slot from outside: store it, send 2728 to every attached client
  defer <slot> <text>     the same change, sent inside the next client request, before its reply
  preset <slot> <text>    store a text without telling anybody
  get <slot>              print the slot's text
  dump [<first> [<last>]] print every non-empty slot (of the range), then dump-end <count>
  redundancy <n>          the answer to 2732 from now on (1 RX only, 2 TX/RX, 5 RX only broken)
  send 2175|2179|2180     send the plain message to every attached client
  send 2190|2032 <value>  the same, with wParam = value
  send 2730 <text>        a text for the clients, as a text record
  move                    open a new window for this infodriver and announce it to the clients
                          with 2729 (the old window stays open)
  clients                 print the attached clients, then clients-end <count>
  counts                  print counts <reads> <writes>: the slot reads and writes served so far
  delay <us>              answer each request after at least <us> microseconds from now on
  stall <ms>              answer the next request only after <ms> milliseconds, as a stalled
                          infodriver would; stall-begins <ms> when that request comes, stall-over
                          <ms> once its answer goes
  release                 end the stall under way now
  quiet 0|1               leave out (1) or print (0) read and write lines
  quit                    end (end of input ends it too)

Output, one line per event, fields separated by one blank, text fields last and escaped:
  ready <number> <window>            started; <window> is the stand-in's window handle
  search <client>                    a 2724 search for this number; answered with 2729
  attach <client>                    the searching client is now attached
  announce <client>                  an attached client's 2031
  detach <device>                    2725 from a client of infodriver <device>
  gone <client>                      a detached client's window has gone; it is forgotten
  write <slot> <2726|2731> <client> <text>
  read <slot> <client> <text>        the text handed back
  redundancy <state>                 a 2732 query and its answer
  redundancy-set <state>
  stall-set <ms>, stall-begins <ms>, stall-over <ms>
                                     a stall armed, the request it holds, and its answer going out
  moved <window>                     the new window of "move", before the 2729s go out
  driver-state <value>               2733
  extended <wparam> <lparam>         3124 (always accepted)
  sent <message> <client> <result> [<text>]   a message sent to a client and its answer
  reply <client> <result> <text>     the client's 2984 answer to one of our records
  slot <slot> <text>                 get / dump
  dump-end <count>, clients-end <count>, client <client>
  error <why>: <line>                a command not understood
  bye                                quitting

How this infodriver works inside (what the protocol leaves open):
  - Slots 1..65535 hold texts of at most 512 characters, all empty at start; index 0 is never
    stored (reads of it answer result 0 and an empty text).
  - 2726 and 2731 both store the text in the slot named by the index (2731 is the same write,
    given as a negative index by the driver). Every write is stored, changed or not.
  - Every record is answered with a 2984 record sent back during the request, of the request's
    own kind (text or numeric): a read carries the slot's text and result 1; a write carries the
    stored text and result 1; anything else is echoed with result 0.
  - Clients are never told of writes, neither their own nor other clients': two drivers writing
    back each other's changes from slot 1330 up would otherwise echo for ever. Only changes made
    here (set, defer) are sent as 2728, to every attached client.
  - A client is attached when its search names this infodriver; it is forgotten once its window
    has gone after a 2725 (2725 names the device, not the window).
  - 2732 is answered with the redundancy state (2 until changed); 2733 and 3124 are recorded and
    answered 0; 2031 from attached clients is noted.
  - Records are read within cbData only; texts without a terminator are cut at 512 characters.
)";
}

} // namespace standin
