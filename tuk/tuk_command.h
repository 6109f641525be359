// The tuk program: listing, verifying, extracting, packing and replacing
// entries, with the conventions of today's command-line archivers.
#pragma once

#include <string>

namespace tuk {

constexpr int kTukDone = 0;
constexpr int kTukUsage = 1;
constexpr int kTukFailed = 2;

int RunTuk(int argc, char** argv);

// One error line of the tuk program, on standard error: "tuk: text".
void PrintError(const std::string& text);

}  // namespace tuk
