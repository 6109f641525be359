// Writing a file that replaces another only once it is complete: the bytes
// go to path + ".tmp", which is moved over path at Commit. Dropped without
// a successful Commit, the output is removed and whatever lay at path is
// as it was; a program killed at any moment leaves path as it was too, and
// the next writer truncates the temporary file it left.
#pragma once

#include <string>

#include "archive/legacy/context.h"

namespace tuk {

class AtomicOutput {
 public:
  // context's messages report a failed move; its fault plan watches the
  // syncs and the move.
  AtomicOutput(std::string path, const Context& context);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // The name to open and write.
  const std::string& name() const { return name_; }
  // Makes the closed output durable and puts it at path. False when it
  // cannot: before the move, the output is removed and path is as it was;
  // after it (the directory could not be synced), the new file stays.
  bool Commit();

 private:
  std::string path_;
  std::string name_;
  Context context_;
  bool done_ = false;
};

}  // namespace tuk
