// The unpack program's list-file reader: the input is a list file. Its
// lines are first read and trimmed here the way the program reads them,
// checking what trimming keeps; then the real program (tukUnpack's
// RunUnpack with -l) extracts the listed names from a small archive, and
// only the archive's files may appear, only below the target directory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/platform.h"
#include "fuzz/fuzz_support.h"
#include "unpack/unpack_command.h"

namespace {

// The program reads a list line into a buffer of this size.
constexpr int kLineBuffer = 500;

struct Setup {
  std::string root;
  std::string archive;
  std::string list;
  std::string target;
  std::vector<std::string> expected;  // the tree outside the target
  std::set<std::string> names;        // lower-cased entry names
  std::set<std::string> allowed;      // what the target may hold
};

const Setup& TheSetup() {
  static const Setup setup = [] {
    Setup s;
    s.root = tuk::fuzz::ScratchRoot() + "/list";
    s.archive = s.root + "/archive.tuk";
    s.list = s.root + "/files.lst";
    s.target = s.root + "/out";
    TUK_FUZZ_CHECK(mkdir(s.root.c_str(), 0700) == 0);
    TUK_FUZZ_CHECK(mkdir(s.target.c_str(), 0700) == 0);
    const std::vector<tuk::fuzz::Entry> entries = {
        {"a.txt", {'a', 'l', 'p', 'h', 'a'}, 5},
        {"dir/b.txt", {'b'}, 1},
        {"Dir/Sub/c.bin", {0, 1, 2, 255}, 4},
        {"with space.txt", {}, 0},
        {"x", {'x'}, 1},
    };
    const std::vector<uint8_t> bytes = tuk::fuzz::CraftArchive(0, entries);
    tuk::fuzz::WriteWholeFile(s.archive, bytes.data(), bytes.size());
    tuk::fuzz::WriteWholeFile(s.list, nullptr, 0);
    s.expected = tuk::fuzz::ListTree(s.root);
    for (const tuk::fuzz::Entry& entry : entries) {
      std::string lower;
      std::string path;
      for (char c : entry.name) {
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        if (c == '/') s.allowed.insert(path + '/');
        path += c;
      }
      s.names.insert(lower);
      s.allowed.insert(path);
    }
    return s;
  }();
  return setup;
}

bool Blank(char c) { return static_cast<signed char>(c) < 33; }

// Reads the list as the program does and checks each trimmed line; true
// when every line that names something names an entry of the archive.
bool ReadList(const Setup& setup) {
  tuk::platform::File list;
  TUK_FUZZ_CHECK(list.Open(setup.list.c_str(), tuk::platform::File::Mode::ReadText));
  bool allNamed = true;
  char line[kLineBuffer];
  while (list.ReadLine(line, sizeof line)) {
    const std::string before(line);
    TUK_FUZZ_CHECK(before.size() < static_cast<size_t>(kLineBuffer));
    const size_t kept = tuk::TrimListLine(line);
    if (kept == 0) {
      // Nothing, or a single character before blanks.
      for (size_t i = 1; i < before.size(); ++i) TUK_FUZZ_CHECK(Blank(before[i]));
      continue;
    }
    // A leading part of the line, ending in a printable character, with
    // only blanks cut behind it.
    TUK_FUZZ_CHECK(kept >= 2 && kept <= before.size());
    TUK_FUZZ_CHECK(std::strlen(line) == kept);
    TUK_FUZZ_CHECK(before.compare(0, kept, line) == 0);
    TUK_FUZZ_CHECK(!Blank(line[kept - 1]));
    for (size_t i = kept; i < before.size(); ++i) TUK_FUZZ_CHECK(Blank(before[i]));

    std::string lower(line);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    if (setup.names.count(lower) == 0) allNamed = false;
  }
  return allNamed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tuk::fuzz::QuietOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Setup& setup = TheSetup();
  tuk::fuzz::WriteWholeFile(setup.list, data, size);
  const bool allNamed = ReadList(setup);

  std::string program = "tukUnpack";
  std::string archive = setup.archive;
  std::string target = setup.target;
  std::string option = "-l" + setup.list;
  char* argv[] = {program.data(), archive.data(), target.data(), option.data(),
                  nullptr};
  const int exitCode = tuk::RunUnpack(4, argv);
  tuk::fuzz::RestoreStartDirectory();
  std::fflush(stdout);

  TUK_FUZZ_CHECK(exitCode == (allNamed ? tuk::kUnpackDone : tuk::kUnpackFailed));
  const std::vector<std::string> made = tuk::fuzz::ListTree(setup.target);
  tuk::fuzz::ClearDirectory(setup.target);
  for (const std::string& path : made) TUK_FUZZ_CHECK(setup.allowed.count(path) == 1);
  TUK_FUZZ_CHECK(tuk::fuzz::ListTree(setup.root) == setup.expected);
  return 0;
}
