// tuk unpack-all: every archive a pattern matches, extracted into one
// directory, in name order; the first that fails ends the run.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tuk/commands.h"
#include "tuk/extract.h"
#include "tuk/select.h"

namespace tuk {
namespace {

namespace fs = std::filesystem;

struct Arguments {
  std::string pattern, directory;
  ExtractOptions::Overwrite overwrite = ExtractOptions::Overwrite::kOverwrite;
  Verbosity verbosity = Verbosity::kNormal;
};

int UnpackAll(const Arguments& args) {
  const std::string& pattern = args.pattern;
  const std::string& directory = args.directory;
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    PrintError("no such directory: " + directory);
    return kTukFailed;
  }
  const size_t star = pattern.find('*');
  if (star == std::string::npos) {
    PrintError("the pattern has no '*': " + pattern);
    return kTukUsage;
  }
  // The directory part ends before the first '*'; names in it are matched
  // regardless of the case of A-Z, as on Windows.
  const size_t slash = pattern.find_last_of("/\\", star);
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  const std::string names = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::vector<std::string> found;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(error) && MatchesGlob(names, name, true)) found.push_back(name);
  }
  std::sort(found.begin(), found.end(),
            [](const std::string& a, const std::string& b) { return NameBefore(a, b); });

  TukObserver observer(args.verbosity);
  ExtractOptions options;
  options.directory = directory;
  options.stopAtFailure = true;
  options.overwrite = args.overwrite;
  options.observer = &observer;
  size_t kept = 0;
  int result = kTukDone;
  for (const std::string& name : found) {
    const std::string path = (fs::path(folder) / name).string();
    ArchiveReader reader;
    const Status opened = reader.Open(path);
    if (opened.code() == Errc::kNotFound) {
      PrintError(opened.message());
      result = kTukFailed;
      break;
    }
    ExtractSummary summary;
    const Status extracted = Extract(reader, {}, options, &summary);
    kept += summary.kept;
    if (!extracted.ok() && extracted.code() != Errc::kDamaged) PrintError(extracted.message());
    if (!opened.ok()) PrintError(opened.message());
    if (!opened.ok() || !extracted.ok()) {
      result = kTukFailed;
      break;
    }
  }
  if (kept > 0 && args.verbosity != Verbosity::kQuiet) {
    PrintError(std::to_string(kept) + " existing files kept");
  }
  return result;
}

CommandRun Define(CLI::App& command) {
  auto args = std::make_shared<Arguments>();
  command.add_option("PATTERN", args->pattern)->required();
  command.add_option("DIR", args->directory)->required();
  AddOverwriteOptions(command, args->overwrite);
  AddVerbosityOptions(command, args->verbosity);
  return [args] { return UnpackAll(*args); };
}

}  // namespace

const Command kUnpackAllCommand = {
    "unpack-all",
    "  unpack-all PATTERN DIR          extract every archive matching PATTERN\n",
    "tuk unpack-all PATTERN DIR [--keep | --overwrite | --newer] [-v | -q]\n"
    "  Extracts every archive matching PATTERN (such as 'packs/*.tuk') into DIR,\n"
    "  in name order; the first that fails ends the run. Files already there\n"
    "  are treated as --keep, --overwrite (the default) or --newer say, as in\n"
    "  tuk extract.\n",
    Define};

}  // namespace tuk
