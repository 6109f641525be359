// tuk list: the entries with index, size, stored size, ratio, offset and
// name, or the same as one JSON object.
#include <cstdio>
#include <memory>
#include <string>

#include "tuk/archive_reader.h"
#include "tuk/commands.h"

namespace tuk {
namespace {

// "45.2%": stored bytes against file bytes.
std::string Ratio(uint64_t stored, uint64_t size) {
  if (size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%",
                100.0 * static_cast<double>(stored) / static_cast<double>(size));
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x80) {
          // Names are 8-bit code-page bytes; keep each byte visible.
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

int List(const std::string& path, bool json) {
  ArchiveReader reader;
  const Status opened = reader.Open(path);
  if (opened.code() == Errc::kNotFound) {
    PrintError(opened.message());
    return kTukFailed;
  }
  if (!opened.ok()) PrintError(opened.message() + " (only the entries before the damage are listed)");
  const Index& index = reader.index();
  const auto stored = static_cast<unsigned long long>(index.TotalStoredSize());
  const auto total = static_cast<unsigned long long>(index.TotalSize());
  if (json) {
    std::printf("{\"mode\": %u, \"count\": %zu, \"totalSize\": %llu, \"storedSize\": %llu, "
                "\"entries\": [",
                index.mode(), index.size(), total, stored);
    for (size_t i = 0; i < index.size(); ++i) {
      const Entry& e = index[i];
      std::printf("%s\n  {\"index\": %zu, \"name\": %s, \"size\": %u, \"storedSize\": %u, "
                  "\"offset\": %u}",
                  i == 0 ? "" : ",", i, JsonString(e.name).c_str(), e.size, e.storedSize,
                  e.offset);
    }
    std::printf("%s]}\n", index.size() > 0 ? "\n" : "");
  } else {
    std::printf("mode %u, %zu entries, %llu bytes, %llu stored (%s)\n", index.mode(),
                index.size(), total, stored, Ratio(stored, total).c_str());
    std::printf("%6s %10s %10s %7s %10s  %s\n", "index", "size", "stored", "ratio", "offset",
                "name");
    for (size_t i = 0; i < index.size(); ++i) {
      const Entry& e = index[i];
      std::printf("%6zu %10u %10u %7s %10u  %s\n", i, e.size, e.storedSize,
                  Ratio(e.storedSize, e.size).c_str(), e.offset, e.name.c_str());
    }
  }
  return opened.ok() ? kTukDone : kTukFailed;
}

CommandRun Define(CLI::App& command) {
  struct Arguments {
    std::string archive;
    bool json = false;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_flag("--json", args->json);
  return [args] { return List(args->archive, args->json); };
}

}  // namespace

const Command kListCommand = {
    "list",
    "  list ARCHIVE [--json]           list the entries\n",
    "tuk list ARCHIVE [--json]\n  Shows the mode, entry count and total size, then one row per entry:\n  index, size, stored size, offset and name; with --json, as one JSON object.\n",
    Define};

}  // namespace tuk
