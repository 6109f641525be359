#include "archive/legacy/path_checks.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "archive/format/entry_list.h"
#include "archive/format/format.h"
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

}  // namespace

void lowerCasePath(char* text) {
  for (uint32_t i = 0; i < kPathBufferSize && text[i] != '\0'; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
  }
}

uint32_t hasIllegalChars(const char* text, int allowDriveColon) {
  for (uint32_t i = 0; i < kPathBufferSize && text[i] != '\0'; ++i) {
    const signed char c = static_cast<signed char>(text[i]);
    if (c < 32 || c > 122) return 1;
    if (c == ':' && i == 1 && allowDriveColon == 1) continue;
    if (std::strchr("\"*:<>?", c) != nullptr) return 1;
  }
  return 0;
}

bool PathIsInside(const std::string& path, const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path inner = fs::weakly_canonical(fs::absolute(path, error), error);
  const fs::path outer = fs::weakly_canonical(fs::absolute(directory, error), error);
  auto same = [](const fs::path& a, const fs::path& b) {
#ifdef _WIN32
    const std::string x = a.string();
    const std::string y = b.string();
    return x.size() == y.size() &&
           EqualIgnoringAsciiCase(x.c_str(), y.c_str(), static_cast<uint32_t>(x.size()));
#else
    return a == b;
#endif
  };
  auto i = inner.begin();
  for (const fs::path& component : outer) {
    if (component.empty()) continue;  // a trailing separator
    if (i == inner.end() || !same(*i, component)) return false;
    ++i;
  }
  return true;
}

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
