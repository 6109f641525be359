#include "archive/legacy/messages.h"

namespace tuk {

bool Messages::Shown(bool unpackOnly, bool error) const {
  switch (set_) {
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

void Messages::Write(bool unpackOnly, bool error, const char* format,
                     std::va_list args) const {
  if (!Shown(unpackOnly, error)) return;
  std::FILE* out = stream_ != nullptr ? stream_ : stdout;
  std::vfprintf(out, format, args);
  std::fflush(out);
}

#define TUK_FORWARD(unpackOnly, error) \
  std::va_list args;                   \
  va_start(args, format);              \
  Write(unpackOnly, error, format, args); \
  va_end(args)

void Messages::Say(const char* format, ...) const { TUK_FORWARD(false, false); }
void Messages::Trace(const char* format, ...) const { TUK_FORWARD(true, false); }
void Messages::SayError(const char* format, ...) const { TUK_FORWARD(false, true); }
void Messages::TraceError(const char* format, ...) const { TUK_FORWARD(true, true); }

#undef TUK_FORWARD

void Messages::Notice(const char* format, ...) const {
  if (set_ == MessageSet::Silent) return;
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

}  // namespace tuk
