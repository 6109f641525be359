// Replacing one entry of a loaded archive, or adding one: the engine's
// rewrite, with the legacy object's index and buffer.
#include <string>

#include "archive/legacy/report_lines.h"
#include "archive/legacy/tuk_file.h"
#include "archive/extract/extractor.h"
#include "archive/jobs/rewrite.h"
#include "archive/write/writer_lock.h"

namespace tuk {

int32_t TukFile::AddReplaceFile(uint32_t index, uint32_t size, const char* newName) {
  context.ShowStatus("AddReplaceFile()");
  const bool adding = index == entries.size();
  if (index > entries.size() || (adding && newName == nullptr)) return 1;
  currentSize = size;
  // Of what goes wrong, only a failed move into place has lines of its
  // own; everything else goes to the status receiver.
  LegacyEnvironment environment(context);
  environment.observer().set_filter([](Event event) { return event == Event::kMoveFailed; });
  PayloadSettings settings;
  settings.level = compressionLevel;
  settings.threads = compressionThreads;
  settings.checksums = writeChecksums;
  const std::string name = adding ? newName : entries[index].name;
  const AddPayload addNew = [this, size](EntryWriter& writer, const std::string& entryName) {
    return writer.AddBytes(entryName, rawBuffer.get(), size);
  };
  const uint32_t oldSize = adding ? 0 : entries[index].size;
  const Status replaced = ReplaceInPlace(tuk_file_name, mode, indexOffset, entries, index, name,
                                         addNew, settings, environment.env());
  if (!replaced.ok()) {
    context.ShowStatus("ERROR! Could not update .tuk!");
    return 1;
  }
  extractor_.reset();  // the file it read was replaced
  archiveFile_.Open(tuk_file_name);
  totalSize = totalSize - oldSize + size;
  context.ShowStatus(".tuk was updated.");
  return 0;
}

}  // namespace tuk
