#include "tuk/pack.h"

#include <memory>
#include <new>
#include <unordered_set>

#include "archive/common/environment.h"
#include "archive/common/names.h"
#include "archive/common/thread_pool.h"
#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/jobs/pack_job.h"

namespace tuk {
namespace {

// A request and the files it takes, as Pack and PlanPack both start.
struct Prepared {
  PackRequest request;
  std::unique_ptr<GatheredFiles> files;
};

// Keeps the gathered files the options select, in their order.
Status Select(const PackOptions& options, const PackRequest& request, GatheredFiles& files) {
  if (options.selection.Empty() && options.only.empty()) return Status();
  std::vector<std::string> only;
  for (std::string path : options.only) {
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    while (!path.empty() && path.back() == '/') path.pop_back();
    while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    only.push_back(path);
  }
  std::vector<bool> used(only.size(), false);
  auto listed = [&](const std::string& relative) {
    bool found = only.empty();
    for (size_t k = 0; k < only.size(); ++k) {
      const std::string& path = only[k];
      if (relative == path ||
          (relative.size() > path.size() && relative.compare(0, path.size(), path) == 0 &&
           relative[path.size()] == '/')) {
        used[k] = true;
        found = true;
      }
    }
    return found;
  };
  GatheredFiles kept;
  const bool sizesKnown = files.sizesKept && files.sizes.size() == files.names.Count();
  for (uint32_t i = 0; i < files.names.Count(); ++i) {
    const std::string path = files.names.Get(i);
    const std::string relative = path.substr(std::min(path.size(), request.basePathLength));
    if (!listed(relative) || !options.selection.Takes(request.prefix + relative)) continue;
    if (kept.names.Add(path.c_str()) == 0) return Status(Errc::kNoMemory, "no memory for the names");
    if (sizesKnown) {
      kept.sizes.push_back(files.sizes[i]);
      kept.totalSize += static_cast<uint32_t>(files.sizes[i]);
      kept.totalSize64 += files.sizes[i];
    }
  }
  kept.sizesKept = sizesKnown;
  kept.skipped = files.skipped;
  for (size_t k = 0; k < only.size(); ++k) {
    if (!used[k]) return Status(Errc::kNotFound, "no such file below the source: " + options.only[k]);
  }
  files = std::move(kept);
  return Status();
}

Status Prepare(const PackOptions& options, const Environment& env, Prepared& prepared) {
  if (options.level < WriterOptions::kStore || options.level > WriterOptions::kSmallest) {
    return Status(Errc::kInvalidArgument, "levels run from 0 to 9");
  }
  if (PathIsInside(options.archive, options.source)) {
    return Status(Errc::kInvalidArgument,
                  "the archive would lie inside the source directory: " + options.archive);
  }
  std::string source = options.source;
  for (char& c : source) {
    if (c == '\\') c = '/';
  }
  PackRequest& request = prepared.request;
  request.archivePath = options.archive;
  request.basePathLength = source.size() + (!source.empty() && source.back() != '/' ? 1 : 0);
  request.prefix = options.prefix;
  for (char& c : request.prefix) {
    if (c == '\\') c = '/';
  }
  if (!request.prefix.empty() && request.prefix.back() != '/') request.prefix += '/';
  request.update = options.update;
  request.payloads.mode = options.level > 0 ? kModeSegmented : kModeStored;
  request.payloads.level = options.level;
  request.payloads.threads = options.threads != 0 ? options.threads : HardwareThreads();
  request.payloads.checksums = true;

  prepared.files.reset(new (std::nothrow) GatheredFiles());
  if (!prepared.files) return Status(Errc::kNoMemory, "no memory to gather the files");
  scanDirectory(*prepared.files, env, source.c_str(), request.payloads.threads);
  const Status selected = Select(options, request, *prepared.files);
  if (!selected.ok()) return selected;
  if (prepared.files->names.Count() == 0) {
    return Status(Errc::kNotFound, "no files to pack in " + options.source);
  }
  return Status();
}

}  // namespace

Status Pack(const PackOptions& options, PackSummary* summary) {
  const Environment env = EnvironmentFor(options.environment, options.observer);
  PackSummary counted;
  PackSummary& done = summary != nullptr ? *summary : counted;
  done = PackSummary();
  Prepared prepared;
  const Status ready = Prepare(options, env, prepared);
  if (!ready.ok()) return ready;
  uint64_t free = 0;
  const std::string destination = platform::ParentDirectory(options.archive);
  if (!platform::FreeSpaceBytes(destination.c_str(), free) ||
      (prepared.files->totalSize64 >> 20) * 2 > (free >> 20)) {
    return Status(Errc::kTooLarge, "not enough free disk space for " + options.archive);
  }
  const PackResult packed = PackFiles(*prepared.files, prepared.request, env);
  done.entries = packed.entries;
  done.leftOut = packed.leftOut;
  done.updated = packed.updated;
  if (!packed.status.ok()) return packed.status;
  if (packed.entries == 0) return Status(Errc::kNotFound, "no file could be packed");
  return Status();
}

Status PlanPack(const PackOptions& options, std::vector<PlannedEntry>& plan) {
  plan.clear();
  // Nothing is told: a plan reads nothing but the listings and the index.
  const Environment env = EnvironmentFor(options.environment, nullptr);
  Prepared prepared;
  const Status ready = Prepare(options, env, prepared);
  if (!ready.ok()) return ready;
  const PackRequest& request = prepared.request;
  Index old;
  platform::RandomAccessFile file;
  const bool updating = options.update && file.Open(options.archive.c_str());
  if (updating && !ReadIndex(file, old).ok()) {
    return Status(Errc::kDamaged, options.archive + " is not a whole archive");
  }
  std::unordered_set<std::string> oldNames;
  for (const Entry& entry : old.entries()) {
    if (entry.name.size() >= request.prefix.size()) {
      oldNames.insert(Folded(entry.name.substr(request.prefix.size())));
    }
  }
  std::unordered_set<std::string> packed;
  for (uint32_t i = 0; i < prepared.files->names.Count(); ++i) {
    const std::string path = prepared.files->names.Get(i);
    const std::string name = path.substr(std::min(path.size(), request.basePathLength));
    packed.insert(Folded(name));
    plan.push_back({oldNames.count(Folded(name)) != 0 ? PlannedEntry::Action::kReplace
                                                       : PlannedEntry::Action::kAdd,
                    request.prefix + name});
  }
  for (const Entry& entry : old.entries()) {
    const bool carried = entry.name.size() >= request.prefix.size() &&
                         packed.count(Folded(entry.name.substr(request.prefix.size()))) == 0;
    if (carried) plan.push_back({PlannedEntry::Action::kKeep, entry.name});
  }
  return Status();
}

}  // namespace tuk
