// Packing with file operations made to fail, one at a time, at every point
// they happen: an archive that was there before must survive whole, no
// temporary or partial file may stay behind, and a packing that got through
// must have written an archive that reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/format/layout.h"
#include "archive/legacy/pack.h"
#include "archive/legacy/tuk_file.h"
#include "pack/pack_command.h"
#include "platform/fault_injection.h"
#include "tests/test_support.h"
#include "tuk/archive_reader.h"

namespace tuk {
namespace {

namespace faults = platform::faults;
using faults::Op;
using test::Bytes;
using Tree = std::vector<std::pair<std::string, Bytes>>;

const Op kKinds[] = {Op::Write, Op::Flush, Op::Close, Op::Rename, Op::CreateDir,
                     Op::OpenWrite};

const char* KindName(Op op) {
  switch (op) {
    case Op::Write: return "Write";
    case Op::Flush: return "Flush";
    case Op::Close: return "Close";
    case Op::Rename: return "Rename";
    case Op::CreateDir: return "CreateDir";
    case Op::OpenWrite: return "OpenWrite";
    default: return "?";
  }
}

using platform::FaultPlan;

using test::PackRun;

PackRun Pack(const std::string& source, const std::string& prefix,
             const std::string& archivePath, int32_t update, FaultPlan& plan) {
  return test::PackTree(source, prefix, archivePath, update, &plan);
}

// What the archive at path holds, read through the library's own reader:
// every entry's name and bytes, in index order.
Tree ArchiveContents(const std::string& path, uint32_t& mode) {
  Tree contents;
  ArchiveReader reader;
  EXPECT_TRUE(reader.Open(path).ok()) << path;
  mode = reader.index().mode();
  for (size_t i = 0; i < reader.index().size(); ++i) {
    Bytes bytes;
    EXPECT_TRUE(reader.Read(i, bytes).ok()) << reader.index()[i].name;
    contents.emplace_back(reader.index()[i].name, bytes);
  }
  return contents;
}

// One packing request and what it must give.
struct Scenario {
  std::string source;
  std::string prefix;
  std::string archive;
  int32_t update = 0;
  bool oldExists = false;
  Bytes old;           // what lies at the archive path before each run
  Tree expected;       // the finished archive's entries, in index order
  uint32_t mode = 0;   // the finished archive's mode
};

void Restore(const Scenario& s) {
  std::remove((s.archive + ".tmp").c_str());
  std::remove((s.archive + ".part").c_str());
  if (s.oldExists) {
    test::WriteFile(s.archive, s.old);
  } else {
    std::remove(s.archive.c_str());
  }
}

void ExpectComplete(const Scenario& s, const PackRun& run, const std::string& where) {
  EXPECT_EQ(run.outcome, PackOutcome::Complete) << where << "\n" << run.text;
  uint32_t mode = 99;
  EXPECT_TRUE(ArchiveContents(s.archive, mode) == s.expected) << where;
  EXPECT_EQ(mode, s.mode) << where;
  EXPECT_FALSE(test::FileExists(s.archive + ".tmp")) << where;
  EXPECT_FALSE(test::FileExists(s.archive + ".part")) << where;
}

void ExpectNothingLost(const Scenario& s, const PackRun& run, const std::string& where) {
  EXPECT_EQ(run.outcome, PackOutcome::Failed) << where << "\n" << run.text;
  if (s.oldExists) {
    EXPECT_TRUE(test::FileExists(s.archive) && test::ReadFile(s.archive) == s.old) << where;
  } else {
    EXPECT_FALSE(test::FileExists(s.archive)) << where;
  }
  EXPECT_FALSE(test::FileExists(s.archive + ".tmp")) << where;
  EXPECT_FALSE(test::FileExists(s.archive + ".part")) << where;
}

// Runs the scenario once to count every kind of operation, then once for
// each single operation made to fail. Where the archive is moved into
// place, the copy that stands in for a failed rename is put through the
// same, one operation of it at a time.
void RunMatrix(const Scenario& s) {
  FaultPlan plan;
  Restore(s);
  plan.Reset();
  ExpectComplete(s, Pack(s.source, s.prefix, s.archive, s.update, plan), "no fault");
  uint64_t counts[static_cast<size_t>(Op::kCount)] = {};
  for (Op op : kKinds) counts[static_cast<size_t>(op)] = plan.Count(op);
  EXPECT_GT(counts[static_cast<size_t>(Op::Write)], 2u);
  EXPECT_EQ(counts[static_cast<size_t>(Op::Rename)], 1u);  // <archive>.tmp moved into place

  for (Op op : kKinds) {
    for (uint64_t k = 1; k <= counts[static_cast<size_t>(op)]; ++k) {
      const std::string where = std::string(KindName(op)) + " #" + std::to_string(k);
      Restore(s);
      plan.Reset();
      plan.FailAt(op, k);
      const PackRun run = Pack(s.source, s.prefix, s.archive, s.update, plan);
      plan.Reset();
      if (op == Op::Rename) {
        // The move falls back to copying, which completes.
        ExpectComplete(s, run, where);
        continue;
      }
      ExpectNothingLost(s, run, where);
      if (op == Op::Write || op == Op::Flush || op == Op::Close) {
        EXPECT_NE(run.text.find("ERROR! Could not write .tuk file: " + s.archive + "\n"),
                  std::string::npos)
            << where << "\n" << run.text;
      }
    }
  }
  Restore(s);
  plan.Reset();
  plan.FailAt(Op::Rename, 1);
  ExpectComplete(s, Pack(s.source, s.prefix, s.archive, s.update, plan), "rename fails");
  uint64_t withCopy[static_cast<size_t>(Op::kCount)] = {};
  for (Op op : kKinds) withCopy[static_cast<size_t>(op)] = plan.Count(op);
  EXPECT_GT(withCopy[static_cast<size_t>(Op::Write)], counts[static_cast<size_t>(Op::Write)]);
  for (Op op : kKinds) {
    if (op == Op::Rename) continue;
    const size_t i = static_cast<size_t>(op);
    for (uint64_t k = counts[i] + 1; k <= withCopy[i]; ++k) {
      const std::string where =
          std::string("rename fails, then ") + KindName(op) + " #" + std::to_string(k);
      Restore(s);
      plan.Reset();
      plan.FailAt(Op::Rename, 1);
      plan.FailAt(op, k);
      const PackRun run = Pack(s.source, s.prefix, s.archive, s.update, plan);
      plan.Reset();
      ExpectNothingLost(s, run, where);
      EXPECT_NE(run.text.find("ERROR! Could not write .tuk file: " + s.archive + "\n"),
                std::string::npos)
          << where << "\n" << run.text;
    }
  }
}

// A small tree: an empty file, one of several segments, one in a
// subdirectory.
Tree WriteSource(const std::string& root) {
  const Tree files = {{"a.txt", test::BytesOf("alpha")},
                      {"c.bin", test::RandomBytes(70000, 5)},
                      {"gfx/b.dds", {}},
                      {"sub/d.txt", test::BytesOf("delta")}};
  for (const auto& [name, bytes] : files) test::WriteFile(root + "/" + name, bytes);
  return files;
}

Tree Prefixed(const std::string& prefix, const Tree& tree) {
  Tree named;
  for (const auto& [name, bytes] : tree) named.emplace_back(prefix + name, bytes);
  return named;
}

TEST(PackFaults, NewArchiveInAnEmptyPlace) {
  test::ScratchDir dir;
  Scenario s;
  s.source = dir / "src";
  s.prefix = "m";
  s.archive = dir / "m.tuk";
  s.expected = Prefixed("m/", WriteSource(s.source));
  RunMatrix(s);
}

TEST(PackFaults, NewArchiveOverAnExistingOne) {
  test::ScratchDir dir;
  Scenario s;
  s.source = dir / "src";
  s.prefix = "m";
  s.archive = dir / "m.tuk";
  s.expected = Prefixed("m/", WriteSource(s.source));
  s.oldExists = true;
  s.old = test::CraftArchive(0, {test::StoredEntry("m/only-old.txt", test::BytesOf("old"))});
  RunMatrix(s);
}

TEST(PackFaults, UpdateOfAStoredArchive) {
  test::ScratchDir dir;
  Scenario s;
  s.source = dir / "src";
  s.prefix = "m";
  s.archive = dir / "m.tuk";
  s.update = 1;
  s.expected = Prefixed("m/", WriteSource(s.source));
  s.oldExists = true;
  const Bytes kept = test::RandomBytes(5000, 6);
  s.old = test::CraftArchive(
      0, {test::StoredEntry("m/A.TXT", test::BytesOf("replaced")),
          test::StoredEntry("m/kept.bin", kept), test::StoredEntry("m/kept-empty", {}),
          test::StoredEntry("m/sub/kept.txt", test::BytesOf("kept too"))});
  s.expected.emplace_back("m/kept.bin", kept);
  s.expected.emplace_back("m/kept-empty", Bytes{});
  s.expected.emplace_back("m/sub/kept.txt", test::BytesOf("kept too"));
  RunMatrix(s);
}

TEST(PackFaults, UpdateOfASegmentedArchive) {
  test::ScratchDir dir;
  Scenario s;
  s.source = dir / "src";
  s.prefix = "m";
  s.archive = dir / "m.tuk";
  s.update = 1;
  s.mode = 1;
  s.expected = Prefixed("m/", WriteSource(s.source));
  s.oldExists = true;
  test::CraftedEntry kept;
  kept.name = "m/kept.txt";
  kept.payload = test::SegmentedPayload({{0x14, 'x', 'y', 'z', 0x11, 0, 0}, {0x12, '!', 0x11, 0, 0}},
                                        {3, 1});
  kept.size = 4;
  test::CraftedEntry replaced;
  replaced.name = "m/c.bin";
  replaced.payload = test::SegmentedPayload({{0x12, 'c', 0x11, 0, 0}}, {1});
  replaced.size = 1;
  s.old = test::CraftArchive(1, {replaced, kept});
  s.expected.emplace_back("m/kept.txt", test::BytesOf("xyz!"));
  RunMatrix(s);
}

// An old archive that cannot be read whole stops the update: it is kept
// as it was rather than rewritten without the entries it still holds.
TEST(PackFaults, UnreadableOldArchiveStopsTheUpdate) {
  test::ScratchDir dir;
  FaultPlan plan;
  WriteSource(dir / "src");
  const std::string archive = dir / "m.tuk";

  test::CraftedEntry beyond = test::StoredEntry("m/beyond.txt", test::BytesOf("gone"));
  beyond.overrideOffset = true;
  beyond.offset = 100000;
  const Bytes payloadPastTheEnd = test::CraftArchive(
      0, {test::StoredEntry("m/fine.txt", test::BytesOf("fine")), beyond});

  Bytes shortIndex = test::CraftArchive(
      0, {test::StoredEntry("m/one.txt", test::BytesOf("1")),
          test::StoredEntry("m/two.txt", test::BytesOf("2"))});
  // The index claims a third record the file does not hold.
  shortIndex[test::GetU32(shortIndex, 0)] = 3;
  shortIndex.resize(shortIndex.size() - 4);

  for (const Bytes& old : {payloadPastTheEnd, shortIndex}) {
    test::WriteFile(archive, old);
    const PackRun run = Pack(dir / "src", "m", archive, 1, plan);
    EXPECT_EQ(run.outcome, PackOutcome::Failed) << run.text;
    EXPECT_NE(run.text.find("ERROR! Reading from existing .tuk file: "), std::string::npos)
        << run.text;
    EXPECT_EQ(test::ReadFile(archive), old);
    EXPECT_FALSE(test::FileExists(archive + ".tmp"));
  }
}

// The program's exit code for a packing that failed in writing.
TEST(PackFaults, ProgramExitsWithTwoWhenAWriteFails) {
  test::ScratchDir dir;
  FaultPlan plan;
  WriteSource(dir / "src");
  const std::string archive = dir / "m.tuk";
  const Bytes old = test::CraftArchive(0, {test::StoredEntry("m/x", test::BytesOf("x"))});
  test::WriteFile(archive, old);

  std::vector<std::string> words = {"TukPack", dir / "src", "m", archive, "-u"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  test::MessageCapture capture;
  plan.FailAt(Op::Write, 3);
  const Context context = capture.context(MessageSet::Common, &plan);
  EXPECT_EQ(RunPack(static_cast<int>(words.size()), argv.data(), context), kPackFailed);
  plan.Reset();
  EXPECT_EQ(test::ReadFile(archive), old);
  EXPECT_FALSE(test::FileExists(archive + ".tmp"));
  EXPECT_EQ(RunPack(static_cast<int>(words.size()), argv.data()), kPackDone);
}

}  // namespace
}  // namespace tuk
