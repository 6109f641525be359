// A fixed set of worker threads taking jobs from one queue, first come
// first served. The destructor finishes the queued jobs and joins every
// thread, so no job outlives the pool.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tuk {

class ThreadPool {
 public:
  // A pool of no threads runs each job inside Submit.
  explicit ThreadPool(unsigned threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Jobs must not throw; each receives the index of the worker that runs
  // it (0 when run inside Submit), so it can use that worker's scratch.
  void Submit(std::function<void(unsigned worker)> job);
  unsigned Workers() const { return static_cast<unsigned>(threads_.size()); }
  // Runs the oldest queued job on the calling thread, which it knows as
  // worker (an index past the pool's own); false when none is queued. A
  // caller that would wait for its jobs helps with them instead.
  bool RunOne(unsigned worker);

 private:
  void Work(unsigned worker);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void(unsigned)>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// The number of threads the system can run at once; at least 1.
unsigned HardwareThreads();

}  // namespace tuk
