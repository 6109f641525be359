#include "archive/legacy/tuk_file.h"

#include <new>

#include "archive/legacy/messages.h"

namespace tuk {

namespace {

constexpr std::align_val_t kPage{4096};

// Uninitialised on purpose: pages of a large buffer cost memory only once
// they are written.
PageAlignedBuffer Allocate(uint64_t bytes) {
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return nullptr;
  return PageAlignedBuffer(static_cast<uint8_t*>(
      ::operator new[](static_cast<size_t>(bytes), kPage, std::nothrow)));
}

}  // namespace

TukFile::TukFile(const Context& context)
    : context(context), messages(this->context.messages) {
  rawBuffer = Allocate(kInitialRawCapacity);
  if (rawBuffer) rawCapacity = kInitialRawCapacity;
  packedBuffer = Allocate(kInitialPackedCapacity);
  if (packedBuffer) packedCapacity = kInitialPackedCapacity;
}

void PageAlignedDelete::operator()(uint8_t* bytes) const {
  ::operator delete[](bytes, kPage);
}

TukFile::~TukFile() = default;

bool TukFile::GrowRawBuffer(uint64_t capacity) {
  if (capacity <= rawCapacity && rawBuffer) return true;
  PageAlignedBuffer bigger = Allocate(capacity);
  if (!bigger) return false;
  rawBuffer = std::move(bigger);
  rawCapacity = static_cast<uint32_t>(capacity);
  return true;
}

bool TukFile::GrowPackedBuffer(uint64_t capacity) {
  if (capacity <= packedCapacity && packedBuffer) return true;
  PageAlignedBuffer bigger = Allocate(capacity);
  if (!bigger) return false;
  packedBuffer = std::move(bigger);
  packedCapacity = static_cast<uint32_t>(capacity);
  return true;
}

}  // namespace tuk
