#include "builder/signal_cleanup.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace {

std::mutex Lock;
std::function<void()> Cleanup;

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// A thread of its own, not a handler: the cleanup may then allocate and
// take the lock, which a handler may not.
void take_signals(sigset_t set) {
  int taken = 0;
  while (sigwait(&set, &taken) != 0) {
  }
  // Kept to the end, so that no step begins after the cleanup.
  Lock.lock();
  if (Cleanup) Cleanup();
  // Ended by the signal itself, as its sender expects.
  signal(taken, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, taken);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(taken);
  _exit(128 + taken);
}

}  // namespace

void end_cleanly_on_signals() {
  sigset_t set = ending_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(take_signals, set).detach();
}

std::mutex& signal_cleanup_lock() { return Lock; }

void set_signal_cleanup(std::function<void()> cleanup) { Cleanup = std::move(cleanup); }
