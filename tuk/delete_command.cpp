// tuk delete: entries taken out of an archive, as tar --delete and zip -d.
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tuk/archive_reader.h"
#include "tuk/commands.h"
#include "tuk/edit.h"
#include "tuk/select.h"

namespace tuk {
namespace {

struct Arguments {
  std::string archive;
  std::vector<std::string> names;  // names or patterns
  Verbosity verbosity = Verbosity::kNormal;
};

bool IsPattern(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

int Delete(const Arguments& args) {
  // Every name and pattern must match an entry, as tar asks: what is
  // matched is known before anything is written.
  ArchiveReader reader;
  const Status opened = reader.Open(args.archive);
  if (!opened.ok()) {
    PrintError(opened.message() + " (it is not changed)");
    return kTukFailed;
  }
  auto matches = [](const std::string& name, const Entry& entry) {
    return IsPattern(name) ? MatchesGlob(name, entry.name) : NamesEqual(name, entry.name);
  };
  bool found = true;
  for (const std::string& name : args.names) {
    bool matched = false;
    for (const Entry& entry : reader.index().entries()) matched = matched || matches(name, entry);
    if (!matched) {
      PrintError("no entry " + std::string(IsPattern(name) ? "matches " : "") + name + " in " +
                 args.archive);
      found = false;
    }
  }
  if (!found) return kTukFailed;

  TukObserver observer(args.verbosity);
  EditOptions options;
  options.observer = &observer;
  std::set<std::string> gone;
  size_t deleted = 0;
  const Status changed = DeleteEntries(
      args.archive,
      [&](const Entry& entry) {
        for (const std::string& name : args.names) {
          if (matches(name, entry)) {
            gone.insert(entry.name);
            return true;
          }
        }
        return false;
      },
      options, &deleted);
  if (!changed.ok()) {
    PrintError(changed.message());
    PrintError("could not delete from " + args.archive + " (it is unchanged)");
    return kTukFailed;
  }
  if (args.verbosity == Verbosity::kVerbose) {
    for (const std::string& name : gone) std::printf("%s\n", name.c_str());
  }
  return kTukDone;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("ARCHIVE", args->archive)->required();
  command.add_option("NAME", args->names)->required();
  AddVerbosityOptions(command, args->verbosity);
  return [args] { return Delete(*args); };
}

}  // namespace

const Command kDeleteCommand = {
    "delete",
    "  delete ARCHIVE NAME|GLOB...     take entries out of ARCHIVE\n",
    "tuk delete ARCHIVE NAME|GLOB... [-v | -q]\n"
    "  Rewrites ARCHIVE without every entry a NAME names (regardless of the case\n"
    "  of A-Z; every entry of that name) or a GLOB matches (*, ?, [...], **), the\n"
    "  other entries' payloads copied as they are; all or nothing, as tuk\n"
    "  replace. A NAME or GLOB that matches no entry is an error, and nothing\n"
    "  is changed. -v lists the entries deleted.\n",
    Define};

}  // namespace tuk
