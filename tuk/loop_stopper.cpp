#define FUSE_USE_VERSION 34

#include "tuk/loop_stopper.h"

#include <fuse_lowlevel.h>

#include <chrono>
#include <system_error>

namespace tuk {
namespace {

// Taken by the watcher: the signals that stop the server, and the one that
// tells the watcher the loop ended on its own (unmounted from outside).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kLoopEnded = SIGUSR1;
// Sent to the loop's thread to interrupt its wait; its handler does nothing.
constexpr int kNudge = SIGUSR2;

void Ignore(int) {}

sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) sigaddset(&set, signal);
  sigaddset(&set, kLoopEnded);
  return set;
}

}  // namespace

LoopStopper::LoopStopper(fuse_session* session) : session_(session), loop_(pthread_self()) {
  // No SA_RESTART: the nudge must cut the loop's wait short.
  struct sigaction nudge = {};
  nudge.sa_handler = Ignore;
  sigemptyset(&nudge.sa_mask);
  sigaction(kNudge, &nudge, &oldNudge_);
  const sigset_t watched = Watched();
  pthread_sigmask(SIG_BLOCK, &watched, &oldMask_);
  try {
    watcher_ = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // Without the watcher, libfuse's own handlers take the signals.
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }
}

LoopStopper::~LoopStopper() {
  if (watcher_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      loopEnded_ = true;
    }
    ended_.notify_all();
    pthread_kill(watcher_.native_handle(), kLoopEnded);
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }
  sigaction(kNudge, &oldNudge_, nullptr);
}

void LoopStopper::Watch() {
  const sigset_t watched = Watched();
  for (;;) {
    int signal = 0;
    if (sigwait(&watched, &signal) != 0) continue;
    if (signal != kLoopEnded) break;
    std::lock_guard<std::mutex> lock(mutex_);
    if (loopEnded_) return;
  }
  fuse_session_exit(session_);
  // The loop's thread may be between looking at the flag and waiting:
  // it is nudged again until the loop has returned.
  std::unique_lock<std::mutex> lock(mutex_);
  while (!loopEnded_) {
    pthread_kill(loop_, kNudge);
    ended_.wait_for(lock, std::chrono::milliseconds(20));
  }
}

}  // namespace tuk
