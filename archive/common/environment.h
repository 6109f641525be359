// What every operation of the library is handed instead of reaching for
// process-wide state: the disk its files are on (the real one, or in tests
// one whose operations fail on purpose) and the observer that hears what
// it reports. Cheap to copy; neither is owned.
#pragma once

#include <cstdint>
#include <string>

#include "platform/disk.h"
#include "tuk/events.h"

namespace tuk {

struct Environment {
  const platform::Disk* disk = &platform::RealDisk();
  Observer* observer = nullptr;  // none: reports go nowhere, nothing stops

  void Tell(Event event, std::string subject, uint64_t value = 0, uint64_t other = 0) const {
    if (observer != nullptr) observer->OnReport(Report{event, std::move(subject), value, other});
  }
  void Advance(const Progress& progress) const {
    if (observer != nullptr) observer->OnProgress(progress);
  }
  bool ShouldStop() const { return observer != nullptr && observer->ShouldStop(); }
  void Done(const std::string& name) const {
    if (observer != nullptr) observer->OnEntryDone(name);
  }
};

// The environment a public call's options give: theirs (tests hand in a
// failing disk) or the real disk, with their observer.
inline Environment EnvironmentFor(const Environment* given, Observer* observer) {
  Environment env = given != nullptr ? *given : Environment();
  if (observer != nullptr) env.observer = observer;
  return env;
}

}  // namespace tuk
