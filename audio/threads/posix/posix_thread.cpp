// The playback thread on POSIX systems: a pthread raised to the top SCHED_FIFO priority when
// the system grants it. Pairs with device.h.
#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <thread>

#include "audio/device.h"

namespace {

struct PosixThread {
  pthread_t thread;
  std::uint32_t (*proc)(void*);
};

void* runThread(void* argument) {
  const PosixThread* self = static_cast<const PosixThread*>(argument);
  self->proc(nullptr);
  return nullptr;
}

ThreadHandle posixCreate(std::uint32_t (*proc)(void*)) {
  PosixThread* self = new PosixThread{{}, proc};
  if (pthread_create(&self->thread, nullptr, runThread, self) != 0) {
    delete self;
    return nullptr;
  }
  return self;
}

void posixRaisePriority(ThreadHandle handle) {
  // Without the right to real-time scheduling this fails and the thread keeps its priority.
  sched_param parameter{};
  parameter.sched_priority = sched_get_priority_max(SCHED_FIFO);
  pthread_setschedparam(static_cast<PosixThread*>(handle)->thread, SCHED_FIFO, &parameter);
}

void posixJoin(ThreadHandle handle) {
  PosixThread* self = static_cast<PosixThread*>(handle);
  pthread_join(self->thread, nullptr);
  delete self;
}

void posixSleep() { std::this_thread::sleep_for(std::chrono::milliseconds(POLL_INTERVAL_MS)); }

const ThreadOps posixThreadOps = {posixCreate, posixRaisePriority, posixJoin, posixSleep};

}  // namespace

const ThreadOps& platformThreadOps() { return posixThreadOps; }
