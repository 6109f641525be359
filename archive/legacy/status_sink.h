// The receiver of the library's progress and status texts. The legacy
// programs never show them; a front end may hand in a receiver of its own.
#pragma once

namespace tuk {

class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void ShowStatus(const char* /*text*/) {}
  // Asked between slices of a long operation; true stops it early.
  virtual bool IsCancelled() { return false; }
};

}  // namespace tuk
