#include "tuk/libarchive_loader.h"

#include <dlfcn.h>

namespace tuk {
namespace {

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  if (function == nullptr) error = std::string(TUK_LIBARCHIVE_SONAME) + " has no " + name;
  return function != nullptr;
}

struct Loaded {
  LibArchive functions;
  bool ok = false;
  std::string error;

  Loaded() {
    void* library = dlopen(TUK_LIBARCHIVE_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* why = dlerror();
      error = why != nullptr ? why : std::string("cannot load ") + TUK_LIBARCHIVE_SONAME;
      return;
    }
#define TUK_LIBARCHIVE_RESOLVE(name)                                \
  if (!Resolve(library, #name, functions.name, error)) {            \
    dlclose(library);                                               \
    return;                                                         \
  }
    TUK_LIBARCHIVE_FUNCTIONS(TUK_LIBARCHIVE_RESOLVE)
#undef TUK_LIBARCHIVE_RESOLVE
    // Kept open: its functions are used until the program ends.
    ok = true;
  }
};

}  // namespace

const LibArchive* LoadLibArchive(std::string& error) {
  static const Loaded loaded;  // thread-safe, and tried once
  if (!loaded.ok) error = loaded.error;
  return loaded.ok ? &loaded.functions : nullptr;
}

}  // namespace tuk
