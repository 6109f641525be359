// tuk list: the entries with index, size, stored size, ratio, offset and
// name, or the same as one JSON object.
#include <cstdio>
#include <memory>
#include <string>

#include "tuk/archive_reader.h"
#include "tuk/archive_stream.h"
#include "tuk/commands.h"
#include "tuk/selection.h"

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

struct Arguments {
  std::string archive;
  bool json = false;
  SelectionArguments selection;
};

int List(const Arguments& args) {
  if (!OneUseOfStandardInput(args.archive, args.selection)) return kTukUsage;
  ArchiveInput input;
  ArchiveReader reader;
  bool damaged = false;
  if (!input.OpenUsable(args.archive, reader, "listed", damaged)) return kTukFailed;
  std::vector<std::string> names;
  if (!ReadNameList(args.selection, names)) return kTukFailed;
  std::vector<size_t> which;
  const bool found = SelectEntries(reader.index(), names, args.selection,
                                   ArchiveInput::Shown(args.archive), which);
  // The listing holds the entries taken; the totals are theirs.
  std::vector<Entry> taken;
  for (size_t i : which) taken.push_back(reader.index()[i]);
  const Index& all = reader.index();
  const Index index(all.mode(), all.indexOffset(), std::move(taken), all.complete());
  const bool json = args.json;
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
                  i == 0 ? "" : ",", which[i], JsonString(e.name).c_str(), e.size, e.storedSize,
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
      std::printf("%6zu %10u %10u %7s %10u  %s\n", which[i], e.size, e.storedSize,
                  Ratio(e.storedSize, e.size).c_str(), e.offset, e.name.c_str());
    }
  }
  return !damaged && found ? kTukDone : kTukFailed;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_flag("--json", args->json);
  AddSelectionOptions(command, args->selection);
  return [args] { return List(*args); };
}

}  // namespace

const Command kListCommand = {
    "list",
    "  list ARCHIVE [--json]           list the entries\n",
    "tuk list ARCHIVE [--json] [--include GLOB] [--exclude GLOB] [--files-from FILE [--null]]\n"
    "  Shows the mode, entry count and total size, then one row per entry:\n"
    "  index, size, stored size, offset and name; with --json, as one JSON\n"
    "  object. --include, --exclude and --files-from choose the entries, as in\n"
    "  tuk extract. ARCHIVE - reads the archive from standard input.\n",
    Define};

}  // namespace tuk
