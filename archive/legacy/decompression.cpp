#include "archive/legacy/decompression.h"

#include "archive/legacy/messages.h"

namespace tuk {

uint32_t Decompression(const uint8_t* input, uint32_t inputLength,
                       uint8_t* output, uint32_t outputCapacity,
                       const Messages& messages) {
  const DecodeOutcome outcome =
      DecodePayload(input, inputLength, output, outputCapacity);
  switch (outcome.error) {
    case DecodeError::None:
      return outcome.length;
    case DecodeError::ReservedInstruction:
      return 0;
    default:
      messages.TraceError("ERROR! CRASH  Decompression()!\n");
      return 0;
  }
}

}  // namespace tuk
