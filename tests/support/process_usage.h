#pragma once
// Another process's memory, handles and threads, looked at from outside. Wine reports no handle
// count for another process (GetProcessHandleCount gives 0) and no private bytes; the system's
// handle table and the anonymous memory it reports as page-file use stand in for them there.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <set>
#include <vector>

struct ProcessUsage {
    SIZE_T nWorkingSet = 0;
    SIZE_T nPrivate = 0;
    DWORD dwHandles = 0;
    bool bValid = false;
};

namespace process_usage {

constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<NTSTATUS>(0xC0000004L);

struct HandleEntry {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
};
struct HandleTable {
    ULONG Count;
    HandleEntry Handles[1];
};

// The handles the system's table lists for the process, or 0 when the table cannot be read.
inline DWORD HandlesInSystemTable(DWORD dwProcessId) {
    using QueryFunction = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto pfnQuery = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (pfnQuery == nullptr)
        return 0;
    std::vector<char> Buffer(1 << 16);
    for (int iTry = 0; iTry < 8; ++iTry) {
        ULONG nNeeded = 0;
        const NTSTATUS iStatus =
            pfnQuery(SYSTEM_HANDLE_INFORMATION, Buffer.data(), static_cast<ULONG>(Buffer.size()), &nNeeded);
        if (iStatus == STATUS_INFO_LENGTH_MISMATCH_CODE) {
            Buffer.resize(Buffer.size() * 2 > nNeeded ? Buffer.size() * 2 : nNeeded + 4096);
            continue;
        }
        if (iStatus != 0)
            return 0;
        const auto* pTable = reinterpret_cast<const HandleTable*>(Buffer.data());
        DWORD n = 0;
        for (ULONG i = 0; i < pTable->Count; ++i)
            n += pTable->Handles[i].OwnerPid == dwProcessId;
        return n;
    }
    return 0;
}

} // namespace process_usage

inline ProcessUsage UsageOf(HANDLE hProcess, DWORD dwProcessId) {
    ProcessUsage Usage;
    PROCESS_MEMORY_COUNTERS_EX Counters{};
    Counters.cb = sizeof Counters;
    if (!GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&Counters),
                              sizeof Counters))
        return Usage;
    Usage.nWorkingSet = Counters.WorkingSetSize;
    Usage.nPrivate = Counters.PrivateUsage != 0 ? Counters.PrivateUsage : Counters.PagefileUsage;
    if (!GetProcessHandleCount(hProcess, &Usage.dwHandles) || Usage.dwHandles == 0)
        Usage.dwHandles = process_usage::HandlesInSystemTable(dwProcessId);
    Usage.bValid = Usage.dwHandles != 0;
    return Usage;
}

// The least of a few samples over half a second: handles and pages that come and go (a log line's
// file, a message's buffers) do not count, what has piled up does.
inline ProcessUsage SteadyUsageOf(HANDLE hProcess, DWORD dwProcessId) {
    ProcessUsage Least = UsageOf(hProcess, dwProcessId);
    for (int i = 1; i < 5 && Least.bValid; ++i) {
        Sleep(100);
        const ProcessUsage Now = UsageOf(hProcess, dwProcessId);
        Least.bValid = Now.bValid;
        Least.nWorkingSet = Now.nWorkingSet < Least.nWorkingSet ? Now.nWorkingSet : Least.nWorkingSet;
        Least.nPrivate = Now.nPrivate < Least.nPrivate ? Now.nPrivate : Least.nPrivate;
        Least.dwHandles = Now.dwHandles < Least.dwHandles ? Now.dwHandles : Least.dwHandles;
    }
    return Least;
}

inline double Megabytes(SIZE_T n) {
    return static_cast<double>(n) / (1024.0 * 1024.0);
}

// The ids of the process's threads now.
inline std::set<DWORD> ThreadIdsOf(DWORD dwProcessId) {
    std::set<DWORD> Ids;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return Ids;
    THREADENTRY32 Entry{};
    Entry.dwSize = sizeof Entry;
    for (BOOL b = Thread32First(hSnap, &Entry); b; b = Thread32Next(hSnap, &Entry))
        if (Entry.th32OwnerProcessID == dwProcessId)
            Ids.insert(Entry.th32ThreadID);
    CloseHandle(hSnap);
    return Ids;
}

// The one thread that is in After but not in Before, or 0 when there is not exactly one.
inline DWORD NewThread(const std::set<DWORD>& Before, const std::set<DWORD>& After) {
    DWORD dwNew = 0;
    for (DWORD dwId : After)
        if (Before.count(dwId) == 0) {
            if (dwNew != 0)
                return 0;
            dwNew = dwId;
        }
    return dwNew;
}

// A thread of any process held still for as long as this lives, as a stalled disk holds a writer.
class SuspendedThread {
  public:
    explicit SuspendedThread(DWORD dwThreadId)
        : hThread(dwThreadId != 0 ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, dwThreadId) : nullptr) {
        if (hThread != nullptr && SuspendThread(hThread) == static_cast<DWORD>(-1)) {
            CloseHandle(hThread);
            hThread = nullptr;
        }
    }
    ~SuspendedThread() {
        if (hThread != nullptr) {
            ResumeThread(hThread);
            CloseHandle(hThread);
        }
    }
    SuspendedThread(const SuspendedThread&) = delete;
    SuspendedThread& operator=(const SuspendedThread&) = delete;
    bool Held() const { return hThread != nullptr; }

  private:
    HANDLE hThread;
};
