// Packing directory trees into archives, new and updated, through the
// library and through both programs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/format/layout.h"
#include "archive/legacy/messages.h"
#include "archive/legacy/pack.h"
#include "archive/legacy/status_sink.h"
#include "archive/legacy/tuk_file.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace tuk {
namespace {

namespace fs = std::filesystem;
namespace faults = platform::faults;
using test::Bytes;

using test::PackRun;

PackRun Pack(const std::string& source, const std::string& prefix,
             const std::string& archivePath, int32_t update = 0,
             platform::FaultPlan* faults = nullptr, StatusSink* status = nullptr) {
  return test::PackTree(source, prefix, archivePath, update, faults, status);
}

struct Record {
  std::string name;
  uint32_t storedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
};

// The index of a finished archive, checking the layout around it: the
// reserved bytes of every record, the trailer and the file's length.
std::vector<Record> IndexOf(const Bytes& archive) {
  std::vector<Record> records;
  if (archive.size() < kHeaderSize + 8) {
    ADD_FAILURE() << "archive of " << archive.size() << " bytes";
    return records;
  }
  size_t at = test::GetU32(archive, 0);
  const uint32_t count = test::GetU32(archive, at);
  at += 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 4 > archive.size()) break;
    Record record;
    const uint32_t length = test::GetU32(archive, at);
    at += 4;
    if (at + length + 24 > archive.size()) break;
    record.name.assign(archive.begin() + at, archive.begin() + at + length);
    at += length;
    record.storedSize = test::GetU32(archive, at);
    record.size = test::GetU32(archive, at + 4);
    record.offset = test::GetU32(archive, at + 8);
    const Bytes reserved(archive.begin() + at + 12, archive.begin() + at + 24);
    EXPECT_EQ(reserved, (Bytes{0xE0, 0x21, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    at += 24;
    records.push_back(record);
  }
  EXPECT_EQ(records.size(), count);
  EXPECT_EQ(at + 4, archive.size());
  if (at + 4 <= archive.size()) {
    EXPECT_EQ(test::GetU32(archive, at), 0u);
  }
  return records;
}

std::vector<std::string> NamesOf(const std::vector<Record>& records) {
  std::vector<std::string> names;
  for (const Record& record : records) names.push_back(record.name);
  return names;
}

Bytes PayloadOf(const Bytes& archive, const Record& record) {
  return Bytes(archive.begin() + record.offset,
               archive.begin() + record.offset + record.storedSize);
}

TEST(Pack, WorkedExampleByteForByte) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a.txt", "abc");
  test::WriteFile(dir / "src/gfx/b.dds", Bytes{});
  const PackRun run = Pack(dir / "src", "menu", dir / "menu.tuk");
  EXPECT_EQ(run.result, 2u);
  EXPECT_EQ(run.outcome, PackOutcome::Complete);
  EXPECT_EQ(run.text, "TotalFiles: 2\n  Uncompressed .tuk size (mb): 0\n"
                      "tmpDestDirLoc: " + dir.path() + "\n");

  const Bytes archive = test::ReadFile(dir / "menu.tuk");
  ASSERT_EQ(archive.size(), 247u);
  EXPECT_EQ(test::GetU32(archive, 0), 159u);
  EXPECT_EQ(test::GetU32(archive, 4), 0u);
  EXPECT_EQ(Bytes(archive.begin() + 156, archive.begin() + 159), test::BytesOf("abc"));
  Bytes index;
  test::PutU32(index, 2);
  auto record = [&index](const std::string& name, uint32_t stored, uint32_t size,
                         uint32_t offset) {
    test::PutU32(index, static_cast<uint32_t>(name.size()));
    index.insert(index.end(), name.begin(), name.end());
    test::PutU32(index, stored);
    test::PutU32(index, size);
    test::PutU32(index, offset);
    test::PutU32(index, 1253856);
    test::PutU32(index, 0);
    test::PutU32(index, 0);
  };
  record("menu/a.txt", 3, 3, 156);
  record("menu/gfx/b.dds", 0, 0, 159);
  test::PutU32(index, 0);
  EXPECT_EQ(Bytes(archive.begin() + 159, archive.end()), index);

  // The same tree packs to the same bytes every time.
  Pack(dir / "src", "menu", dir / "again.tuk");
  EXPECT_EQ(test::ReadFile(dir / "again.tuk"), archive);
}

TEST(Pack, SourceAndPrefixSpellingsGiveTheSameArchive) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a.txt", "abc");
  test::WriteFile(dir / "src/sub/deeper/c.bin", test::RandomBytes(300, 1));
  Pack(dir / "src", "menu", dir / "plain.tuk");
  const Bytes plain = test::ReadFile(dir / "plain.tuk");
  EXPECT_EQ(NamesOf(IndexOf(plain)),
            (std::vector<std::string>{"menu/a.txt", "menu/sub/deeper/c.bin"}));

  int n = 0;
  for (const auto& [source, prefix] :
       std::vector<std::pair<std::string, std::string>>{
           {dir / "src/", "menu"},
           {dir / "src\\", "menu/"},
           {dir.path() + "\\src", "menu\\"},
           {dir / "src//", "menu"}}) {
    const std::string out = dir / ("v" + std::to_string(++n) + ".tuk");
    const PackRun run = Pack(source, prefix, out);
    EXPECT_EQ(run.outcome, PackOutcome::Complete) << source;
    EXPECT_EQ(test::ReadFile(out), plain) << source << " " << prefix;
  }

  // No PackDirName, no prefix: the names are the paths below the source.
  Pack(dir / "src", "", dir / "bare.tuk");
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "bare.tuk"))),
            (std::vector<std::string>{"a.txt", "sub/deeper/c.bin"}));

  // A relative source directory, and the current directory itself.
  ASSERT_TRUE(platform::SetCurrentDir(dir.path().c_str()));
  Pack("src", "m", "rel.tuk");
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "rel.tuk"))),
            (std::vector<std::string>{"m/a.txt", "m/sub/deeper/c.bin"}));
  ASSERT_TRUE(platform::SetCurrentDir((dir / "src").c_str()));
  Pack(".", "m", "../dot.tuk");
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "dot.tuk"))),
            (std::vector<std::string>{"m/a.txt", "m/sub/deeper/c.bin"}));
}

TEST(Pack, ScanOrderFilesFirstThenSubdirectoriesSortedWithoutCase) {
  test::ScratchDir dir;
  const std::string src = dir / "src";
  for (const char* file :
       {"B.txt", "a.txt", "_u.txt", "..x", ".hidden", "sub/z.txt", "sub/c.txt",
        "sub/deep/d.txt", "Zed/1", "abc/2", ".old/3", "..y/kept", "...z/kept"}) {
    test::WriteFile(src + "/" + file, std::string(file));
  }
  test::MakeDirs(src + "/empty/emptier");
  // Links into directories are not walked; a link to a file is that file.
  fs::create_directory_symlink(src, src + "/loop");
  fs::create_symlink(src + "/a.txt", src + "/link.txt");

  // Some filesystems list no entry types; links must be told apart all
  // the same.
  for (bool typesHidden : {false, true}) {
    platform::FaultPlan plan;
    plan.HideEntryTypes(typesHidden);
    const PackRun run = Pack(src, "p", dir / "order.tuk", 0, &plan);
    EXPECT_EQ(run.outcome, PackOutcome::Complete) << typesHidden;
    EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "order.tuk"))),
              (std::vector<std::string>{
                  // Files of the top directory: '.' < letters < '_' once a-z
                  // are folded to A-Z.
                  "p/..x", "p/.hidden", "p/a.txt", "p/B.txt", "p/link.txt",
                  "p/_u.txt",
                  // Then each subdirectory's whole subtree, in the same
                  // order; only "." and ".." themselves are not entered.
                  "p/...z/kept", "p/..y/kept", "p/.old/3", "p/abc/2", "p/sub/c.txt",
                  "p/sub/z.txt", "p/sub/deep/d.txt", "p/Zed/1"}))
        << typesHidden;
    EXPECT_NE(run.text.find("TotalFiles: 14\n"), std::string::npos) << run.text;
  }

  // A tree of empty directories gathers nothing and writes nothing.
  const PackRun empty = Pack(src + "/empty", "p", dir / "empty.tuk");
  EXPECT_EQ(empty.outcome, PackOutcome::Failed);
  EXPECT_EQ(empty.result, 0u);  // nothing written: never taken for one entry
  EXPECT_NE(empty.text.find("TotalFiles: 0\n"), std::string::npos);
  EXPECT_FALSE(test::FileExists(dir / "empty.tuk"));
  // As does a source that does not exist.
  EXPECT_EQ(Pack(dir / "missing", "p", dir / "missing.tuk").outcome,
            PackOutcome::Failed);
  EXPECT_FALSE(test::FileExists(dir / "missing.tuk"));
}

// Every archive is written to <archive>.tmp and moved into place, so a run
// killed at any moment never leaves a half-written file at the path.
TEST(Pack, EveryArchiveIsMovedIntoPlaceWhole) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a.txt", "abc");
  const std::string archive = dir / "a.tuk";
  const struct {
    const char* what;
    const char* before;  // null: nothing at the path
    int32_t update;
  } cases[] = {{"new", nullptr, 0}, {"over a file", "something else", 0},
               {"update of a missing archive", nullptr, 1}};
  Bytes fresh;
  for (const auto& c : cases) {
    fs::remove(archive);
    if (c.before != nullptr) test::WriteFile(archive, c.before);
    test::WriteFile(archive + ".tmp", "left by a killed run");
    platform::FaultPlan plan;
    const PackRun run = Pack(dir / "src", "m", archive, c.update, &plan);
    EXPECT_EQ(plan.Count(faults::Op::Rename), 1u) << c.what;
    EXPECT_EQ(run.outcome, PackOutcome::Complete) << c.what;
    if (fresh.empty()) fresh = test::ReadFile(archive);
    EXPECT_EQ(test::ReadFile(archive), fresh) << c.what;
    EXPECT_FALSE(test::FileExists(archive + ".tmp")) << c.what;
  }
}

TEST(Pack, UpdateReplacesByNameAndKeepsOldPayloads) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  test::WriteFile(archive,
                  test::CraftArchive(0, {test::StoredEntry("menu/a.txt", test::BytesOf("old a")),
                                         test::StoredEntry("menu/b.txt", test::BytesOf("old bee")),
                                         test::StoredEntry("menu/e.dat", {}),
                                         test::StoredEntry("menu/gfx/c.dds", test::BytesOf("cc"))}));
  test::WriteFile(dir / "src/A.TXT", "new A!");
  test::WriteFile(dir / "src/gfx/d.dds", "dd");

  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Complete);
  EXPECT_EQ(run.result, 5u);
  EXPECT_FALSE(test::FileExists(archive + ".tmp"));

  const Bytes updated = test::ReadFile(archive);
  EXPECT_EQ(test::GetU32(updated, 4), 0u);
  const std::vector<Record> records = IndexOf(updated);
  ASSERT_EQ(NamesOf(records),
            (std::vector<std::string>{"menu/A.TXT", "menu/gfx/d.dds", "menu/b.txt",
                                      "menu/e.dat", "menu/gfx/c.dds"}));
  // New payloads in scan order, then the kept ones in old index order.
  const uint32_t offsets[] = {156, 162, 164, 171, 171};
  const char* contents[] = {"new A!", "dd", "old bee", "", "cc"};
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].offset, offsets[i]) << records[i].name;
    EXPECT_EQ(PayloadOf(updated, records[i]), test::BytesOf(contents[i]))
        << records[i].name;
    EXPECT_EQ(records[i].size, records[i].storedSize);
  }
  EXPECT_EQ(test::GetU32(updated, 0), 173u);
}

TEST(Pack, UpdateCarriesOverOnlyWhatFits) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  const std::string tooLong = "menu/" + std::string(260, 'n');
  const Bytes old = test::CraftArchive(
      0, {test::StoredEntry("menu/keep.txt", test::BytesOf("keep")),
          test::StoredEntry("x", test::BytesOf("short name")),
          test::StoredEntry(tooLong, test::BytesOf("long name")),
          test::StoredEntry("menu/" + std::string(259, 'f'), test::BytesOf("fits"))});
  test::WriteFile(archive, old);
  test::WriteFile(dir / "src/new.txt", "new");

  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Incomplete);
  EXPECT_NE(run.text.find("ERROR! Could not carry over: x\n"), std::string::npos)
      << run.text;
  EXPECT_NE(run.text.find("ERROR! Could not carry over: " + tooLong + "\n"),
            std::string::npos);
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(archive))),
            (std::vector<std::string>{"menu/new.txt", "menu/keep.txt",
                                      "menu/" + std::string(259, 'f')}));
}

// A name that is longer than any path can be does not fit an entry name
// either: the entry is left behind like any other that does not fit, and
// the rest of the archive is carried over.
TEST(Pack, UpdateSkipsAnOldNameLongerThanAPath) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  const std::string huge = "menu/" + std::string(600, 'h');
  test::WriteFile(archive,
                  test::CraftArchive(0, {test::StoredEntry(huge, test::BytesOf("huge")),
                                         test::StoredEntry("menu/keep.txt",
                                                           test::BytesOf("keep"))}));
  test::WriteFile(dir / "src/new.txt", "new");
  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Incomplete) << run.text;
  EXPECT_NE(run.text.find("ERROR! Could not carry over: "), std::string::npos);
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(archive))),
            (std::vector<std::string>{"menu/new.txt", "menu/keep.txt"}));
}

// Two old entries of one name, neither packed again: both stay.
TEST(Pack, UpdateKeepsEveryOldEntryOfARepeatedName) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  test::WriteFile(archive,
                  test::CraftArchive(0, {test::StoredEntry("menu/twice.txt", test::BytesOf("one")),
                                         test::StoredEntry("menu/twice.txt", test::BytesOf("two"))}));
  test::WriteFile(dir / "src/new.txt", "new");
  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Complete);
  const Bytes updated = test::ReadFile(archive);
  const std::vector<Record> records = IndexOf(updated);
  ASSERT_EQ(NamesOf(records), (std::vector<std::string>{"menu/new.txt", "menu/twice.txt",
                                                        "menu/twice.txt"}));
  EXPECT_EQ(PayloadOf(updated, records[1]), test::BytesOf("one"));
  EXPECT_EQ(PayloadOf(updated, records[2]), test::BytesOf("two"));
}

TEST(Pack, UpdateWithAnotherPrefixRenamesKeptEntries) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  test::WriteFile(archive, test::CraftArchive(
                               0, {test::StoredEntry("menu/old.txt", test::BytesOf("o"))}));
  test::WriteFile(dir / "src/new.txt", "n");
  EXPECT_EQ(Pack(dir / "src", "ui", archive, 1).outcome, PackOutcome::Complete);
  // "menu/" loses three characters to "ui/"'s length, then gains "ui/".
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(archive))),
            (std::vector<std::string>{"ui/new.txt", "ui/u/old.txt"}));
}

TEST(PackEndToEnd, UpdateOfASegmentedArchiveStaysSegmented) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  const Bytes keptPayload =
      test::SegmentedPayload({{0x14, 'x', 'y', 'z', 0x11, 0x00, 0x00}}, {3});
  test::CraftedEntry kept;
  kept.name = "menu/keep.bin";
  kept.payload = keptPayload;
  kept.size = 3;
  test::CraftedEntry replaced;
  replaced.name = "menu/new.txt";
  replaced.payload = test::SegmentedPayload({{0x12, 'o', 0x11, 0x00, 0x00}}, {1});
  replaced.size = 1;
  test::WriteFile(archive, test::CraftArchive(1, {replaced, kept}));

  const Bytes big = test::RandomBytes(70000, 9);
  test::WriteFile(dir / "src/new.txt", "new!");
  test::WriteFile(dir / "src/big.bin", big);
  test::WriteFile(dir / "src/empty", Bytes{});
  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  ASSERT_EQ(run.outcome, PackOutcome::Complete) << run.text;

  const Bytes updated = test::ReadFile(archive);
  EXPECT_EQ(test::GetU32(updated, 4), 1u);
  const std::vector<Record> records = IndexOf(updated);
  ASSERT_EQ(NamesOf(records), (std::vector<std::string>{"menu/big.bin", "menu/empty",
                                                        "menu/new.txt", "menu/keep.bin"}));
  EXPECT_EQ(records[0].size, 70000u);
  // Two full segments, then 4464 bytes behind a 19-byte count (0, 17
  // zeros, 111).
  EXPECT_EQ(records[0].storedSize, 4u + 36 + 2 * 32901 + (19 + 4464 + 3));
  EXPECT_EQ(PayloadOf(updated, records[1]),
            (Bytes{1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x11, 0, 0}));
  EXPECT_EQ(PayloadOf(updated, records[2]),
            (Bytes{1, 0, 0, 0, 8, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0x15, 'n', 'e',
                   'w', '!', 0x11, 0, 0}));
  EXPECT_EQ(PayloadOf(updated, records[3]), keptPayload);

  // The unpack program reads the result back.
  test::MakeDirs(dir / "out");
  const test::RunResult unpack =
      test::Run(test::UnpackExe(), {archive, dir / "out"}, dir.path());
  EXPECT_EQ(unpack.exitCode, 0) << unpack.output;
  EXPECT_EQ(test::TreeContents(dir / "out"),
            (std::vector<std::pair<std::string, Bytes>>{
                {"menu/big.bin", big},
                {"menu/empty", {}},
                {"menu/keep.bin", test::BytesOf("xyz")},
                {"menu/new.txt", test::BytesOf("new!")}}));
}

TEST(Pack, UpdateRefusesAnUnknownMode) {
  test::ScratchDir dir;
  const std::string archive = dir / "menu.tuk";
  const Bytes old = test::CraftArchive(2, {test::StoredEntry("menu/a", test::BytesOf("a"))});
  test::WriteFile(archive, old);
  test::WriteFile(dir / "src/b", "b");
  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Failed);
  EXPECT_NE(run.text.find("ERROR! Unknown .tuk mode: 2\n"), std::string::npos) << run.text;
  EXPECT_EQ(test::ReadFile(archive), old);
  EXPECT_FALSE(test::FileExists(archive + ".tmp"));
}

TEST(Pack, SkippedInputsAreReportedAndNothingIsLeftWhenAllAreSkipped) {
  test::ScratchDir dir;
  // A prefix this long leaves no room for the names below it.
  const std::string prefix(250, 'p');
  test::WriteFile(dir / "src/short", "s");
  test::WriteFile(dir / "src/long-name.txt", "l");

  PackRun run = Pack(dir / "src", prefix, dir / "some.tuk");
  EXPECT_EQ(run.outcome, PackOutcome::Incomplete);
  EXPECT_EQ(run.result, 1u);
  EXPECT_NE(run.text.find("ERROR! Name too long: " + dir.path() + "/src/long-name.txt\n"),
            std::string::npos)
      << run.text;
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "some.tuk"))),
            (std::vector<std::string>{prefix + "/short"}));

  // Every input skipped: no archive, and whatever lay at the path stays.
  fs::remove(dir / "src/short");
  run = Pack(dir / "src", prefix, dir / "none.tuk");
  EXPECT_EQ(run.outcome, PackOutcome::Failed);
  EXPECT_FALSE(test::FileExists(dir / "none.tuk"));
  test::WriteFile(dir / "kept.tuk", "not touched");
  run = Pack(dir / "src", prefix, dir / "kept.tuk");
  EXPECT_EQ(run.outcome, PackOutcome::Failed);
  EXPECT_EQ(test::ReadFile(dir / "kept.tuk"), test::BytesOf("not touched"));
  EXPECT_FALSE(test::FileExists(dir / "kept.tuk.tmp"));
}

// A link to nothing and a pipe hold no bytes to pack: each is named and
// counted as left out, and the pipe is never opened (which would block).
TEST(Pack, LinksToNothingAndPipesAreReportedNotDropped) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/real.txt", "r");
  fs::create_symlink(dir / "src/gone", dir / "src/dangling");
  ASSERT_EQ(mkfifo((dir / "src/pipe").c_str(), 0600), 0);
  for (bool typesHidden : {false, true}) {
    platform::FaultPlan plan;
    plan.HideEntryTypes(typesHidden);
    const PackRun run = Pack(dir / "src", "p", dir / "a.tuk", 0, &plan);
    EXPECT_EQ(run.outcome, PackOutcome::Incomplete);
    for (const char* name : {"dangling", "pipe"}) {
      EXPECT_NE(run.text.find("ERROR! inputFile: " + dir.path() + "/src/" + name + "\n"),
                std::string::npos)
          << run.text;
    }
    EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "a.tuk"))),
              (std::vector<std::string>{"p/real.txt"}));
  }
}

// A gathered file that is gone by the time it is read is left out and
// counted, and packing goes on.
TEST(Pack, AddFileSkipsWhatItCannotRead) {
  test::ScratchDir dir;
  test::MessageCapture capture;
  TukFile archive(capture.context());
  archive.basePathLength = static_cast<uint32_t>(dir.path().size() + 1);
  ASSERT_TRUE(archive.tukFileStream.Open((dir / "x.tuk").c_str(), platform::File::Mode::Write));
  const std::string missing = dir / "vanished.txt";
  EXPECT_TRUE(archive.AddFile(missing.c_str()).ok());  // left out, not a failure
  EXPECT_EQ(capture.Text(), "ERROR! inputFile: " + missing + "\n");
  EXPECT_EQ(archive.skippedInputs, 1u);
  EXPECT_EQ(archive.entries.size(), 0u);

  test::WriteFile(dir / "here.txt", "here");
  EXPECT_TRUE(archive.AddFile((dir / "here.txt").c_str()).ok());
  ASSERT_EQ(archive.entries.size(), 1u);
  EXPECT_EQ(archive.entries[0].name, "here.txt");
  EXPECT_EQ(archive.skippedInputs, 1u);
}

// Records the status texts; asks to stop once it has seen stopAfter.
class RecordingSink : public StatusSink {
 public:
  void ShowStatus(const char* text) override { texts.emplace_back(text); }
  bool IsCancelled() override {
    return !stopAfter.empty() && !texts.empty() && texts.back() == stopAfter;
  }
  std::vector<std::string> texts;
  std::string stopAfter;
};

TEST(Pack, ProgressComesInTenSlices) {
  test::ScratchDir dir;
  for (int i = 0; i < 25; ++i) {
    test::WriteFile(dir / ("src/f" + std::to_string(100 + i)), std::to_string(i));
  }
  RecordingSink sink;
  const PackRun run = Pack(dir / "src", "m", dir / "m.tuk", 0, nullptr, &sink);
  EXPECT_EQ(run.result, 25u);
  EXPECT_EQ(sink.texts,
            (std::vector<std::string>{"Packing...", "00 %", "10 %", "20 %", "30 %", "40 %",
                                      "50 %", "60 %", "70 %", "80 %", "90 %", "100 %",
                                      "Writing Index...", "Files packed: 25"}));

  // Stopping at a slice finishes the archive with the files added so far:
  // two per slice.
  RecordingSink stopping;
  stopping.stopAfter = "30 %";
  const PackRun stopped = Pack(dir / "src", "m", dir / "stopped.tuk", 0, nullptr, &stopping);
  EXPECT_EQ(stopped.result, 6u);
  EXPECT_EQ(NamesOf(IndexOf(test::ReadFile(dir / "stopped.tuk"))),
            (std::vector<std::string>{"m/f100", "m/f101", "m/f102", "m/f103", "m/f104",
                                      "m/f105"}));

  // Fewer than ten files: no percentages before the last.
  for (int i = 7; i < 25; ++i) fs::remove(dir / ("src/f" + std::to_string(100 + i)));
  RecordingSink few;
  Pack(dir / "src", "m", dir / "few.tuk", 0, nullptr, &few);
  EXPECT_EQ(few.texts, (std::vector<std::string>{"Packing...", "100 %", "Writing Index...",
                                                 "Files packed: 7"}));
}

TEST(Pack, OverlongPathsAreRefused) {
  test::ScratchDir dir;
  test::WriteFile(dir / "src/a", "a");
  const std::string longWord(512, 'w');
  for (int which = 0; which < 3; ++which) {
    const PackRun run =
        Pack(which == 0 ? longWord : dir / "src", which == 1 ? longWord : "m",
             which == 2 ? dir / longWord : dir / "x.tuk");
    EXPECT_EQ(run.outcome, PackOutcome::Failed) << which;
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(run.text.rfind("ERROR! Path too long: ", 0), 0u) << run.text;
  }
  EXPECT_FALSE(test::FileExists(dir / "x.tuk"));
}

// Input files of 4 GiB less 512 bytes and more cannot be stored; a sparse
// file makes one without writing it. An update keeps the old entry of such
// a file.
TEST(Pack, TooBigInputIsSkippedAndItsOldEntryKept) {
  test::ScratchDir dir;
  struct statvfs vfs {};
  if (statvfs(dir.path().c_str(), &vfs) != 0 ||
      static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < (uint64_t{9} << 30)) {
    GTEST_SKIP() << "the free-space check needs twice the sparse file's size";
  }
  const std::string archive = dir / "menu.tuk";
  test::WriteFile(archive, test::CraftArchive(
                               0, {test::StoredEntry("menu/big.bin", test::BytesOf("old"))}));
  test::WriteFile(dir / "src/big.bin", Bytes{});
  test::WriteFile(dir / "src/small.txt", "small");
  fs::resize_file(dir / "src/big.bin", 4294966784u);

  const PackRun run = Pack(dir / "src", "menu", archive, 1);
  EXPECT_EQ(run.outcome, PackOutcome::Incomplete);
  EXPECT_NE(run.text.find("ERRROR! input file too big!: 4294966784\n"), std::string::npos)
      << run.text;
  EXPECT_NE(run.text.find("  Uncompressed .tuk size (mb): 4095\n"), std::string::npos);
  const Bytes updated = test::ReadFile(archive);
  const std::vector<Record> records = IndexOf(updated);
  ASSERT_EQ(NamesOf(records), (std::vector<std::string>{"menu/small.txt", "menu/big.bin"}));
  EXPECT_EQ(PayloadOf(updated, records[1]), test::BytesOf("old"));

  // A program that shows only errors sees this one too, spelled as it is.
  const PackRun quiet = test::PackTree(dir / "src", "menu", dir / "new.tuk", 0, nullptr,
                                      nullptr, MessageSet::ErrorsOnly);
  EXPECT_EQ(quiet.text, "ERRROR! input file too big!: 4294966784\n");
}

// Files of many sizes, empty ones and one past the first raw buffer, through
// the pack program and back out through the unpack program.
TEST(PackEndToEnd, RoundTripsGeneratedTreesThroughBothPrograms) {
  test::ScratchDir dir;
  const std::string src = dir / "src";
  uint32_t seed = 1;
  for (int d = 0; d < 12; ++d) {
    std::string directory = src;
    for (int level = 0; level <= d % 4; ++level) {
      directory += "/d" + std::to_string(d) + "_" + std::to_string(level);
    }
    for (int f = 0; f < 25; ++f) {
      const size_t size = f % 7 == 0 ? 0 : (seed * 7919u) % (f % 5 == 0 ? 70000 : 900);
      test::WriteFile(directory + "/F" + std::to_string(f) + (f % 2 ? ".dds" : ".con"),
                      test::RandomBytes(size, seed));
      ++seed;
    }
  }
  test::WriteFile(src + "/huge.bin", test::RandomBytes(4500000, 77));
  test::WriteFile(src + "/after-huge.bin", test::RandomBytes(100, 78));
  test::MakeDirs(dir / "out");

  const test::RunResult pack =
      test::Run(test::PackExe(), {src, "Objects", dir / "o.tuk"}, dir.path());
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  EXPECT_NE(pack.output.find("TotalFiles: 302\n"), std::string::npos) << pack.output;
  const test::RunResult unpack =
      test::Run(test::UnpackExe(), {dir / "o.tuk", dir / "out"}, dir.path());
  ASSERT_EQ(unpack.exitCode, 0) << unpack.output;
  EXPECT_TRUE(test::TreeContents(src) == test::TreeContents(dir / "out/Objects"));

  // Updating with a changed subset gives the union, the new files winning.
  const std::string changes = dir / "changes";
  test::WriteFile(changes + "/huge.bin", test::RandomBytes(4100000, 99));
  test::WriteFile(changes + "/d3_0/d3_1/d3_2/d3_3/F1.dds", "changed");
  test::WriteFile(changes + "/brand/new.txt", "brand new");
  const test::RunResult update = test::Run(
      test::PackExe(), {changes, "Objects", dir / "o.tuk", "-u"}, dir.path());
  ASSERT_EQ(update.exitCode, 0) << update.output;
  for (const auto& [name, bytes] : test::TreeContents(changes)) {
    test::WriteFile(src + "/" + name, bytes);
  }
  fs::remove_all(dir / "out");
  test::MakeDirs(dir / "out");
  ASSERT_EQ(test::Run(test::UnpackExe(), {dir / "o.tuk", dir / "out"}, dir.path()).exitCode,
            0);
  EXPECT_TRUE(test::TreeContents(src) == test::TreeContents(dir / "out/Objects"));
}

TEST(Pack, PackByNameForcesSoundAndMusicUncompressed) {
  test::ScratchDir dir;
  test::WriteFile(dir / "Sound/s.wav", "wave");
  test::WriteFile(dir / "menu/m.txt", "menu");
  test::WriteFile(dir / "MUSIC/x.ogg", "ogg");
  test::MakeDirs(dir / "work");
  ASSERT_TRUE(platform::SetCurrentDir((dir / "work").c_str()));

  auto byName = [](const char* name, int32_t compress) {
    test::MessageCapture capture;
    PackResult result;
    EXPECT_EQ(packByName(name, compress, &result, capture.context()), 0u);
    EXPECT_EQ(test::OutcomeOf(result), PackOutcome::Complete) << name;
    return capture.Text();
  };
  EXPECT_EQ(byName("Sound", 1).rfind("FORCING sound.tuk uncompressed\nTotalFiles: 1\n", 0),
            0u);
  EXPECT_EQ(byName("MUSIC", 1).rfind("FORCING music.tuk uncompressed\n", 0), 0u);
  EXPECT_EQ(byName("menu", 1).find("FORCING"), std::string::npos);
  EXPECT_EQ(byName("Sound", 0).find("FORCING"), std::string::npos);

  for (const char* name : {"Sound", "menu", "MUSIC"}) {
    const Bytes archive = test::ReadFile(dir / "work/" + name + ".tuk");
    EXPECT_EQ(test::GetU32(archive, 4), 0u) << name;
    const std::vector<Record> records = IndexOf(archive);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name.rfind(std::string(name) + "/", 0), 0u);
  }
}

}  // namespace
}  // namespace tuk
