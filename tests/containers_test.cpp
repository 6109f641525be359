// The name table and the name-matching rule.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "archive/jobs/name_table.h"
#include "tuk/index.h"

namespace tuk {
namespace {

TEST(NameTable, StoresNamesBackToBackAndGrowsGeometrically) {
  NameTable table;
  EXPECT_EQ(table.ByteCapacity(), 0u);
  EXPECT_EQ(table.Add("ab"), 1u);
  EXPECT_STREQ(table.Get(0), "ab");
  EXPECT_EQ(table.Length(0), 2u);
  EXPECT_EQ(table.ByteCapacity(), 6u);  // 0 -> 2 -> 6 for three bytes
  EXPECT_EQ(table.OffsetCapacity(), 2u);

  EXPECT_EQ(table.Add(""), 2u);  // an empty name is a name too
  EXPECT_STREQ(table.Get(1), "");
  EXPECT_EQ(table.Add("Menu/A.txt"), 3u);
  EXPECT_EQ(table.ByteCapacity(), 30u);  // 15 bytes: 14 -> 30
  EXPECT_EQ(table.OffsetCapacity(), 6u);
  EXPECT_EQ(table.Get(3), nullptr);
  EXPECT_EQ(table.Get(1000), nullptr);
}

Index Named(std::vector<std::string> names) {
  std::vector<Entry> entries;
  for (std::string& name : names) {
    entries.emplace_back();
    entries.back().name = std::move(name);
  }
  return Index(0, 0, std::move(entries), true);
}

TEST(Index, MatchesWholeNamesRegardlessOfAsciiCase) {
  EXPECT_FALSE(Named({}).Find("a"));  // nothing loaded: no match
  const Index index = Named({"Objects/Harlo.con", "objects/harlo.CON", "x\xC4y"});
  EXPECT_EQ(index.Find("OBJECTS/HARLO.CON"), 0u);  // the first of equal names
  EXPECT_FALSE(index.Find("Objects/Harlo"));
  EXPECT_FALSE(index.Find("Objects/Harlo.con "));
  // Only A-Z fold; other bytes compare exactly.
  EXPECT_EQ(index.Find("X\xC4Y"), 2u);
  EXPECT_FALSE(index.Find("x\xE4y"));
  // What extraction leaves at a path: the exact spelling first, the later
  // of equal names.
  EXPECT_EQ(index.Lookup("objects/harlo.CON"), 1u);
  EXPECT_EQ(index.Lookup("Objects/Harlo.con"), 0u);
  EXPECT_EQ(index.Lookup("OBJECTS/HARLO.CON"), 1u);
}

TEST(EntryName, RefusesNamesThatLeaveTheExtractionDirectory) {
  for (const char* bad : {"/etc/passwd", "\\x", "C:x", "c:/x", "..", "../a",
                          "a/../../b", "a\\..\\b", "a/.."}) {
    EXPECT_FALSE(IsSafeName(bad)) << bad;
  }
  for (const char* good : {"a", "a/b/c.txt", "..a/b", "a/...", ".hidden/x",
                           "a//b", "a/b.."}) {
    EXPECT_TRUE(IsSafeName(good)) << good;
  }
  // A NUL would make the system open a shorter name than the one checked.
  EXPECT_FALSE(IsSafeName(std::string_view("a\0/../../x", 11)));
  EXPECT_FALSE(IsSafeName(std::string_view("ok\0", 3)));
}

}  // namespace
}  // namespace tuk
