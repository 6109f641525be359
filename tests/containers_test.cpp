// The entry list, the name table and the name-matching rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/format/entry_list.h"
#include "archive/legacy/name_table.h"

namespace tuk {
namespace {

IndexEntry Named(const char* name) {
  IndexEntry entry;
  SetEntryName(entry, name, static_cast<uint32_t>(std::strlen(name)));
  return entry;
}

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

  EXPECT_EQ(table.Find("menu/a.txt", 0), NameTable::kNotFound);
  EXPECT_EQ(table.Find("menu/a.txt", 1), 2u);
  EXPECT_EQ(table.Find("Menu/A.tx", 1), NameTable::kNotFound);
  EXPECT_EQ(table.Add("MENU/A.TXT"), 4u);
  EXPECT_EQ(table.Find("menu/a.txt", 1), 2u);  // the first of equal names
}

TEST(EntryList, MatchesWholeNamesRegardlessOfAsciiCase) {
  EntryList list;
  EXPECT_EQ(FindEntryByName(list, "a", 1), 0u);  // nothing loaded: no match
  list.Append(Named("Objects/Harlo.con"));
  list.Append(Named("objects/harlo.CON"));
  list.Append(Named("x\xC4y"));
  EXPECT_EQ(FindEntryByName(list, "OBJECTS/HARLO.CON", 17), 0u);
  EXPECT_EQ(FindEntryByName(list, "Objects/Harlo", 13), 3u);
  EXPECT_EQ(FindEntryByName(list, "Objects/Harlo.con ", 18), 3u);
  // Only A-Z fold; other bytes compare exactly.
  EXPECT_EQ(FindEntryByName(list, "X\xC4Y", 3), 2u);
  EXPECT_EQ(FindEntryByName(list, "x\xE4y", 3), 3u);

  IndexEntry entry;
  std::string longName(260, 'n');
  EXPECT_FALSE(SetEntryName(entry, longName.c_str(), 260));
  EXPECT_TRUE(SetEntryName(entry, longName.c_str(), 259));
}

TEST(EntryName, RefusesNamesThatLeaveTheExtractionDirectory) {
  for (const char* bad : {"/etc/passwd", "\\x", "C:x", "c:/x", "..", "../a",
                          "a/../../b", "a\\..\\b", "a/.."}) {
    EXPECT_FALSE(IsSafeEntryName(bad, static_cast<uint32_t>(std::strlen(bad))))
        << bad;
  }
  for (const char* good : {"a", "a/b/c.txt", "..a/b", "a/...", ".hidden/x",
                           "a//b", "a/b.."}) {
    EXPECT_TRUE(IsSafeEntryName(good, static_cast<uint32_t>(std::strlen(good))))
        << good;
  }
  // A NUL would make the system open a shorter name than the one checked.
  EXPECT_FALSE(IsSafeEntryName("a\0/../../x", 11));
  EXPECT_FALSE(IsSafeEntryName("ok\0", 3));
}

}  // namespace
}  // namespace tuk
