#include "archive/jobs/pack_job.h"

#include <unordered_set>
#include <vector>

#include "archive/common/forward.h"
#include "archive/common/names.h"
#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/write/atomic_output.h"
#include "archive/write/writer_lock.h"

namespace tuk {
namespace {

// Tells a failure that ends the packing, where nothing told it before.
Status Fail(const Environment& env, const std::string& path, Status status) {
  if (status.code() == Errc::kTooLarge) env.Tell(Event::kArchiveTooLarge, path);
  if (status.code() == Errc::kIo || status.code() == Errc::kNoMemory) {
    env.Tell(Event::kArchiveUnwritable, path);
  }
  return status;
}

// Copies the old archive's entries whose names were not packed again, in
// the old index's order; each keeps its payload and checksum. An old name
// listed twice is carried over twice. The old names lose the prefix's
// length in front, which the index puts back.
Status CarryOver(EntryWriter& writer, platform::File& old, const Index& oldIndex,
                 std::vector<Entry>& entries, size_t prefixLength, uint32_t& leftOut,
                 const Environment& env) {
  std::unordered_set<std::string> packed;
  for (const Entry& entry : entries) packed.insert(Folded(entry.name));
  for (const Entry& source : oldIndex.entries()) {
    if (source.name.size() < prefixLength ||
        source.name.size() - prefixLength > kMaxNameLength) {
      env.Tell(Event::kEntryNotCarried, source.name);
      ++leftOut;
      continue;
    }
    Entry carried;
    carried.name = source.name.substr(prefixLength);
    if (packed.count(Folded(carried.name)) != 0) continue;  // the new file replaces it
    carried.storedSize = source.storedSize;
    carried.size = source.size;
    carried.offset = source.offset;
    carried.set_checksum(source.checksum());
    const std::string name = carried.name;
    const Status copied = writer.CopyPayload(old, std::move(carried));
    if (copied.code() == Errc::kDamaged) env.Tell(Event::kOldPayloadUnreadable, name);
    if (copied.code() == Errc::kIo) env.Tell(Event::kOldPayloadUnwritable, name);
    TUK_FORWARD_IF_ERROR(copied);
  }
  return Status();
}

}  // namespace

PackResult PackFiles(const GatheredFiles& files, const PackRequest& request,
                     const Environment& env) {
  PackResult result;
  const std::string& path = request.archivePath;
  auto fail = [&](Status status) {
    result.status = Fail(env, path, std::move(status));
    result.entries = 0;
    return result;
  };

  // From before the old archive is read until the new one is in place.
  const WriterLock lock(path, env);
  platform::File old;
  Index oldIndex;
  result.updated = request.update && old.Open(path.c_str(), platform::File::Mode::Read);
  if (result.updated && !ReadIndex(old, oldIndex).ok()) {
    env.Tell(Event::kOldArchiveUnreadable, path);
    result.status = Status(Errc::kDamaged, path + " is not a whole archive");
    return result;
  }
  // Whatever lies at the archive path stays untouched until the new archive
  // is complete.
  AtomicOutput target(path, env);
  platform::File out;
  if (!env.disk->Open(out, target.name().c_str(), platform::File::Mode::Write)) {
    env.Tell(Event::kArchiveUncreatable, path);
    result.status = Status(Errc::kIo, "cannot create " + path);
    return result;
  }

  PayloadSettings payloads = request.payloads;
  payloads.prefix = request.prefix;
  if (result.updated) {
    payloads.mode = oldIndex.mode();
    if (payloads.mode != kModeStored && payloads.mode != kModeSegmented) {
      env.Tell(Event::kUnknownMode, path, payloads.mode);
      result.status = Status(Errc::kInvalidArgument, "unknown mode");
      return result;
    }
  }

  std::vector<Entry> entries;
  const std::vector<uint8_t> header = PlaceholderHeader();
  if (!out.Write(header.data(), header.size())) return fail(Status(Errc::kIo, "cannot write"));
  {
    EntryWriter writer(out, entries, payloads, env);
    const uint32_t count = files.names.Count();
    const bool sizesKnown = files.sizesKept && files.sizes.size() == count;
    Progress progress;
    progress.filesTotal = count;
    progress.bytesTotal = files.totalSize64;
    for (uint32_t i = 0;; ++i) {
      progress.filesDone = i;
      progress.current = i < count ? files.names.Get(i) : "";
      env.Advance(progress);
      if (env.ShouldStop()) {
        result.stopped = true;
        break;
      }
      if (i == count) break;
      const std::string name(files.names.Get(i));
      if (name.size() < request.basePathLength) {
        env.Tell(Event::kInputNameTooLong, name);
        ++result.leftOut;
        continue;
      }
      const Status added =
          writer.AddFile(name, name.substr(request.basePathLength),
                         sizesKnown ? std::optional<uint64_t>(files.sizes[i]) : std::nullopt);
      if (!added.ok()) return fail(added);
      if (sizesKnown) progress.bytesDone += files.sizes[i];
    }
    const Status flushed = writer.Flush();
    if (!flushed.ok()) return fail(flushed);
    if (!result.stopped) {
      progress.finished = true;
      env.Advance(progress);
    }
    result.leftOut += files.skipped + writer.skipped();
    if (result.updated) {
      const Status carried =
          CarryOver(writer, old, oldIndex, entries, request.prefix.size(), result.leftOut, env);
      if (!carried.ok()) return fail(carried);
    }
  }
  old.Close();

  const Status indexed = WriteIndex(out, request.prefix, entries, payloads.mode);
  if (!indexed.ok()) return fail(indexed);
  if (!out.Close()) return fail(Status(Errc::kIo, "cannot write " + target.name()));
  // With nothing packed, no archive is left, and whatever lay at the
  // archive path before stays as it was.
  if (entries.empty()) return result;
  const Status committed = target.Commit();
  if (!committed.ok()) return fail(committed);
  result.entries = static_cast<uint32_t>(entries.size());
  return result;
}

}  // namespace tuk
