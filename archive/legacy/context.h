// What an operation of the library is handed instead of reaching for
// process-wide state: where its lines go, who hears its progress, and (in
// tests) which file operations are to fail. Cheap to copy; the pointers are
// not owned and must outlive the operation.
#pragma once

#include "archive/legacy/messages.h"
#include "archive/legacy/status_sink.h"
#include "platform/fault_injection.h"

namespace tuk {

struct Context {
  Messages messages;
  StatusSink* status = nullptr;           // none: progress is not shown
  platform::FaultPlan* faults = nullptr;  // none: nothing fails on purpose

  void ShowStatus(const char* text) const {
    if (status != nullptr) status->ShowStatus(text);
  }
  bool IsCancelled() const { return status != nullptr && status->IsCancelled(); }
};

}  // namespace tuk
