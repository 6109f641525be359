#include "tuk/extract.h"

#include <filesystem>
#include <system_error>

#include "archive/common/environment.h"
#include "archive/extract/extractor.h"
#include "archive/read/reader_access.h"

namespace tuk {
namespace {

// Room on the destination on top of the entries' bytes.
constexpr uint64_t kFreeSpaceMargin = uint64_t{16} << 20;

}  // namespace

Status Extract(const ArchiveReader& reader, const std::vector<size_t>& which,
               const ExtractOptions& options, ExtractSummary* summary) {
  const Environment env = EnvironmentFor(options.environment, options.observer);
  ExtractSummary counted;
  ExtractSummary& done = summary != nullptr ? *summary : counted;
  done = ExtractSummary();

  // Like unzip -d, a missing directory is made, and its parents with it.
  std::error_code error;
  std::filesystem::create_directories(options.directory, error);
  if (!std::filesystem::is_directory(options.directory, error)) {
    return Status(Errc::kIo, "cannot make directory " + options.directory);
  }
  const Index& index = reader.index();
  std::vector<size_t> all;
  const std::vector<size_t>* order = &which;
  if (which.empty()) {
    all.resize(index.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    order = &all;
  }
  uint64_t bytes = 0;
  for (size_t i : *order) {
    if (i >= index.size()) return Status(Errc::kInvalidArgument, "no entry " + std::to_string(i));
    bytes += index[i].size;
  }
  uint64_t free = 0;
  if (options.checkFreeSpace &&
      (!platform::FreeSpaceBytes(options.directory.c_str(), free) ||
       bytes + kFreeSpaceMargin > free)) {
    return Status(Errc::kTooLarge, "not enough free space in " + options.directory);
  }

  ExtractSettings settings;
  settings.root = std::filesystem::absolute(options.directory, error).string();
  settings.noFollow = options.noFollow;
  settings.overwrite = options.overwrite == ExtractOptions::Overwrite::kKeep
                           ? ExtractSettings::Overwrite::kKeep
                       : options.overwrite == ExtractOptions::Overwrite::kNewer
                           ? ExtractSettings::Overwrite::kNewer
                           : ExtractSettings::Overwrite::kAlways;
  if (options.overwrite == ExtractOptions::Overwrite::kNewer &&
      !platform::ModifiedNs(reader.path().c_str(), settings.newerThanNs)) {
    return Status(Errc::kIo, "cannot tell when " + reader.path() + " was changed");
  }
  settings.stopAtFailure = options.stopAtFailure;
  settings.verifyChecksums = options.verifyChecksums;
  settings.workers = options.workers != 0 ? options.workers : Extractor::DefaultWorkers();
  Extractor run(SourceOf(reader), settings, env);
  Progress progress;
  progress.filesTotal = order->size();
  progress.bytesTotal = bytes;
  // The names stripped of their leading components, kept for the run.
  std::vector<std::string> names;
  names.reserve(order->size());
  for (size_t i : *order) {
    const Entry& entry = index[i];
    std::string name = entry.name;
    for (size_t n = 0; n < options.stripComponents && !name.empty(); ++n) {
      const size_t slash = name.find('/');
      name = slash == std::string::npos ? std::string() : name.substr(slash + 1);
    }
    names.push_back(std::move(name));
  }
  for (size_t k = 0; k < order->size(); ++k) {
    const Entry& entry = index[(*order)[k]];
    progress.current = entry.name.c_str();
    env.Advance(progress);
    if (names[k].empty() && options.stripComponents > 0) {
      env.Tell(Event::kEntryNameStripped, entry.name);
      ++done.stripped;
    } else if (!run.Extract(entry, &names[k]) && options.stopAtFailure) {
      break;
    }
    ++progress.filesDone;
    progress.bytesDone += entry.size;
  }
  run.Finish();
  done.failed = run.failures();
  done.extracted = run.extracted();
  done.kept = run.kept();
  if (done.failed > 0) {
    return Status(Errc::kDamaged, std::to_string(done.failed) + " entries could not be extracted");
  }
  progress.finished = true;
  env.Advance(progress);
  return Status();
}

}  // namespace tuk
