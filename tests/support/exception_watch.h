#pragma once
// Counts the exceptions another process raises, by attaching to it as its debugger for a while.
// A process that crashes on its own is handed to Wine's debugger, which holds it, and with it
// every message a test sends to its windows; watched, its exceptions are counted and a crash ends
// it. Every debug event is handled on the thread that attached, which must call every member.
#include <windows.h>

#include <vector>

class ExceptionWatch {
  public:
    ExceptionWatch() = default;
    ~ExceptionWatch() { Detach(); }
    ExceptionWatch(const ExceptionWatch&) = delete;
    ExceptionWatch& operator=(const ExceptionWatch&) = delete;

    // Attaches and handles events until the attach has settled (its break-in reported).
    bool Attach(DWORD dwProcess) {
        if (!DebugActiveProcess(dwProcess))
            return false;
        dwProcessId = dwProcess;
        DebugSetProcessKillOnExit(FALSE);
        const DWORD dwStart = GetTickCount();
        while (!bSettled && GetTickCount() - dwStart < 5000)
            HandleOne(100);
        return bSettled;
    }
    // Handles events for dwMs milliseconds.
    void Watch(DWORD dwMs) {
        const DWORD dwStart = GetTickCount();
        for (DWORD dwNow = 0; dwNow < dwMs; dwNow = GetTickCount() - dwStart)
            HandleOne(dwMs - dwNow);
    }
    void Detach() {
        if (dwProcessId == 0)
            return;
        DebugActiveProcessStop(dwProcessId);
        dwProcessId = 0;
    }
    // The codes of the exceptions raised since the attach settled, first chance.
    const std::vector<DWORD>& Exceptions() const { return Codes; }

  private:
    void HandleOne(DWORD dwMs) {
        DEBUG_EVENT Event{};
        if (!WaitForDebugEvent(&Event, dwMs))
            return;
        DWORD dwContinue = DBG_CONTINUE;
        switch (Event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (Event.u.CreateProcessInfo.hFile)
                    CloseHandle(Event.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (Event.u.LoadDll.hFile)
                    CloseHandle(Event.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT: {
                const DWORD dwCode = Event.u.Exception.ExceptionRecord.ExceptionCode;
                if (!bSettled && dwCode == EXCEPTION_BREAKPOINT) {
                    bSettled = true; // the break-in of the attach
                } else if (Event.u.Exception.dwFirstChance) {
                    Codes.push_back(dwCode);
                    dwContinue = DBG_EXCEPTION_NOT_HANDLED;
                } else {
                    dwContinue = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            }
            default:
                break;
        }
        ContinueDebugEvent(Event.dwProcessId, Event.dwThreadId, dwContinue);
    }

    DWORD dwProcessId = 0;
    bool bSettled = false;
    std::vector<DWORD> Codes;
};
