// The playback thread on Windows: CreateThread, raised to THREAD_PRIORITY_TIME_CRITICAL.
// Pairs with device.h.
#include <windows.h>

#include "audio/device.h"

namespace {

std::uint32_t (*threadProc)(void*) = nullptr;  // one playback thread at a time

DWORD WINAPI runThread(LPVOID) { return threadProc(nullptr); }

ThreadHandle win32Create(std::uint32_t (*proc)(void*)) {
  threadProc = proc;
  return CreateThread(nullptr, 0, runThread, nullptr, 0, nullptr);
}

void win32RaisePriority(ThreadHandle thread) {
  SetThreadPriority(static_cast<HANDLE>(thread), THREAD_PRIORITY_TIME_CRITICAL);
}

void win32Join(ThreadHandle thread) {
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}

void win32Sleep() { Sleep(POLL_INTERVAL_MS); }

const ThreadOps win32ThreadOps = {win32Create, win32RaisePriority, win32Join, win32Sleep};

}  // namespace

const ThreadOps& platformThreadOps() { return win32ThreadOps; }
