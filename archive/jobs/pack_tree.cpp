#include "tuk/pack.h"

#include <memory>
#include <new>

#include "archive/common/environment.h"
#include "archive/common/thread_pool.h"
#include "archive/format/layout.h"
#include "archive/jobs/pack_job.h"

namespace tuk {

Status Pack(const PackOptions& options, PackSummary* summary) {
  const Environment env = EnvironmentFor(options.environment, options.observer);
  PackSummary counted;
  PackSummary& done = summary != nullptr ? *summary : counted;
  done = PackSummary();
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
  PackRequest request;
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

  std::unique_ptr<GatheredFiles> files(new (std::nothrow) GatheredFiles());
  if (!files) return Status(Errc::kNoMemory, "no memory to gather the files");
  scanDirectory(*files, env, source.c_str());
  if (files->names.Count() == 0) {
    return Status(Errc::kNotFound, "no files to pack in " + options.source);
  }
  uint64_t free = 0;
  const std::string destination = platform::ParentDirectory(options.archive);
  if (!platform::FreeSpaceBytes(destination.c_str(), free) ||
      (files->totalSize64 >> 20) * 2 > (free >> 20)) {
    return Status(Errc::kTooLarge, "not enough free disk space for " + options.archive);
  }
  const PackResult packed = PackFiles(*files, request, env);
  done.entries = packed.entries;
  done.leftOut = packed.leftOut;
  done.updated = packed.updated;
  if (!packed.status.ok()) return packed.status;
  if (packed.entries == 0) return Status(Errc::kNotFound, "no file could be packed");
  return Status();
}

}  // namespace tuk
