#include "archive/write/file_move.h"

#include <memory>
#include <new>
#include <string>

#include "archive/common/copy_bytes.h"
#include "archive/legacy/messages.h"
#include "platform/platform.h"

namespace tuk {
namespace {

constexpr size_t kCopyChunk = 65536;
constexpr int kNoBuffer = 6;

}  // namespace

int kelMoveFile(const char* existingFileName, const char* newFileName,
                const Context& context) {
  const Messages& messages = context.messages;
  platform::FaultPlan* const faults = context.faults;
  if (platform::MoveFileReplace(existingFileName, newFileName, faults)) return 1;

  platform::File source;
  if (!source.Open(existingFileName, platform::File::Mode::Read)) {
    messages.SayError("Error! kelMoveFile(): Could not open file: %s\n", existingFileName);
    return 2;
  }
  // The copy is built under a name of its own beside the destination, so
  // the destination is replaced whole or not at all.
  const std::string partial = std::string(newFileName) + ".part";
  platform::File destination;
  if (!destination.Open(partial.c_str(), platform::File::Mode::Write, faults)) {
    messages.SayError("Error! kelMoveFile(): Could not create file: %s\n", newFileName);
    return 3;
  }
  const int64_t length = source.Length();

  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyChunk]);
  if (!buffer) {
    messages.SayError("Error! kelMoveFile(): Failed to create buffer\n");
    destination.Close();
    platform::RemoveFile(partial.c_str());
    return kNoBuffer;
  }

  int tmpRetValue = 4;
  if (length >= 0) {
    const CopyResult copied = CopyBytes(source, destination, static_cast<uint64_t>(length),
                                        buffer.get(), kCopyChunk);
    tmpRetValue = copied == CopyResult::kDone ? 0 : copied == CopyResult::kShortRead ? 4 : 5;
  }
  buffer.reset();
  if (!destination.Close() && tmpRetValue == 0) tmpRetValue = 5;
  // The copy must be on the disk before it takes the destination's name.
  if (tmpRetValue == 0 && !platform::SyncToDisk(partial.c_str(), faults)) tmpRetValue = 5;
  source.Close();
  if (tmpRetValue == 0 &&
      !platform::MoveFileReplace(partial.c_str(), newFileName, faults)) {
    tmpRetValue = 5;
  }
  if (tmpRetValue != 0) {
    platform::RemoveFile(partial.c_str());
    messages.SayError("Error! kelMoveFile(), reading or writing to .tuk file, tmpRetValue: "
             "%d\n",
             tmpRetValue);
    return tmpRetValue;
  }
  return platform::RemoveFile(existingFileName) ? 1 : 0;
}

}  // namespace tuk
