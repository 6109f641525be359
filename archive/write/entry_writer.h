// Appending entries to an archive being written: the one road every entry
// takes into an archive, whether it comes from an input file, from bytes
// in memory, or from another archive (its payload copied as it is, or its
// bytes recoded). Payloads are written at the output's position, in the
// order they were added, and each one's entry is appended to entries.
//
// Inputs up to kWholeEntryLimit are read and encoded whole; larger ones
// pass through in blocks, or are compressed in pieces of 16 segments with
// the 32 KiB before each, so memory stays bounded whatever their size.
// Compressing, the workers read the input files themselves.
// Compressed payloads are made on worker threads (CompressPipeline) and
// written in order, so the archive's bytes never depend on the threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/common/aligned_block.h"
#include "archive/common/environment.h"
#include "archive/read/entry_bytes.h"
#include "tuk/index.h"
#include "tuk/status.h"

namespace tuk {

class CompressPipeline;
class PayloadStream;

struct PayloadSettings {
  uint32_t mode = 0;      // the archive's mode field
  // What the index puts in front of every name (the pack prefix): a name
  // must fit 259 characters with it, and entries are told done with it.
  std::string prefix;
  int level = 0;          // in mode 1: 0 writes literal runs, 1 to 9 compress at that level
  unsigned threads = 1;   // threads that compress
  bool checksums = false; // new entries carry a checksum of their bytes
};

class EntryWriter {
 public:
  EntryWriter(platform::File& out, std::vector<Entry>& entries, const PayloadSettings& settings,
              const Environment& env);
  ~EntryWriter();
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // Appends the file at path as the entry name; scannedSize is its size
  // when a directory scan already took it. An input that cannot be stored
  // (unreadable, too big, a name too long, no memory for it) is left out:
  // reported, counted in skipped(), and not a failure. A failure means the
  // archive cannot be finished.
  Status AddFile(const std::string& path, const std::string& name,
                 std::optional<uint64_t> scannedSize = std::nullopt);
  // AddFile for an input already opened and measured as size bytes: one
  // that then gives fewer is left out and what was written of it taken back.
  Status AddOpened(const std::string& path, const std::string& name, platform::File& input,
                   uint32_t size);
  // The same for a big input when compressing: the pipeline's workers read
  // its pieces, so the bytes never pass through this thread.
  Status AddOpened(const std::string& path, const std::string& name,
                   std::shared_ptr<const platform::RandomAccessFile> input, uint32_t size);
  // Appends size bytes from memory as the entry name.
  Status AddBytes(const std::string& name, const uint8_t* data, size_t size);
  // Appends entry of another archive (read from source) as the entry name:
  // its payload as it is when the modes agree and keepPayload is set (with
  // its checksum), else its bytes encoded anew. An entry that does not
  // yield its bytes, or whose bytes do not match its checksum, fails with
  // kDamaged.
  Status AddEntryOf(const EntrySource& source, const Entry& entry, const std::string& name,
                    bool keepPayload = true);
  // Copies entry's payload (at its offset in source) as it is behind what
  // was written, and appends the entry with its new offset. A payload that
  // cannot be read whole fails with kDamaged, one not written with kIo;
  // the message is the entry's name.
  Status CopyPayload(platform::File& source, Entry entry);
  Status CopyPayload(const platform::RandomAccessFile& source, Entry entry);
  // Writes every payload still being compressed.
  Status Flush();

  uint32_t skipped() const { return skipped_; }
  // Why the last input left out was.
  Event lastSkip() const { return lastSkip_; }
  const PayloadSettings& settings() const { return settings_; }

 private:
  bool Compressing() const;
  void Skip(Event why, const std::string& path, uint64_t value = 0);
  // Opens and measures an input file; false (reported) when it is left out.
  bool OpenInput(const std::string& path, const std::string& name, platform::File& input,
                 uint32_t& size);
  // Whether an input measured as measured bytes (negative: unknown) can be
  // stored under name; false (reported) when it is left out.
  bool Admit(const std::string& path, const std::string& name, int64_t measured, uint32_t& size);
  bool NameFits(const std::string& path, const std::string& name);
  Status AddWhole(const std::string& name, const uint8_t* data, uint32_t size);
  Status AddStreamed(const std::string& path, const std::string& name, platform::File& input,
                     uint32_t size, CompressPipeline* pipeline);
  // Leaves out the input at path whose payload stream could not be
  // completed: what was written of it is taken back, and why is told.
  Status LeaveOut(PayloadStream& stream, const std::string& path, Event why);
  // A file a worker found changed in size since the scan.
  Status AddChanged(const std::string& path, const std::string& name);
  // Writes the oldest payloads compressed: while the pipeline is full, up
  // to the first piece of a big file, while full and up to that piece, or
  // all of them.
  enum class Until { kRoom, kPieceFirst, kRoomBeforePiece, kEmpty };
  Status WriteFinished(Until until);
  // What a payload streamed through pipeline writes of the payloads ahead
  // of it: all of them before its first byte, or as many as make room.
  std::function<Status(bool untilRoom)> WriteAhead(CompressPipeline* pipeline);
  // Ends a streamed payload; its entry is appended once its pieces are
  // written, which may be after the files that follow it are submitted.
  Status EndStream(std::unique_ptr<PayloadStream> stream);
  Status Append(Entry entry, const std::vector<std::vector<uint8_t>>& pieces);
  Status StartEntry(Entry& entry);
  Status Fits(const Entry& entry, uint64_t storedSize) const;
  Status TakeBack(const Entry& entry);
  // Tells the observer the entry just appended is done.
  void Appended();

  platform::File& out_;
  std::vector<Entry>& entries_;
  const PayloadSettings settings_;
  const Environment env_;
  GrowingBuffer buffer_;             // one input file, read whole
  std::vector<uint8_t> streams_;     // its segment streams in mode 1
  // Buffers the workers read big files' pieces into, kept from file to file.
  std::vector<std::vector<uint8_t>> pieceBuffers_;
  std::unique_ptr<CompressPipeline> pipeline_;
  std::unique_ptr<PayloadStream> finishing_;  // a streamed payload whose last pieces are queued
  std::string finishingPath_;                 // the input it comes from, when the workers read it
  uint32_t skipped_ = 0;
  Event lastSkip_ = Event::kInputUnreadable;
};

}  // namespace tuk
