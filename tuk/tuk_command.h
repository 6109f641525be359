// The tuk program: listing, verifying, extracting, packing and replacing
// entries, with the conventions of today's command-line archivers.
#pragma once

namespace tuk {

constexpr int kTukDone = 0;
constexpr int kTukUsage = 1;
constexpr int kTukFailed = 2;

int RunTuk(int argc, char** argv);

}  // namespace tuk
