// The plainest mode-1 encoding, the one the legacy writers have always
// used: each segment is a single literal run (its bytes as they are)
// followed by the end marker. Decoders of the format read it like any
// other stream; it costs a few bytes per segment and no search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tuk {

// Writes the header of a literal run of literalCount bytes at out +
// position and moves position behind it: one byte below 239, else a 0, one
// 0 for every further 255 and a closing byte (at most 130 bytes for a
// full segment).
void WriteLiteralRunHeader(uint8_t* out, uint32_t& position, uint32_t literalCount);

// The length of the stream of one segment of length bytes: its header, the
// bytes and the end marker.
uint32_t LiteralRunStreamLength(uint32_t length);

// Room EncodeLiteralRuns needs for a file of size bytes.
uint64_t LiteralRunStreamsBound(uint32_t size);

// Encodes size (> 0) bytes as one literal-run stream per segment, back to
// back in out, which holds at least LiteralRunStreamsBound(size) bytes.
// Returns the streams' total length; streamLengths receives each one's.
uint32_t EncodeLiteralRuns(const uint8_t* data, uint32_t size, uint8_t* out,
                           std::vector<uint32_t>& streamLengths);

}  // namespace tuk
