// The tukUnpack program's command line.
#pragma once

#include <cstddef>

namespace tuk {

// Exit codes.
constexpr int kUnpackDone = 0;
constexpr int kUnpackUsage = 1;
constexpr int kUnpackFailed = 2;

// Runs the program with its arguments (argv[0] is the program's name).
int RunUnpack(int argc, char** argv);

// Cuts trailing blanks, control characters and bytes 0x80-0xFF from a list
// file line (its first character is always kept). Returns the remaining
// length, or 0 when the line names nothing (it was empty, or only its first
// character would remain).
size_t TrimListLine(char* line);

}  // namespace tuk
