#include "tuk/compare.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <unordered_map>

#include "archive/common/aligned_block.h"
#include "archive/common/checksum.h"
#include "platform/platform.h"

namespace tuk {
namespace {

namespace fs = std::filesystem;

constexpr size_t kBlock = 64 * 1024;

// Whether the file holds exactly the entry's bytes, read block by block
// beside the entry's.
Status SameBytes(const ArchiveReader& reader, size_t i, platform::File& file, bool& same) {
  same = true;
  std::vector<uint8_t> mine;
  const Status read = reader.Read(i, [&](const uint8_t* data, size_t length) {
    if (!same) return Status();
    mine.resize(length);
    same = file.Read(mine.data(), length) == length &&
           std::equal(mine.begin(), mine.end(), data);
    return Status();
  });
  return read;
}

}  // namespace

Status CompareWithDirectory(const ArchiveReader& reader, const std::string& directory,
                            std::vector<Difference>& differences) {
  differences.clear();
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    return Status(Errc::kNotFound, "no such directory: " + directory);
  }
  const Index& index = reader.index();
  // The entry each name stands for: the later of equal names.
  std::unordered_map<std::string, size_t> byName;
  for (size_t i = 0; i < index.size(); ++i) byName[index[i].name] = i;

  // What could not be looked at is no difference: the comparison goes on,
  // and the first such trouble is the result, as diff -r has it.
  Status trouble;
  auto unreadable = [&trouble](const std::string& what) {
    if (trouble.ok()) trouble = Status(Errc::kIo, what);
  };
  const AlignedBlock block(kBlock);
  for (size_t i = 0; i < index.size(); ++i) {
    const Entry& entry = index[i];
    if (byName[entry.name] != i) continue;
    const std::string path = (fs::path(directory) / entry.name).string();
    if (!IsSafeName(entry.name) ||
        platform::KindOf(path.c_str()) == platform::PathKind::kNone) {
      // Missing, or hidden behind a directory this user cannot search.
      std::error_code looked;
      if (IsSafeName(entry.name) &&
          fs::symlink_status(path, looked).type() != fs::file_type::not_found) {
        unreadable("cannot look at " + path + ": " + looked.message());
        continue;
      }
      differences.push_back({Difference::Kind::kMissing, entry.name, ""});
      continue;
    }
    if (platform::KindOf(path.c_str()) != platform::PathKind::kFile) {
      differences.push_back({Difference::Kind::kDiffers, entry.name, "not a file"});
      continue;
    }
    platform::File file;
    if (!file.Open(path.c_str(), platform::File::Mode::Read)) {
      unreadable("cannot open " + path);
      continue;
    }
    const int64_t length = file.Length();
    if (length != int64_t{entry.size}) {
      differences.push_back({Difference::Kind::kDiffers, entry.name,
                             "size " + std::to_string(entry.size) + ", the file's " +
                                 std::to_string(length)});
      continue;
    }
    bool same = true;
    if (entry.checksum() != 0 && ChecksumsAvailable() && block.ok()) {
      ChecksumStream checksum;
      size_t got = 0;
      while ((got = file.Read(block.data(), kBlock)) > 0) checksum.Update(block.data(), got);
      same = checksum.Digest() == entry.checksum();
    } else {
      const Status read = SameBytes(reader, i, file, same);
      if (!read.ok()) return read;
    }
    if (!same) differences.push_back({Difference::Kind::kDiffers, entry.name, "the bytes"});
  }

  std::set<std::string> extra;
  fs::path at = directory;
  std::error_code walked;
  for (fs::recursive_directory_iterator it(directory, walked), end; !walked && it != end;
       it.increment(walked)) {
    at = it->path();
    if (!it->is_regular_file(error) || it->is_symlink(error)) continue;
    const std::string name = fs::relative(it->path(), directory, error).generic_string();
    if (byName.count(name) == 0) extra.insert(name);
  }
  // The walk stops at a directory it cannot list: the one it was entering.
  if (walked) unreadable("cannot list " + at.string() + ": " + walked.message());
  for (const std::string& name : extra) differences.push_back({Difference::Kind::kExtra, name, ""});
  return trouble;
}

}  // namespace tuk
