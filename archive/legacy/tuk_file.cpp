#include "archive/legacy/tuk_file.h"

#include <cstring>
#include <new>

#include "archive/legacy/report_lines.h"
#include "archive/extract/extractor.h"
#include "archive/write/entry_writer.h"

namespace tuk {

TukFile::TukFile(const Context& context)
    : context(context), messages(this->context.messages) {
  GrowRawBuffer(kInitialRawCapacity);
}

const Environment& TukFile::Env() {
  if (!environment_ || environmentFaults_ != context.faults) {
    extractor_.reset();  // it holds the environment it was made with
    environment_ = std::make_unique<LegacyEnvironment>(context);
    environmentFaults_ = context.faults;
  }
  return environment_->env();
}

TukFile::~TukFile() = default;

bool TukFile::GrowRawBuffer(uint64_t capacity) {
  GrowingBuffer buffer{std::move(rawBuffer), rawCapacity};
  const bool grown = buffer.Grow(capacity);
  rawBuffer = std::move(buffer.bytes);
  rawCapacity = buffer.capacity;
  return grown;
}

namespace {

// The writer of one legacy writing call: whatever it compresses is written
// before the call returns.
Status WriteThrough(TukFile& archive, const Environment& env,
                    const std::function<Status(EntryWriter&)>& write) {
  PayloadSettings settings;
  settings.mode = archive.mode;
  settings.level = archive.compressionLevel;
  settings.threads = archive.compressionThreads;
  settings.checksums = archive.writeChecksums;
  EntryWriter writer(archive.tukFileStream, archive.entries, settings, env);
  const Status written = write(writer);
  const Status flushed = writer.Flush();
  archive.skippedInputs += writer.skipped();
  return written.ok() ? flushed : written;
}

}  // namespace

Status TukFile::StoreFilePayload(uint32_t size, const char* name) {
  const size_t length = std::strlen(name);
  if (length < basePathLength || length - basePathLength > kMaxNameLength) {
    return Status(Errc::kInvalidArgument, std::string("name too long: ") + name);
  }
  return WriteThrough(*this, Env(), [&](EntryWriter& writer) {
    return writer.AddBytes(name + basePathLength, rawBuffer.get(), size);
  });
}

Status TukFile::AddFile(const char* path) {
  const size_t length = std::strlen(path);
  if (length < basePathLength) {
    Env().Tell(Event::kInputNameTooLong, path);
    ++skippedInputs;
    return Status();
  }
  return WriteThrough(*this, Env(), [&](EntryWriter& writer) {
    return writer.AddFile(path, path + basePathLength);
  });
}

}  // namespace tuk
