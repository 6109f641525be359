#include "archive/messages.h"

#include <cstdarg>

namespace tuk {
namespace {

MessageSet selected = MessageSet::Common;
std::FILE* destination = nullptr;  // standard output

bool Shown(bool unpackOnly, bool error) {
  switch (selected) {
    case MessageSet::Common:
      return !unpackOnly;
    case MessageSet::WithUnpack:
      return true;
    case MessageSet::ErrorsOnly:
      return error;
    case MessageSet::Silent:
      return false;
  }
  return false;
}

void Write(bool unpackOnly, bool error, const char* format, va_list args) {
  if (!Shown(unpackOnly, error)) return;
  std::FILE* out = destination != nullptr ? destination : stdout;
  std::vfprintf(out, format, args);
  std::fflush(out);
}

}  // namespace

void SelectMessageSet(MessageSet set) { selected = set; }

void SetMessageStream(std::FILE* stream) { destination = stream; }

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(false, false, format, args);
  va_end(args);
}

void Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(true, false, format, args);
  va_end(args);
}

void SayError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(false, true, format, args);
  va_end(args);
}

void TraceError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(true, true, format, args);
  va_end(args);
}

void Notice(const char* format, ...) {
  if (selected == MessageSet::Silent) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

}  // namespace tuk
