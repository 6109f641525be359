#include "platform/fault_injection.h"

#include <array>
#include <cstddef>

namespace tuk::platform::faults {
namespace {

constexpr size_t kKinds = static_cast<size_t>(Op::kCount);
std::array<uint64_t, kKinds> counts{};
std::array<uint64_t, kKinds> failAt{};
bool typesHidden = false;

}  // namespace

void Reset() {
  counts.fill(0);
  failAt.fill(0);
  typesHidden = false;
}

uint64_t Count(Op op) { return counts[static_cast<size_t>(op)]; }

void FailAt(Op op, uint64_t n) { failAt[static_cast<size_t>(op)] = n; }

bool ShouldFail(Op op) {
  const size_t i = static_cast<size_t>(op);
  ++counts[i];
  return failAt[i] != 0 && counts[i] == failAt[i];
}

void HideEntryTypes(bool hidden) { typesHidden = hidden; }

bool EntryTypesHidden() { return typesHidden; }

}  // namespace tuk::platform::faults
