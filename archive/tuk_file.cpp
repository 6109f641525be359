#include "archive/tuk_file.h"

#include <new>

#include "archive/messages.h"

namespace tuk {

namespace {

// Uninitialised on purpose: pages of a large buffer cost memory only once
// they are written.
std::unique_ptr<uint8_t[]> Allocate(uint64_t bytes) {
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow)
                                        uint8_t[static_cast<size_t>(bytes)]);
}

}  // namespace

TukFile::TukFile(const Context& context)
    : context(context), messages(this->context.messages) {
  rawBuffer = Allocate(kInitialRawCapacity);
  if (rawBuffer) rawCapacity = kInitialRawCapacity;
  packedBuffer = Allocate(kInitialPackedCapacity);
  if (packedBuffer) packedCapacity = kInitialPackedCapacity;
}

TukFile::~TukFile() = default;

bool TukFile::GrowRawBuffer(uint64_t capacity) {
  if (capacity <= rawCapacity && rawBuffer) return true;
  std::unique_ptr<uint8_t[]> bigger = Allocate(capacity);
  if (!bigger) return false;
  rawBuffer = std::move(bigger);
  rawCapacity = static_cast<uint32_t>(capacity);
  return true;
}

bool TukFile::GrowPackedBuffer(uint64_t capacity) {
  if (capacity <= packedCapacity && packedBuffer) return true;
  std::unique_ptr<uint8_t[]> bigger = Allocate(capacity);
  if (!bigger) return false;
  packedBuffer = std::move(bigger);
  packedCapacity = static_cast<uint32_t>(capacity);
  return true;
}

}  // namespace tuk
