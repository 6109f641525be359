// The legacy programs' side of what the library reports: each Report
// becomes the line those programs have always printed for it, through the
// Messages an operation was handed, and progress becomes the texts their
// StatusSink receives (entry names while extracting; the ten slices of a
// packing, "00 %" to "90 %" and "100 %", with the cancellation asked for
// at each).
#pragma once

#include <optional>

#include "archive/common/environment.h"
#include "archive/legacy/context.h"
#include "platform/fault_injection.h"

namespace tuk {

class LegacyObserver : public Observer {
 public:
  // context must outlive this; its messages are read at each report, so a
  // caller may change them meanwhile.
  explicit LegacyObserver(const Context& context) : context_(context) {}

  void OnReport(const Report& report) override;
  void OnProgress(const Progress& progress) override;
  bool ShouldStop() override;

  // What a report of each kind prints; a filter may keep some of them from
  // the lines (they go to the StatusSink instead, unseen).
  using Filter = bool (*)(Event event);
  void set_filter(Filter shown) { shown_ = shown; }

 private:
  const Context& context_;
  Filter shown_ = nullptr;
  bool askCancel_ = false;
};

// The Environment of one legacy operation: the disk (watched by the
// context's fault plan when it has one) and a LegacyObserver. Not copyable:
// the environment points into it.
class LegacyEnvironment {
 public:
  explicit LegacyEnvironment(const Context& context);
  LegacyEnvironment(const LegacyEnvironment&) = delete;
  LegacyEnvironment& operator=(const LegacyEnvironment&) = delete;

  const Environment& env() const { return env_; }
  LegacyObserver& observer() { return observer_; }

 private:
  std::optional<platform::FaultyDisk> faulty_;
  LegacyObserver observer_;
  Environment env_;
};

}  // namespace tuk
