#include "archive/messages.h"

#include <cstdarg>

namespace tuk {
namespace {

MessageSet selected = MessageSet::Common;
std::FILE* destination = nullptr;  // standard output

void Write(const char* format, va_list args) {
  std::FILE* out = destination != nullptr ? destination : stdout;
  std::vfprintf(out, format, args);
  std::fflush(out);
}

}  // namespace

void SelectMessageSet(MessageSet set) { selected = set; }

void SetMessageStream(std::FILE* stream) { destination = stream; }

void Say(const char* format, ...) {
  if (selected == MessageSet::Silent) return;
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

void Trace(const char* format, ...) {
  if (selected != MessageSet::WithUnpack) return;
  va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

}  // namespace tuk
