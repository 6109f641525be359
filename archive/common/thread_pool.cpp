#include "archive/common/thread_pool.h"

namespace tuk {

ThreadPool::ThreadPool(unsigned threads) {
  threads_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) {
    threads_.emplace_back([this, i] { Work(i); });
  }
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ThreadPool::Submit(std::function<void(unsigned)> job) {
  if (threads_.empty()) {
    job(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
}

bool ThreadPool::RunOne(unsigned worker) {
  std::function<void(unsigned)> job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return false;
    job = std::move(queue_.front());
    queue_.pop_front();
  }
  job(worker);
  return true;
}

void ThreadPool::Work(unsigned worker) {
  for (;;) {
    std::function<void(unsigned)> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to do
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job(worker);
  }
}

unsigned HardwareThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

}  // namespace tuk
