// tuk convert through the real program: round trips between tar, .tuk and
// zip (and the other formats) keep every entry and byte; names that would
// leave the extraction directory are refused. (Not a "Cli" suite: the
// Windows tuk has no convert.)
#include <gtest/gtest.h>

#ifdef TUK_HAVE_CONVERT
#include <archive.h>
#include <archive_entry.h>
#endif

#include "tests/test_support.h"
#include "tuk/archive_reader.h"

namespace tuk {
namespace {

using test::Bytes;

#ifdef TUK_HAVE_CONVERT

// The entries of a .tuk as name -> bytes, in index order.
std::vector<std::pair<std::string, Bytes>> EntriesOf(const std::string& path) {
  ArchiveReader reader;
  EXPECT_TRUE(reader.Open(path).ok()) << path;
  std::vector<std::pair<std::string, Bytes>> entries;
  for (size_t i = 0; i < reader.index().size(); ++i) {
    Bytes bytes;
    EXPECT_TRUE(reader.Read(i, bytes).ok());
    entries.emplace_back(reader.index()[i].name, bytes);
  }
  return entries;
}

struct TarItem {
  std::string name;
  mode_t type = AE_IFREG;
  std::string bytes;
};

void WriteTar(const std::string& path, const std::vector<TarItem>& items) {
  struct archive* out = archive_write_new();
  archive_write_set_format_pax_restricted(out);
  ASSERT_EQ(archive_write_open_filename(out, path.c_str()), ARCHIVE_OK);
  for (const TarItem& item : items) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.name.c_str());
    archive_entry_set_filetype(entry, item.type);
    archive_entry_set_perm(entry, 0644);
    if (item.type == AE_IFLNK) archive_entry_set_symlink(entry, "a");
    archive_entry_set_size(entry, static_cast<la_int64_t>(item.bytes.size()));
    archive_write_header(out, entry);
    archive_write_data(out, item.bytes.data(), item.bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(out);
  archive_write_free(out);
}

class TukConvertTest : public ::testing::Test {
 protected:
  test::RunResult Tuk(const std::vector<std::string>& args) {
    return test::RunCapturingErrors(test::TukExe(), args, dir.path());
  }
  test::ScratchDir dir;
};

TEST_F(TukConvertTest, RoundTripsKeepEveryEntryAndByte) {
  test::WriteFile(dir / "src/a.txt", "alpha\n");
  test::WriteFile(dir / "src/empty", "");
  test::WriteFile(dir / "src/gfx/logo.dds", test::RandomBytes(200000, 3));
  test::WriteFile(dir / "src/gfx/caf\xC3\xA9.txt", "utf-8 name");
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && tar cf src.tar -C src .").c_str()), 0);

  // tar -> tuk: "./" dropped, the prefix put in front, directories skipped.
  test::RunResult r = Tuk({"convert", "src.tar", "t1.tuk", "--prefix", "mods", "-0"});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_NE(r.errors.find("skipped 2 directories"), std::string::npos) << r.errors;
  const auto t1 = EntriesOf(dir / "t1.tuk");
  auto expected = test::TreeContents(dir / "src");
  for (auto& [name, bytes] : expected) name = "mods/" + name;
  auto sorted = t1;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, expected);

  // tuk -> zip -> tuk, and the other formats: the same entries in order.
  for (const char* via : {"x.zip", "x.tar.gz", "x.tgz", "x.tar.xz", "x.tar.zst", "x.7z"}) {
    SCOPED_TRACE(via);
    r = Tuk({"convert", "t1.tuk", via});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_FALSE(test::FileExists(dir / (std::string(via) + ".tmp")));
    r = Tuk({"convert", via, "t2.tuk", "--level", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    // 7z keeps its own order of entries; the others keep the archive's.
    auto back = EntriesOf(dir / "t2.tuk");
    if (std::string(via) == "x.7z") std::sort(back.begin(), back.end());
    EXPECT_EQ(back, std::string(via) == "x.7z" ? sorted : t1);
    EXPECT_EQ(Tuk({"list", "t2.tuk"}).output.rfind("mode 1,", 0), 0u);
  }
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && unzip -q -d unzipped x.zip").c_str()), 0);
  EXPECT_EQ(test::TreeContents(dir / "unzipped/mods"), test::TreeContents(dir / "src"));

  EXPECT_EQ(Tuk({"convert", "t1.tuk", "x.rar"}).exitCode, 1);
  EXPECT_EQ(Tuk({"convert", "src.tar", "x.zip"}).exitCode, 1);
  EXPECT_EQ(Tuk({"convert", "t1.tuk", "t3.tuk"}).exitCode, 1);
  EXPECT_EQ(Tuk({"convert", "t1.tuk"}).exitCode, 1);
}

TEST_F(TukConvertTest, UnsafeNamesAndNonFilesAreLeftOut) {
  WriteTar(dir / "odd.tar", {{"./ok/a", AE_IFREG, "fine"},
                            {"ok/", AE_IFDIR, ""},
                            {"../x", AE_IFREG, "evil"},
                            {"/abs", AE_IFREG, "evil"},
                            {"ok/../../y", AE_IFREG, "evil"},
                            {"ok/link", AE_IFLNK, ""}});
  const test::RunResult r = Tuk({"convert", "odd.tar", "odd.tuk"});
  EXPECT_EQ(r.exitCode, 2);
  for (const char* named : {"../x", "/abs", "ok/../../y", "skipped 1 directory, 1 link"}) {
    EXPECT_NE(r.errors.find(named), std::string::npos) << named << "\n" << r.errors;
  }
  EXPECT_EQ(EntriesOf(dir / "odd.tuk"),
            (std::vector<std::pair<std::string, Bytes>>{{"ok/a", test::BytesOf("fine")}}));

  // An input that is not whole: nothing is written.
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && head -c 700 odd.tar | gzip | "
                         "head -c 100 > cut.tar.gz").c_str()),
            0);
  EXPECT_EQ(Tuk({"convert", "cut.tar.gz", "cut.tuk"}).exitCode, 2);
  EXPECT_FALSE(test::FileExists(dir / "cut.tuk"));
  EXPECT_FALSE(test::FileExists(dir / "cut.tuk.tmp"));
}

#else

TEST(TukConvertTest, NotInThisBuild) { GTEST_SKIP() << "this build has no tuk convert (libarchive was not found)"; }

#endif

}  // namespace
}  // namespace tuk
