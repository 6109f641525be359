// Ending a FUSE session's loop in bounded time when a signal asks it to
// (Ctrl-C, kill). libfuse's own handlers only set the session's exit flag
// and count on the loop's thread being interrupted by the same signal; when
// that wake-up is missed (libfuse before 3.18, its issue #997), the server
// serves on until some request happens to come. Here the stop signals are
// taken by a thread of their own, which sets the flag and then interrupts
// the loop's thread until the loop has returned.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <thread>

struct fuse_session;

namespace tuk {

class LoopStopper {
 public:
  // On the thread that runs the loop, after any fork (fuse_daemonize) and
  // before the loop starts its workers, which inherit the blocked signals.
  explicit LoopStopper(fuse_session* session);
  // Once the loop has returned.
  ~LoopStopper();
  LoopStopper(const LoopStopper&) = delete;
  LoopStopper& operator=(const LoopStopper&) = delete;

 private:
  void Watch();

  fuse_session* const session_;
  const pthread_t loop_;
  sigset_t oldMask_;
  struct sigaction oldNudge_ = {};
  std::mutex mutex_;
  std::condition_variable ended_;
  bool loopEnded_ = false;
  std::thread watcher_;  // last: started once the rest is in place
};

}  // namespace tuk
