// A seam for tests: a FaultPlan makes the k-th file operation of a kind
// fail, so every failure path of the library can be driven without special
// privileges. The library reaches files through a Disk (disk.h); a
// FaultyDisk is the real one with a plan watching its operations.
//
// A failure sticks: once the k-th operation of a kind failed on a file, every
// later operation of that kind on the same file fails too, as on a disk
// that cannot take that file. So a failure a worker thread meets ahead of
// its turn is met again when the same file is written in its turn, and the
// outcome does not depend on which thread counted first.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "platform/disk.h"

namespace tuk::platform {

namespace faults {

enum class Op {
  Write,      // File::Write
  Flush,      // File::Flush
  Close,      // File::Close (the flush and close of a written file)
  Rename,     // MoveFileReplace
  CreateDir,  // CreateDir
  OpenWrite,  // File::Open in Mode::Write
  Sync,       // SyncToDisk
  kCount,
};

}  // namespace faults

class FaultPlan {
 public:
  // Clears every counter and plan.
  void Reset() {
    for (auto& count : counts_) count.store(0);
    for (auto& target : failAt_) target.store(0);
    typesHidden_.store(false);
    const std::lock_guard<std::mutex> lock(mutex_);
    failed_.clear();
  }
  // The number of operations of this kind this plan has seen.
  uint64_t Count(faults::Op op) const { return counts_[Slot(op)].load(); }
  // The n-th operation of this kind (counting from 1) fails; 0 disarms.
  void FailAt(faults::Op op, uint64_t n) { failAt_[Slot(op)].store(n); }
  // Counts one operation on the file named by key and tells whether it
  // fails: it is the one planned to, or one of its kind failed on the same
  // file before.
  bool ShouldFail(faults::Op op, const std::string& key) {
    const uint64_t n = counts_[Slot(op)].fetch_add(1) + 1;
    const uint64_t target = failAt_[Slot(op)].load();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (target != 0 && n == target) {
      failed_.emplace(op, key);
      return true;
    }
    return !failed_.empty() && failed_.count({op, key}) != 0;
  }

  // Makes directory listings report every entry's type as unknown, as some
  // filesystems do, so the fallback that finds the type itself is run.
  void HideEntryTypes(bool hidden) { typesHidden_.store(hidden); }
  bool EntryTypesHidden() const { return typesHidden_.load(); }

 private:
  static constexpr size_t kKinds = static_cast<size_t>(faults::Op::kCount);
  static size_t Slot(faults::Op op) { return static_cast<size_t>(op); }

  std::array<std::atomic<uint64_t>, kKinds> counts_{};
  std::array<std::atomic<uint64_t>, kKinds> failAt_{};
  std::atomic<bool> typesHidden_{false};
  std::mutex mutex_;
  std::set<std::pair<faults::Op, std::string>> failed_;
};

// Counts an operation against plan, when there is one.
inline bool ShouldFail(FaultPlan* plan, faults::Op op, const std::string& key) {
  return plan != nullptr && plan->ShouldFail(op, key);
}

// The real disk, with plan watching its operations. Cheap to make: it only
// holds the plan.
class FaultyDisk final : public Disk {
 public:
  explicit FaultyDisk(FaultPlan& plan) : plan_(plan) {}

  bool Open(File& file, const char* path, File::Mode mode) const override;
  bool CreateDir(const char* path) const override;
  bool MoveReplace(const char* from, const char* to) const override;
  bool Sync(const char* path) const override;
  bool List(const char* pattern, std::vector<DirEntry>& entries) const override;
  NewFile WriteNew(const char* path, const void* bytes, size_t size) const override;

 private:
  FaultPlan& plan_;
};

}  // namespace tuk::platform
