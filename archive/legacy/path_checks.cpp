#include "archive/legacy/path_checks.h"

#include <cstring>

#include "archive/common/names.h"
#include "archive/format/layout.h"
#include "archive/legacy/messages.h"

namespace tuk {
namespace {

void SlashesForward(char* text) {
  for (uint32_t i = 0; i < kPathBufferSize && text[i] != '\0'; ++i) {
    if (text[i] == '\\') text[i] = '/';
  }
}

void SayPaths(const Messages& messages, const char* strDirSource,
              const char* strTukName) {
  messages.Say("strDirSource: %s strTukName: %s\n", strDirSource, strTukName);
}

// A-Z to a-z in place, over at most the first 512 characters.
void lowerCasePath(char* text) {
  for (uint32_t i = 0; i < kPathBufferSize && text[i] != '\0'; ++i) {
    text[i] = FoldAscii(text[i]);
  }
}

// 1 when text holds a control character, a byte above 122 ('{', '|', '}',
// '~' and 127 among them), '"', '*', '<', '>', '?', or a ':' anywhere but
// the second place (allowed there when allowDriveColon is 1); else 0.
uint32_t hasIllegalChars(const char* text, int allowDriveColon) {
  for (uint32_t i = 0; i < kPathBufferSize && text[i] != '\0'; ++i) {
    const signed char c = static_cast<signed char>(text[i]);
    if (c < 32 || c > 122) return 1;
    if (c == ':' && i == 1 && allowDriveColon == 1) continue;
    if (std::strchr("\"*:<>?", c) != nullptr) return 1;
  }
  return 0;
}

}  // namespace

uint32_t checkPackPaths(char* strDirSource, char* strTukName,
                        const Messages& messages) {
  // Only the first 511 characters would be looked at: a longer path could
  // hide what follows them.
  if (std::strlen(strDirSource) >= kPathBufferSize) {
    messages.SayError("ERROR! Path too long: %s\n", strDirSource);
    return 3;
  }
  if (std::strlen(strTukName) >= kPathBufferSize) {
    messages.SayError("ERROR! Path too long: %s\n", strTukName);
    return 3;
  }
  lowerCasePath(strDirSource);
  SlashesForward(strDirSource);
  SlashesForward(strTukName);
  char lowered[kPathBufferSize];
  std::strcpy(lowered, strTukName);
  lowerCasePath(lowered);

  bool inside = false;
  for (uint32_t i = 0; i < kPathBufferSize; ++i) {
    if (strDirSource[i] == '\0') {
      inside = true;
      break;
    }
    if (lowered[i] == '\0' || lowered[i] != strDirSource[i]) break;
  }
  if (inside) {
    messages.SayError("ERROR! save inside source dir\n");
    SayPaths(messages, strDirSource, strTukName);
    return 2;
  }
  if (hasIllegalChars(strDirSource, 1) != 0) {
    messages.SayError("ERROR! Illegal Characters (strDirSource)\n");
    SayPaths(messages, strDirSource, strTukName);
    return 3;
  }
  if (hasIllegalChars(strTukName, 1) != 0) {
    messages.SayError("ERROR! Illegal Characters (strTukName)\n");
    SayPaths(messages, strDirSource, strTukName);
    return 3;
  }
  return 0;
}

}  // namespace tuk
