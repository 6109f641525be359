#include "archive/messages.h"

#include <cstdarg>
#include <cstring>

namespace tuk {
namespace {

MessageSet selected = MessageSet::Common;
std::FILE* destination = nullptr;  // standard output

bool IsErrorLine(const char* format) {
  while (*format == ' ') ++format;
  return std::strncmp(format, "ERROR!", 6) == 0 ||
         std::strncmp(format, "Error!", 6) == 0;
}

bool Shown(bool unpackOnly, const char* format) {
  switch (selected) {
    case MessageSet::Common:
      return !unpackOnly;
    case MessageSet::WithUnpack:
      return true;
    case MessageSet::ErrorsOnly:
      return IsErrorLine(format);
    case MessageSet::Silent:
      return false;
  }
  return false;
}

void Write(const char* format, va_list args) {
  std::FILE* out = destination != nullptr ? destination : stdout;
  std::vfprintf(out, format, args);
  std::fflush(out);
}

}  // namespace

void SelectMessageSet(MessageSet set) { selected = set; }

void SetMessageStream(std::FILE* stream) { destination = stream; }

void Say(const char* format, ...) {
  if (!Shown(false, format)) return;
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

void Trace(const char* format, ...) {
  if (!Shown(true, format)) return;
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

}  // namespace tuk
