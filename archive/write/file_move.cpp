#include "archive/write/file_move.h"

#include <string>

#include "archive/common/byte_copy.h"
#include "platform/platform.h"

namespace tuk {

int MoveIntoPlace(const char* from, const char* to, const Environment& env) {
  const platform::Disk& disk = *env.disk;
  if (disk.MoveReplace(from, to)) return kMoved;
  auto failed = [&env](int result, const char* subject) {
    env.Tell(Event::kMoveFailed, subject, static_cast<uint64_t>(result));
    return result;
  };

  platform::File source;
  if (!source.Open(from, platform::File::Mode::Read)) return failed(kSourceUnreadable, from);
  // The copy is built under a name of its own beside the destination, so
  // the destination is replaced whole or not at all.
  const std::string partial = std::string(to) + ".part";
  platform::File destination;
  if (!disk.Open(destination, partial.c_str(), platform::File::Mode::Write)) {
    return failed(kDestinationUncreatable, to);
  }
  const int64_t length = source.Length();
  int result = kReadShort;
  if (length >= 0) {
    const CopyOutcome copy = CopyRange(source, 0, static_cast<uint64_t>(length), destination, false);
    result = copy.Complete(static_cast<uint64_t>(length)) ? 0
             : copy.writeFailed                          ? kWriteShort
                                                         : kReadShort;
  }
  if (!destination.Close() && result == 0) result = kWriteShort;
  // The copy must be on the disk before it takes the destination's name.
  if (result == 0 && !disk.Sync(partial.c_str())) result = kWriteShort;
  source.Close();
  if (result == 0 && !disk.MoveReplace(partial.c_str(), to)) result = kWriteShort;
  if (result != 0) {
    platform::RemoveFile(partial.c_str());
    return failed(result, to);
  }
  return platform::RemoveFile(from) ? kMoved : kCopiedSourceKept;
}

}  // namespace tuk
