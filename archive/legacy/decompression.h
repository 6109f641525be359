// The unpack program's view of the payload decoder (codec/decoder.h): the
// decoded length, or 0 with its fault line.
#pragma once

#include <cstdint>

#include "archive/legacy/messages.h"
#include "codec/decoder.h"

namespace tuk {

// The number of bytes written, or 0 on any failure. Overruns are reported
// with the unpack program's fault line; a reserved instruction is not.
uint32_t Decompression(const uint8_t* input, uint32_t inputLength,
                       uint8_t* output, uint32_t outputCapacity,
                       const Messages& messages = Messages());

}  // namespace tuk
