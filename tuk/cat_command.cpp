#include "tuk/cat_command.h"

#include <cstdio>
#include <optional>

#include "platform/platform.h"
#include "tuk/archive_reader.h"
#include "tuk/tuk_command.h"

namespace tuk {
namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::optional<size_t> FindLast(const Index& index, const std::string& name) {
  std::optional<size_t> caseless;
  for (size_t i = index.size(); i-- > 0;) {
    if (index[i].name == name) return i;
    if (!caseless && EqualIgnoringCase(index[i].name, name)) caseless = i;
  }
  return caseless;
}

}  // namespace

int RunCat(const std::string& archive, const std::vector<std::string>& names) {
  ArchiveReader reader;
  const Status opened = reader.Open(archive);
  if (!opened.ok() && opened.code() != Errc::kDamaged) {
    PrintError(opened.message());
    return kTukFailed;
  }
  bool failed = !opened.ok();
  if (failed) PrintError(opened.message() + " (only the entries before the damage are read)");

  platform::SetBinaryMode(stdout);
  bool writeFailed = false;
  const ArchiveReader::Sink toOutput = [&](const uint8_t* data, size_t length) {
    if (std::fwrite(data, 1, length, stdout) != length) {
      writeFailed = true;
      return Status(Errc::kIo, "cannot write to standard output");
    }
    return Status();
  };
  for (const std::string& name : names) {
    const std::optional<size_t> entry = FindLast(reader.index(), name);
    if (!entry) {
      PrintError("no entry " + name + " in " + archive);
      failed = true;
      continue;
    }
    const Status read = reader.Read(*entry, toOutput);
    if (!read.ok()) {
      PrintError(read.message());
      failed = true;
      if (writeFailed) break;
    }
  }
  if (std::fflush(stdout) != 0 && !writeFailed) {
    PrintError("cannot write to standard output");
    failed = true;
  }
  return failed ? 2 : 0;
}

}  // namespace tuk
