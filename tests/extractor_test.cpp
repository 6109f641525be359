// Extraction with files written on worker threads must print, return and
// leave on disk exactly what extraction on one thread does, whatever the
// archive and whatever already lies in the directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "archive/format/layout.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/report_lines.h"
#include "archive/extract/extractor.h"
#include "archive/read/reader_access.h"
#include "codec/encoder.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

namespace fs = std::filesystem;

struct Result {
  bool ok = false;
  std::string text;
  std::vector<std::string> listing;  // every directory and file, with contents
};

std::vector<std::string> Listing(const std::string& root) {
  std::vector<std::string> listing;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(item.path(), root).generic_string();
    if (item.is_directory()) {
      listing.push_back("dir " + name);
    } else {
      const test::Bytes bytes = test::ReadFile(item.path().string());
      listing.push_back("file " + name + " " + std::string(bytes.begin(), bytes.end()));
    }
  }
  std::sort(listing.begin(), listing.end());
  return listing;
}

struct Case {
  const char* what;
  std::vector<test::CraftedEntry> entries;
  std::function<void(const std::string& out)> before = nullptr;  // what the directory holds first
};

test::CraftedEntry Entry(const std::string& name, size_t size = 0) {
  const std::string text = name + std::string(size, '.');
  return test::StoredEntry(name, test::BytesOf(text));
}

// Enough entries to fill the queue several times over.
std::vector<test::CraftedEntry> Many(const std::string& directory, int count) {
  std::vector<test::CraftedEntry> entries;
  for (int i = 0; i < count; ++i) {
    entries.push_back(Entry(directory + "/sub" + std::to_string(i % 7) + "/f" +
                            std::to_string(i)));
  }
  return entries;
}

std::vector<test::CraftedEntry> Joined(std::vector<std::vector<test::CraftedEntry>> parts) {
  std::vector<test::CraftedEntry> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Result ExtractWith(const std::string& archivePath, const std::string& out, const Case& c,
           bool stopAtFailure, unsigned workers) {
  fs::remove_all(out);
  fs::create_directories(out);
  if (c.before) c.before(out);
  test::MessageCapture capture;
  const Context context = capture.context(MessageSet::WithUnpack);
  const LegacyEnvironment environment(context);
  ArchiveReader reader;
  reader.Open(archivePath);
  Result result;
  {
    ExtractSettings settings;
    settings.root = out;
    settings.stopAtFailure = stopAtFailure;
    settings.workers = workers;
    Extractor run(SourceOf(reader), settings, environment.env());
    result.ok = true;
    for (const tuk::Entry& entry : reader.index().entries()) {
      if (!run.Extract(entry)) {
        result.ok = false;
        if (stopAtFailure) break;
      }
    }
    result.ok = run.Finish() && result.ok;
  }
  result.text = capture.Text();
  result.listing = Listing(out);
  return result;
}

TEST(Extractor, WorkersLeaveWhatOneThreadLeaves) {
  test::ScratchDir dir;
  auto cut = Entry("m/cut", 20);
  cut.overrideStored = true;  // the payload cannot hold the entry's bytes
  cut.storedSize = cut.size - 1;
  const Case cases[] = {
      {"a fresh tree, with files large enough to be streamed in between",
       Joined({Many("a", 40), {Entry("big/one", 300000)}, Many("b", 40),
               {Entry("big/two", 270000)}})},
      {"the later of two equal names wins, also when they differ in case",
       Joined({{Entry("d/same", 3)}, Many("d", 30),
               {Entry("d/same", 9), Entry("D/SAME", 5), Entry("d/same", 1), Entry("d/Same", 7),
                Entry("d/same", 2), Entry("d/SAME", 4)}})},
      {"files already there are replaced", Many("e", 40),
       [](const std::string& out) {
         test::MakeDirs(out + "/e/sub3");
         test::WriteFile(out + "/e/sub3/f10", "old");
         test::WriteFile(out + "/e/sub3/f17", "old and longer than the entry");
       }},
      {"a directory where a file goes stops the run there", Many("g", 40),
       [](const std::string& out) { test::MakeDirs(out + "/g/sub5/f33"); }},
      {"a file where a later entry needs a directory",
       Joined({Many("h", 20), {Entry("h/x")}, Many("i", 5), {Entry("h/x/y")}, Many("j", 30)})},
      {"an entry that cannot be read", Joined({Many("k", 25), {cut}, Many("l", 25)})},
      {"an unsafe name", Joined({Many("n", 25), {Entry("../escape")}, Many("o", 25)})},
  };
  int number = 0;
  for (const Case& c : cases) {
    for (const uint32_t mode : {kModeStored, kModeSegmented}) {
      // In mode 1 the reading thread decodes each entry before handing it on.
      std::vector<test::CraftedEntry> entries = c.entries;
      if (mode == kModeSegmented) {
        for (test::CraftedEntry& entry : entries) {
          entry.payload = EncodePayload(entry.payload.data(), entry.payload.size(), 1);
          if (entry.overrideStored) entry.storedSize = static_cast<uint32_t>(entry.payload.size() - 1);
        }
      }
      const std::string archivePath = dir / ("a" + std::to_string(number++) + ".tuk");
      test::WriteFile(archivePath, test::CraftArchive(mode, entries));
      for (const bool stop : {true, false}) {
        const std::string what = std::string(c.what) + (stop ? ", stopping" : "") +
                                 (mode == kModeSegmented ? ", mode 1" : "");
        const Result expected = ExtractWith(archivePath, dir / "out", c, stop, 0);
        for (int attempt = 0; attempt < 3; ++attempt) {
          const Result got = ExtractWith(archivePath, dir / "out", c, stop, 2);
          EXPECT_EQ(got.ok, expected.ok) << what;
          EXPECT_EQ(got.text, expected.text) << what;
          EXPECT_EQ(got.listing, expected.listing) << what;
        }
      }
    }
  }
}

// A worker creates a file only where nothing stands: whatever is there
// (a file, a directory, a link, even one leading nowhere) is left as it is
// for the reading thread to deal with in its turn.
TEST(Extractor, WorkersNeverWriteOverAnything) {
  test::ScratchDir dir;
  test::WriteFile(dir / "file", "old");
  test::MakeDirs(dir / "directory");
  fs::create_symlink(dir / "target", dir / "link");
  const test::Bytes bytes = test::BytesOf("new");
  const struct {
    const char* name;
    platform::NewFile expected;
  } cases[] = {{"fresh", platform::NewFile::Written},
               {"file", platform::NewFile::Exists},
               {"directory", platform::NewFile::Exists},
               {"link", platform::NewFile::Exists},
               {"missing/fresh", platform::NewFile::Failed}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform::WriteNewFile((dir / c.name).c_str(), bytes.data(), bytes.size()),
              c.expected)
        << c.name;
  }
  EXPECT_EQ(test::ReadFile(dir / "fresh"), bytes);
  EXPECT_EQ(test::ReadFile(dir / "file"), test::BytesOf("old"));
  EXPECT_FALSE(fs::exists(dir / "target"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
}  // namespace tuk
