#include "tuk/paths.h"

#include <filesystem>
#include <system_error>

namespace tuk {

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

}  // namespace tuk
