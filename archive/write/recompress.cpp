#include "archive/write/recompress.h"

#include <new>
#include <string>
#include <vector>

#include "archive/write/atomic_output.h"
#include "archive/common/checksum.h"
#include "archive/legacy/messages.h"

namespace tuk {
namespace {

// Writes every entry of from into to, compressing through pipeline when
// there is one. False (reported) when an entry cannot be read, does not
// match its checksum, or cannot be written.
bool CopyEntries(TukFile& from, TukFile& to, CompressPipeline* pipeline) {
  // Bytes that no longer match their checksum must not be given a new one.
  from.checkChecksums = true;
  for (uint32_t i = 0; i < from.entries.size(); ++i) {
    const IndexEntry& entry = from.entries.At(i);
    from.context.ShowStatus(entry.name);
    const uint8_t* bytes = from.Extract(i, nullptr);
    if (bytes == nullptr) {
      from.messages.SayError("ERROR! Could not read entry: %s\n", entry.name);
      return false;
    }
    std::vector<uint8_t> copy(bytes, bytes + entry.size);
    if (pipeline != nullptr) {
      pipeline->Submit(entry.name, std::move(copy));
      if (to.WriteCompressed(*pipeline, false) == AddStatus::Failed) return false;
      continue;
    }
    EncodedPayload stored;
    stored.name = entry.name;
    stored.size = entry.size;
    stored.checksum = EntryChecksum(copy.data(), copy.size());
    stored.pieces.push_back(std::move(copy));
    if (to.AppendEncodedPayload(stored) != WriteStatus::Ok) return false;
  }
  return pipeline == nullptr || to.WriteCompressed(*pipeline, true) != AddStatus::Failed;
}

}  // namespace

bool RecompressArchive(TukFile& archive, int level, unsigned threads) {
  AtomicOutput target(archive.tuk_file_name, archive.context);
  bool written = false;
  try {
    std::unique_ptr<TukFile> writer(new TukFile(archive.context));
    writer->mode = level > 0 ? kModeSegmented : kModeStored;
    writer->compressionLevel = level;
    writer->compressionThreads = threads;
    writer->writeChecksums = true;
    writer->prefix = "";
    if (writer->tukFileStream.Open(target.name().c_str(), platform::File::Mode::Write,
                                   archive.context.faults) &&
        writer->WriteHeader()) {
      std::unique_ptr<CompressPipeline> pipeline;
      if (level > 0) pipeline = std::make_unique<CompressPipeline>(level, threads);
      written = CopyEntries(archive, *writer, pipeline.get()) &&
                writer->FinishArchive() == WriteStatus::Ok;
    }
    if (!written) writer->tukFileStream.Abandon();
  } catch (const std::bad_alloc&) {
    written = false;
  }
  archive.tukFileStream.Abandon();
  if (written && target.Commit()) return true;
  archive.messages.SayError("ERROR! Could not write .tuk file: %s\n", archive.tuk_file_name);
  return false;
}

}  // namespace tuk
