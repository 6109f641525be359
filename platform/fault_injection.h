// A seam for tests: a FaultPlan makes the k-th file operation of a kind
// fail, so every failure path of the library can be driven without special
// privileges. A plan is handed to the operations it watches (File::Open,
// CreateDir, MoveFileReplace, SyncToDisk, ListDirectory); an operation given
// none never fails on purpose and counts nothing.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

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
  }
  // The number of operations of this kind this plan has seen.
  uint64_t Count(faults::Op op) const { return counts_[Slot(op)].load(); }
  // The n-th operation of this kind (counting from 1) fails; 0 disarms.
  void FailAt(faults::Op op, uint64_t n) { failAt_[Slot(op)].store(n); }
  // Counts one operation and tells whether it is the one to fail.
  bool ShouldFail(faults::Op op) {
    const uint64_t n = counts_[Slot(op)].fetch_add(1) + 1;
    const uint64_t target = failAt_[Slot(op)].load();
    return target != 0 && n == target;
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
};

// Counts an operation against plan, when there is one.
inline bool ShouldFail(FaultPlan* plan, faults::Op op) {
  return plan != nullptr && plan->ShouldFail(op);
}

}  // namespace tuk::platform
