// The TukPack program's command line.
#pragma once

#include "archive/legacy/context.h"

namespace tuk {

// Exit codes.
constexpr int kPackDone = 0;
constexpr int kPackUsage = 1;
constexpr int kPackFailed = 2;

// Runs the program with its arguments (argv[0] is the program's name); the
// library's lines go where context says.
int RunPack(int argc, char** argv, const Context& context = Context());

}  // namespace tuk
