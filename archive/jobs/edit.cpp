// Replacing, deleting and recoding entries of an existing archive, each a
// rewrite under the writer lock from an index read under it. The archive
// is closed before its replacement takes its name: Windows does not move a
// file over one that is open.
#include "tuk/edit.h"

#include "archive/common/environment.h"
#include "archive/common/forward.h"
#include "archive/common/thread_pool.h"
#include "archive/format/layout.h"
#include "archive/read/reader_access.h"
#include "archive/jobs/rewrite.h"
#include "archive/write/atomic_output.h"
#include "archive/write/writer_lock.h"

namespace tuk {
namespace {

// The archive's index, read whole: a damaged one is not rewritten, as the
// entries behind the damage would be lost.
Status OpenWhole(const std::string& path, ArchiveReader& reader) {
  const Status opened = reader.Open(path);
  if (opened.ok() || opened.code() == Errc::kNotFound) return opened;
  return Status(opened.code(), opened.message() + " (it is not changed)");
}

PayloadSettings SettingsFor(uint32_t mode, const EditOptions& options) {
  PayloadSettings settings;
  settings.mode = mode;
  settings.level = options.level;
  settings.threads = options.threads != 0 ? options.threads : HardwareThreads();
  settings.checksums = true;
  return settings;
}

}  // namespace

Status ReplaceEntry(const std::string& archive, const std::string& name, const std::string& file,
                    const EditOptions& options) {
  if (name.empty() || name.size() > kMaxNameLength || !IsSafeName(name)) {
    return Status(Errc::kUnsafeName, "not a usable entry name: " + name);
  }
  const Environment env = EnvironmentFor(options.environment, options.observer);
  // The index is read under the lock, so no other writer's entries are lost.
  const WriterLock lock(archive, env);
  std::vector<Entry> entries;
  size_t at = 0;
  uint32_t indexOffset = 0;
  uint32_t mode = 0;
  {
    // Only the index is wanted; the archive is closed before it is replaced.
    ArchiveReader reader;
    TUK_FORWARD_IF_ERROR(OpenWhole(archive, reader));
    const Index& index = reader.index();
    entries = index.entries();
    at = index.Lookup(name).value_or(entries.size());
    indexOffset = index.indexOffset();
    mode = index.mode();
  }
  Status read;
  const AddPayload addNew = [&](EntryWriter& writer, const std::string& entryName) {
    const uint32_t skipped = writer.skipped();
    TUK_FORWARD_IF_ERROR(writer.AddFile(file, entryName));
    if (writer.skipped() != skipped) read = Status(Errc::kNotFound, "cannot read " + file);
    return read;
  };
  return ReplaceInPlace(archive, mode, indexOffset, entries, at, name, addNew,
                        SettingsFor(mode, options), env);
}

Status DeleteEntries(const std::string& archive,
                     const std::function<bool(const Entry& entry)>& selected,
                     const EditOptions& options, size_t* deleted) {
  const Environment env = EnvironmentFor(options.environment, options.observer);
  const WriterLock lock(archive, env);
  AtomicOutput target(archive, env);
  {
    ArchiveReader reader;
    TUK_FORWARD_IF_ERROR(OpenWhole(archive, reader));
    const Index& index = reader.index();
    TUK_FORWARD_IF_ERROR(RewriteKeeping(
        target, SourceOf(reader), index, [&](size_t i) { return !selected(index[i]); },
        SettingsFor(index.mode(), options), true, env, deleted));
  }
  return target.Commit();
}

Status Recompress(const std::string& archive, const EditOptions& options) {
  const Environment env = EnvironmentFor(options.environment, options.observer);
  const WriterLock lock(archive, env);
  AtomicOutput target(archive, env);
  {
    ArchiveReader reader;
    TUK_FORWARD_IF_ERROR(OpenWhole(archive, reader));
    const uint32_t mode = options.level > 0 ? kModeSegmented : kModeStored;
    TUK_FORWARD_IF_ERROR(RewriteKeeping(target, SourceOf(reader), reader.index(),
                                        [](size_t) { return true; }, SettingsFor(mode, options),
                                        false, env));
  }
  return target.Commit();
}

}  // namespace tuk
