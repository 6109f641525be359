// tuk convert: between a .tuk archive and the formats libarchive reads and
// writes. Built only when libarchive is found (TUK_HAVE_CONVERT).
#pragma once

#include <string>

namespace tuk {

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string prefix;    // into a .tuk: put in front of every name, as PREFIX/name
  int level = 5;         // into a .tuk: 0 stores files as they are, 1-9 compress
  unsigned threads = 1;  // into a .tuk: threads that compress
};

// Converts input into output; one of them must be a .tuk archive (told by
// its extension). Into a .tuk: regular files become entries, in the input's
// order; directories, links and other entries are skipped and counted on one
// line of standard error; leading "./" components are dropped; absolute
// names and names with a ".." component are refused. Out of a .tuk: the
// format comes from the output's extension (.tar, .tar.gz, .tgz, .tar.bz2,
// .tar.xz, .tar.zst, .zip, .7z, .cpio). The output appears at its path only
// once it is complete. Exit 0 when every file went over, 1 usage, 2 when
// anything was left out or nothing could be written.
int RunConvert(const ConvertOptions& options);

// The output extensions RunConvert knows, for usage texts.
const char* ConvertFormats();

}  // namespace tuk
