#include "tuk/output_file.h"

#include "archive/common/environment.h"
#include "archive/write/atomic_output.h"
#include "platform/platform.h"

namespace tuk {

struct OutputFile::State {
  explicit State(std::string path) : target(std::move(path), Environment()) {}
  AtomicOutput target;
  platform::File file;
};

OutputFile::OutputFile(std::string path) : state_(std::make_unique<State>(std::move(path))) {}
OutputFile::~OutputFile() = default;

const std::string& OutputFile::name() const { return state_->target.name(); }

Status OutputFile::Open() {
  return state_->file.Open(name().c_str(), platform::File::Mode::Write)
             ? Status()
             : Status(Errc::kIo, "cannot create " + name());
}

Status OutputFile::Write(const void* data, size_t length) {
  return state_->file.Write(data, length) ? Status() : Status(Errc::kIo, "cannot write " + name());
}

Status OutputFile::Commit() {
  if (!state_->file.Close()) return Status(Errc::kIo, "cannot write " + name());
  return state_->target.Commit();
}

}  // namespace tuk
