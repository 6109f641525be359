#include "archive/status_sink.h"

namespace tuk {
namespace {

StatusSink silentSink;
StatusSink* installed = &silentSink;

}  // namespace

StatusSink& StatusReceiver() { return *installed; }

void SetStatusSink(StatusSink* sink) {
  installed = sink != nullptr ? sink : &silentSink;
}

}  // namespace tuk
