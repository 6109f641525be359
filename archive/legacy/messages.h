// The one channel through which the library's lines reach the user.
//
// The library carries two sets of lines: those every program prints
// (Say), and the unpack program's extra set (Trace): the archive object's
// index loader's lines, the extraction messages and the decoder's fault
// line. Lines that report a failure go through the error form of either
// (SayError, TraceError), whatever their wording, so a program that shows
// only errors misses none. A program chooses, in the Messages it hands to
// an operation, which lines are shown and where; results and control flow
// never depend on it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "archive/common/printf_format.h"

namespace tuk {

enum class MessageSet {
  Common,        // Say only (the pack program, and the default)
  WithUnpack,    // Say and Trace (the unpack program)
  ErrorsOnly,    // the error lines of both sets
  Silent,        // nothing
};

class Messages {
 public:
  // The common set, to standard output.
  Messages() = default;
  // Lines go to stream, or to standard output when it is null.
  explicit Messages(MessageSet set, std::FILE* stream = nullptr)
      : set_(set), stream_(stream) {}

  MessageSet set() const { return set_; }

  // Each call writes its formatted text and flushes; the format carries
  // its own line ends.
  void Say(const char* format, ...) const TUK_PRINTF_FORMAT(2, 3);
  void Trace(const char* format, ...) const TUK_PRINTF_FORMAT(2, 3);
  void SayError(const char* format, ...) const TUK_PRINTF_FORMAT(2, 3);
  void TraceError(const char* format, ...) const TUK_PRINTF_FORMAT(2, 3);
  // A note about the run itself (that it waits for another program), on
  // standard error in every set but Silent, so the lines' stream keeps
  // exactly the program's own lines.
  void Notice(const char* format, ...) const TUK_PRINTF_FORMAT(2, 3);

 private:
  bool Shown(bool unpackOnly, bool error) const;
  void Write(bool unpackOnly, bool error, const char* format,
             std::va_list args) const;

  MessageSet set_ = MessageSet::Common;
  std::FILE* stream_ = nullptr;
};

}  // namespace tuk
