// A file that replaces another only once it is complete, as the library's
// archives do: the bytes go to path + ".tmp", which Commit syncs and moves
// over path (syncing its directory after). Dropped without a successful
// Commit, the temporary file is removed and path is as it was.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tuk/status.h"

namespace tuk {

class OutputFile {
 public:
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  Status Open();
  Status Write(const void* data, size_t length);
  Status Commit();
  // The name being written.
  const std::string& name() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tuk
