// Writing a file that replaces another only once it is complete: the bytes
// go to path + ".tmp", which is moved over path at Commit. Dropped without
// a successful Commit, the output is removed and whatever lay at path is
// as it was; a program killed at any moment leaves path as it was too, and
// the next writer truncates the temporary file it left.
#pragma once

#include <string>

#include "archive/common/environment.h"
#include "tuk/status.h"

namespace tuk {

class AtomicOutput {
 public:
  // env's disk takes the syncs and the move; a move that fails is reported
  // to its observer (kMoveFailed).
  AtomicOutput(std::string path, const Environment& env);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // The name to open and write.
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }
  // Makes the closed output durable and puts it at path; kIo when it
  // cannot: before the move, the output is removed and path is as it was;
  // after it (the directory could not be synced), the new file stays.
  Status Commit();

 private:
  std::string path_;
  std::string name_;
  Environment env_;
  bool done_ = false;
};

}  // namespace tuk
