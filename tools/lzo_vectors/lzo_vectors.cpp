// lzo_vectors: turns files into segmented payloads with liblzo2's LZO1X
// compressors, as test vectors for the tuk decoder.
//
// A segmented payload is a u32 segment count N, N records of three u32
// {packedSize, size, offset}, then the N segment streams back to back
// (offset counts from the first stream). All numbers are little-endian.
// A file is cut into segments of 32768 bytes, the last one shorter.
//
// For each input FILE this writes, into the output directory:
//   FILE.lzo1.payload     every segment through lzo1x_1_compress
//   FILE.lzo999.payload   every segment through lzo1x_999_compress
// and with --dict also
//   FILE.lzo999dict.payload  as lzo999, but a segment shorter than 32768
//                         bytes is compressed against the output before it
//                         (lzo1x_999_compress_dict), so its matches reach
//                         back into the previous segment.
//
// A segment stream opens with a literal count: a first byte b != 0 means
// b - 17 literals (b <= 17: none), and 0 starts a long count. LZO1X reads a
// first byte above 17 and a first 0 the same way, but a first byte from 1
// to 15 is a run of b + 3 literals to LZO1X, and 16 or 17 starts a match.
// So before a stream is stored its opening is rewritten where the two
// readings differ (see StoredOpening).
//
// How the compressors open a stream: lzo1x_999 writes 17 + run for a first
// run of up to 238 literals and the 0-led long count above that, which
// need no change. lzo1x_1 looks for its first match 5 bytes in, so a
// stream with a match opens with a run of at least 5 literals: 5 to 18 are
// written as run - 3 (bytes 2 to 15, rewritten here), longer ones with the
// long count. A segment without any match is one run, written as 17 + run
// up to 238 and as a long count above. A first run of 1 to 3 literals,
// which LZO1X would fold into the previous instruction, cannot occur.
//
// Every stream is decoded by liblzo2 before its opening is changed, and
// every payload is decoded again by ReadPayload below and compared with
// the input before it is written; a mismatch stops the program.
//
// Build: g++ -std=c++17 -O2 -Wall -Wextra -o lzo_vectors lzo_vectors.cpp -llzo2

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr size_t kSegmentSize = 32768;
// Matches in the stored streams must stay below this distance: longer M4
// distances are not part of the format.
constexpr size_t kMaxDistance = 32767;

using Bytes = std::vector<uint8_t>;

uint32_t GetU32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) throw std::runtime_error("table runs past the end");
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// What a payload is made of, for the summary line of each output.
struct Stats {
  size_t segments = 0;
  size_t rewrittenOpenings = 0;  // first byte 1..15 replaced
  size_t m1Short = 0;            // 2-byte match after 0..3 literals
  size_t m1Long = 0;             // 3-byte match after 4+ literals
  size_t m2 = 0, m3 = 0, m4 = 0;
  size_t longLiteralCounts = 0;  // counts that open with a 0 byte
  size_t m3Extended = 0;         // M3 lengths that open with a 0 byte
  size_t m4Extended = 0;         // M4 lengths that open with a 0 byte
  size_t maxZeroRun = 0;         // most zero bytes in one extended number
  size_t crossSegment = 0;       // matches reaching into earlier segments
};

// Decodes a whole payload by the format's rules, byte by byte, checking
// every read. Kept independent of the tuk library on purpose: the vectors
// must not inherit that decoder's faults.
Bytes ReadPayload(const Bytes& p, Stats& stats) {
  Bytes out;
  const uint32_t count = GetU32(p, 0);
  const size_t area = 4 + static_cast<size_t>(count) * 12;
  if (area > p.size()) throw std::runtime_error("table runs past the end");
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t packedSize = GetU32(p, 4 + i * 12);
    const uint32_t size = GetU32(p, 4 + i * 12 + 4);
    const size_t start = area + GetU32(p, 4 + i * 12 + 8);
    const size_t end = start + packedSize;
    const size_t segmentStart = out.size();
    if (end > p.size()) throw std::runtime_error("stream runs past the end");
    size_t pos = start;
    auto next = [&]() -> uint32_t {
      if (pos >= end) throw std::runtime_error("read past the stream's end");
      return p[pos++];
    };
    // A number continued by zero bytes: each 0 adds 255, the first
    // non-zero byte is added and ends it.
    auto extended = [&](uint64_t base) -> uint64_t {
      size_t zeros = 0;
      uint32_t b;
      while ((b = next()) == 0) ++zeros;
      if (zeros > stats.maxZeroRun) stats.maxZeroRun = zeros;
      return base + 255 * zeros + b;
    };
    auto copyMatch = [&](uint64_t length, uint64_t distance) {
      if (distance == 0 || distance > out.size())
        throw std::runtime_error("match before the output's start");
      if (distance > out.size() - segmentStart) ++stats.crossSegment;
      for (uint64_t k = 0; k < length; ++k)
        out.push_back(out[out.size() - distance]);
    };

    int64_t t;
    const uint32_t first = next();
    if (first != 0) {
      t = static_cast<int64_t>(first) - 17;
    } else {
      ++stats.longLiteralCounts;
      t = static_cast<int64_t>(extended(18));
    }
    for (;;) {
      for (int64_t k = 0; k < t; ++k) out.push_back(static_cast<uint8_t>(next()));
      const uint32_t b = next();
      uint32_t low;
      if (b >= 64) {
        ++stats.m2;
        const uint32_t d = next();
        copyMatch((b >> 5) + 1, ((b >> 2) & 7) + (d << 3) + 1);
        low = b & 3;
      } else if (b >= 32) {
        ++stats.m3;
        uint64_t length = b & 31;
        if (length == 0) {
          ++stats.m3Extended;
          length = extended(31);
        }
        const uint32_t d0 = next(), d1 = next();
        copyMatch(length + 2, (d0 >> 2) + (d1 << 6) + 1);
        low = d0 & 3;
      } else if (b >= 16) {
        if (b >= 24) throw std::runtime_error("M4 distance of 32768 or more");
        if (b == 17 && pos + 2 <= end && p[pos] == 0 && p[pos + 1] == 0) {
          pos += 2;
          break;
        }
        ++stats.m4;
        uint64_t length = b & 7;
        if (length == 0) {
          ++stats.m4Extended;
          length = extended(7);
        }
        const uint32_t d0 = next(), d1 = next();
        copyMatch(length + 2, (d0 >> 2) + (d1 << 6) + 16384);
        low = d0 & 3;
      } else {
        const uint32_t d = next();
        if (t > 3) {
          ++stats.m1Long;
          copyMatch(3, (b >> 2) + (d << 2) + 2049);
        } else {
          ++stats.m1Short;
          copyMatch(2, (b >> 2) + (d << 2) + 1);
        }
        low = b & 3;
      }
      // The literals after a match: the low two bits, or else a count of
      // its own when the next byte is below 16.
      if (low != 0) {
        t = low;
      } else if (pos < end && p[pos] < 16) {
        const uint32_t c = next();
        if (c != 0) {
          t = c + 3;
        } else {
          ++stats.longLiteralCounts;
          t = static_cast<int64_t>(extended(18));
        }
      } else {
        t = 0;
      }
    }
    if (pos != end) throw std::runtime_error("bytes after the end marker");
    if (out.size() - segmentStart != size)
      throw std::runtime_error("segment decodes to the wrong size");
  }
  return out;
}

// Makes an LZO1X stream's opening read the same under this format's first
// count. Returns true when the first byte was replaced.
bool StoredOpening(Bytes& stream) {
  const uint8_t b = stream.at(0);
  if (b == 0 || b >= 18) return false;  // a literal count to both readers
  if (b <= 15) {
    // LZO1X: a run of b + 3 literals (4 to 18). The count 17 + run says
    // the same to both readers, and to LZO1X a run of 4 or more also
    // makes a following M1 the 3-byte kind, as before.
    stream[0] = static_cast<uint8_t>(b + 20);
    return true;
  }
  // 16 or 17: an M4 match as the first instruction. liblzo2 emits none
  // (even with a dictionary it opens with literals), so there is no
  // stored form to choose here.
  throw std::runtime_error("stream opens with a match");
}

enum class Method { Fast, Best, BestDict };

Bytes Compress(Method method, const Bytes& file, size_t from, size_t length,
               Stats& stats) {
  static std::vector<unsigned char> work(
      LZO1X_999_MEM_COMPRESS > LZO1X_1_MEM_COMPRESS ? LZO1X_999_MEM_COMPRESS
                                                    : LZO1X_1_MEM_COMPRESS);
  Bytes stream(length + length / 16 + 64 + 3 + 1);
  lzo_uint streamLength = stream.size();
  const unsigned char* in = file.data() + from;
  // The dictionary is the output right before the segment, as much of it
  // as keeps every distance within kMaxDistance.
  size_t dictLength = 0;
  if (method == Method::BestDict && length <= kMaxDistance) {
    dictLength = std::min(from, kMaxDistance + 1 - length);
  }
  int rc;
  if (method == Method::Fast) {
    rc = lzo1x_1_compress(in, length, stream.data(), &streamLength, work.data());
  } else if (dictLength == 0) {
    rc = lzo1x_999_compress(in, length, stream.data(), &streamLength, work.data());
  } else {
    rc = lzo1x_999_compress_dict(in, length, stream.data(), &streamLength,
                                 work.data(), in - dictLength, dictLength);
  }
  if (rc != LZO_E_OK) throw std::runtime_error("liblzo2 compression failed");
  stream.resize(streamLength);

  // The stream must decode with liblzo2 before its opening is changed.
  Bytes check(length);
  lzo_uint checkLength = check.size();
  rc = dictLength == 0
           ? lzo1x_decompress_safe(stream.data(), stream.size(), check.data(),
                                   &checkLength, nullptr)
           : lzo1x_decompress_dict_safe(stream.data(), stream.size(),
                                        check.data(), &checkLength, nullptr,
                                        in - dictLength, dictLength);
  if (rc != LZO_E_OK || checkLength != length ||
      std::memcmp(check.data(), in, length) != 0) {
    throw std::runtime_error("liblzo2 does not restore the segment");
  }

  if (StoredOpening(stream)) ++stats.rewrittenOpenings;
  return stream;
}

Bytes BuildPayload(Method method, const Bytes& file, Stats& stats) {
  std::vector<Bytes> streams;
  for (size_t from = 0; from < file.size(); from += kSegmentSize) {
    const size_t length = std::min(kSegmentSize, file.size() - from);
    streams.push_back(Compress(method, file, from, length, stats));
  }
  Bytes payload;
  PutU32(payload, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    const size_t length =
        std::min(kSegmentSize, file.size() - i * kSegmentSize);
    PutU32(payload, static_cast<uint32_t>(streams[i].size()));
    PutU32(payload, static_cast<uint32_t>(length));
    PutU32(payload, offset);
    offset += static_cast<uint32_t>(streams[i].size());
  }
  for (const Bytes& s : streams) payload.insert(payload.end(), s.begin(), s.end());
  stats.segments = streams.size();
  return payload;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PrintStats(const std::string& name, size_t bytes, const Stats& s) {
  std::printf(
      "%-34s %7zu bytes, %zu segments, openings rewritten %zu; "
      "M1 %zu/%zu M2 %zu M3 %zu (%zu long) M4 %zu (%zu long), long counts %zu, "
      "max zeros %zu, cross-segment %zu\n",
      name.c_str(), bytes, s.segments, s.rewrittenOpenings,
      s.m1Short, s.m1Long, s.m2, s.m3, s.m3Extended, s.m4, s.m4Extended,
      s.longLiteralCounts, s.maxZeroRun, s.crossSegment);
}

int Usage() {
  std::fprintf(stderr, "usage: lzo_vectors [--dict] [-o DIR] FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (lzo_init() != LZO_E_OK) {
    std::fprintf(stderr, "lzo_init failed\n");
    return 1;
  }
  std::string outDir;
  bool dict = false;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o") {
      if (++i >= argc) return Usage();
      outDir = argv[i];
    } else if (arg == "--dict") {
      dict = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      inputs.push_back(arg);
    }
  }
  if (inputs.empty()) return Usage();

  struct Variant {
    Method method;
    const char* suffix;
  };
  std::vector<Variant> variants = {{Method::Fast, ".lzo1.payload"},
                                   {Method::Best, ".lzo999.payload"}};
  if (dict) variants.push_back({Method::BestDict, ".lzo999dict.payload"});

  try {
    for (const std::string& input : inputs) {
      const Bytes file = ReadFile(input);
      const std::string stem =
          outDir.empty() ? input : outDir + "/" + BaseName(input);
      for (const Variant& v : variants) {
        Stats stats;
        const Bytes payload = BuildPayload(v.method, file, stats);
        if (ReadPayload(payload, stats) != file) {
          throw std::runtime_error(input + v.suffix + " does not decode back");
        }
        WriteFile(stem + v.suffix, payload);
        PrintStats(BaseName(stem) + v.suffix, payload.size(), stats);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lzo_vectors: %s\n", e.what());
    return 1;
  }
  return 0;
}
