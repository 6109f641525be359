// The outcome of every operation of the tuk library: a code to branch on
// and a message to show. Functions that produce a value take it as an
// out-parameter and return a Status; a value is only valid when ok().
#pragma once

#include <string>
#include <utility>

namespace tuk {

enum class Errc {
  kOk = 0,
  kNotFound,     // no such file or entry
  kIo,           // a read, write, sync, close or rename failed
  kDamaged,      // the archive or a payload is not what the format allows
  kUnsafeName,   // an entry name that would reach outside its directory
  kTooLarge,     // past what 32-bit sizes and offsets can address
  kNoMemory,     // a buffer could not be obtained
  kInvalidArgument,
};

class Status {
 public:
  Status() = default;  // success
  Status(Errc code, std::string message) : code_(code), message_(std::move(message)) {}

  bool ok() const { return code_ == Errc::kOk; }
  Errc code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Errc code_ = Errc::kOk;
  std::string message_;
};

}  // namespace tuk
