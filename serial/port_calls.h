#pragma once
// The system calls through which the serial layer reads and looks after an open port. A test
// replaces entries (before it opens a port, and puts them back once the port is closed) to give
// the layer what a real adapter's driver may do and Wine never does: a read that never completes,
// a handle that stops answering, a cancellation nobody asked for, bytes with a failed read.
#include <windows.h>

struct PortSystemCalls {
    BOOL(WINAPI* pfnReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* pfnGetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI* pfnCancelIoEx)(HANDLE, LPOVERLAPPED);
    BOOL(WINAPI* pfnClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* pfnPurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* pfnGetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* pfnSetCommState)(HANDLE, LPDCB);
};

// The system's own. Read by the reader threads before every call, written only by tests.
extern PortSystemCalls PortCalls;
extern const PortSystemCalls SYSTEM_PORT_CALLS;
