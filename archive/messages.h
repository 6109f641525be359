// The one channel through which the library's lines reach the user.
//
// The library carries two sets of lines: those every program prints
// (Say), and the unpack program's extra set (Trace): the archive object's
// construction trace, the index loader's lines, the extraction messages
// and the decoder's fault line. Lines that report a failure go through the
// error form of either (SayError, TraceError), whatever their wording, so
// a program that shows only errors misses none. A program chooses once, at
// start-up, which lines are shown; results and control flow never depend
// on it.
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
// MinGW's C++ runtime formats the C99 way (%zu, %llu), not the MSVCRT way.
#define TUK_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define TUK_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TUK_PRINTF_FORMAT(fmt, args)
#endif

namespace tuk {

enum class MessageSet {
  Common,        // Say only (the pack program, and the default)
  WithUnpack,    // Say and Trace (the unpack program)
  ErrorsOnly,    // the error lines of both sets
  Silent,        // nothing
};

void SelectMessageSet(MessageSet set);
// Where the lines go; standard output unless changed.
void SetMessageStream(std::FILE* stream);

// Each call writes its formatted text and flushes; the format carries its
// own line ends.
void Say(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);
void Trace(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);
void SayError(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);
void TraceError(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);
// A note about the run itself (that it waits for another program), on
// standard error in every set but Silent, so standard output keeps exactly
// the program's own lines.
void Notice(const char* format, ...) TUK_PRINTF_FORMAT(1, 2);

}  // namespace tuk
