#include "archive/legacy/file_move.h"

#include "archive/legacy/report_lines.h"
#include "archive/write/file_move.h"

namespace tuk {

int kelMoveFile(const char* existingFileName, const char* newFileName, const Context& context) {
  const LegacyEnvironment environment(context);
  return MoveIntoPlace(existingFileName, newFileName, environment.env());
}

}  // namespace tuk
