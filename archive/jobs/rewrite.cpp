#include "archive/jobs/rewrite.h"

#include <algorithm>
#include <iterator>

#include "archive/common/byte_copy.h"
#include "archive/common/forward.h"
#include "archive/format/index_io.h"
#include "archive/format/layout.h"
#include "archive/write/atomic_output.h"

namespace tuk {
namespace {

Status Copied(const CopyOutcome& copy, uint64_t length) {
  if (copy.writeFailed) return Status(Errc::kIo, "cannot write the new archive");
  if (!copy.Complete(length)) return Status(Errc::kDamaged, "the archive ends before its index");
  return Status();
}

// Writes the index and closes the finished output.
Status Finish(platform::File& out, const AtomicOutput& target, const std::vector<Entry>& entries,
              uint32_t mode) {
  TUK_FORWARD_IF_ERROR(WriteIndex(out, "", entries, mode));
  if (!out.Close()) return Status(Errc::kIo, "cannot write " + target.name());
  return Status();
}

}  // namespace

Status ReplaceInPlace(const std::string& path, uint32_t mode, uint32_t& indexOffset,
                      std::vector<Entry>& entries, size_t index, const std::string& name,
                      const AddPayload& addNew, const PayloadSettings& settings,
                      const Environment& env) {
  const bool adding = index == entries.size();
  if (index > entries.size() || (mode != kModeStored && mode != kModeSegmented)) {
    return Status(Errc::kInvalidArgument, "no such entry, or an unknown mode");
  }
  AtomicOutput target(path, env);
  platform::File out;
  if (!env.disk->Open(out, target.name().c_str(), platform::File::Mode::Write)) {
    return Status(Errc::kIo, "cannot create " + target.name());
  }
  platform::File archive;
  if (!archive.Open(path.c_str(), platform::File::Mode::Read)) {
    return Status(Errc::kNotFound, "cannot open " + path);
  }
  // The payload goes where the old one began, or, for a new entry, where
  // the index began.
  const uint32_t oldOffset = adding ? indexOffset : entries[index].offset;
  const uint32_t oldStored = adding ? 0 : entries[index].storedSize;
  const uint64_t oldEnd = uint64_t{oldOffset} + oldStored;
  if (oldOffset < kHeaderSize || oldEnd > indexOffset) {
    return Status(Errc::kDamaged, "the entry's payload lies outside the data area");
  }
  TUK_FORWARD_IF_ERROR(Copied(CopyRange(archive, 0, oldOffset, out, false), oldOffset));

  std::vector<Entry> written;
  PayloadSettings payloads = settings;
  payloads.mode = mode;
  {
    EntryWriter writer(out, written, payloads, env);
    TUK_FORWARD_IF_ERROR(addNew(writer, name));
    TUK_FORWARD_IF_ERROR(writer.Flush());
    if (written.size() != 1) return Status(Errc::kIo, "the new bytes could not be read");
  }
  const Entry stored = written.front();
  TUK_FORWARD_IF_ERROR(
      Copied(CopyRange(archive, oldEnd, indexOffset - oldEnd, out, false), indexOffset - oldEnd));
  archive.Close();

  std::vector<Entry> updated = entries;
  const uint32_t delta = stored.storedSize - oldStored;  // wraps when shorter
  if (adding) {
    updated.push_back(stored);
  } else {
    // Every payload that began at or behind the old one's end has moved by
    // delta. That includes a payload starting where an empty replaced entry
    // stood: its bytes follow the new payload now.
    for (size_t i = 0; i < updated.size(); ++i) {
      if (i != index && updated[i].offset >= oldEnd) updated[i].offset += delta;
    }
    Entry& replaced = updated[index];
    replaced.offset = stored.offset;
    replaced.size = stored.size;
    replaced.storedSize = stored.storedSize;
    replaced.set_checksum(stored.checksum());
  }
  // Every record gets the reserved bytes' marker anew and keeps its checksum.
  const Entry fresh;
  for (Entry& entry : updated) {
    const uint64_t checksum = entry.checksum();
    std::copy(std::begin(fresh.reserved), std::end(fresh.reserved), entry.reserved);
    entry.set_checksum(checksum);
  }
  const int64_t newIndexOffset = out.Tell();
  if (newIndexOffset < 0) return Status(Errc::kIo, "cannot write " + target.name());
  TUK_FORWARD_IF_ERROR(Finish(out, target, updated, mode));
  TUK_FORWARD_IF_ERROR(target.Commit());
  entries = std::move(updated);
  indexOffset = static_cast<uint32_t>(newIndexOffset);
  return Status();
}

Status RewriteKeeping(const AtomicOutput& target, const EntrySource& source, const Index& index,
                      const std::function<bool(size_t)>& kept, const PayloadSettings& settings,
                      bool keepPayloads, const Environment& env, size_t* removed) {
  platform::File out;
  if (!env.disk->Open(out, target.name().c_str(), platform::File::Mode::Write)) {
    return Status(Errc::kIo, "cannot create " + target.name());
  }
  const std::vector<uint8_t> header = PlaceholderHeader();
  if (!out.Write(header.data(), header.size())) return Status(Errc::kIo, "cannot write");
  std::vector<Entry> entries;
  size_t left = 0;
  {
    EntryWriter writer(out, entries, settings, env);
    Progress progress;
    progress.filesTotal = index.size();
    progress.bytesTotal = index.TotalSize();
    for (size_t i = 0; i < index.size(); ++i) {
      const Entry& entry = index[i];
      progress.filesDone = i;
      progress.current = entry.name.c_str();
      env.Advance(progress);
      if (!kept(i)) {
        ++left;
        continue;
      }
      TUK_FORWARD_IF_ERROR(writer.AddEntryOf(source, entry, entry.name, keepPayloads));
      progress.bytesDone += entry.size;
    }
    TUK_FORWARD_IF_ERROR(writer.Flush());
  }
  TUK_FORWARD_IF_ERROR(Finish(out, target, entries, settings.mode));
  if (removed != nullptr) *removed = left;
  return Status();
}

}  // namespace tuk
