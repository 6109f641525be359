// Decoder throughput, counted in output bytes (so the MB/s figures are
// MB/s of restored data).
//
//   Decode/<payload>     tuk::Decompression on each payload in
//                        tests/fixtures/lzo/
//   Memcpy/<file>        memcpy of the same number of bytes
//   Mix/...              64 MiB of mixed text-like and binary data, made
//                        in-process from a fixed seed, cut into 32768-byte
//                        segments and encoded twice:
//                          lzo1x_1  liblzo2's fast compressor (only in
//                                   builds with liblzo2)
//                          greedy   a small greedy LZ77 encoder in this
//                                   file, so every build has a realistic
//                                   payload
//   Lzo2Safe/...         with liblzo2 (TUK_BENCH_WITH_LZO2), the same
//                        streams through lzo1x_decompress_safe, one call
//                        per segment
//
// Every decoder's output is checked against the original once before it
// is timed.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/legacy/decompression.h"
#include "archive/format/layout.h"

#ifdef TUK_BENCH_WITH_LZO2
#include <lzo/lzo1x.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMixSize = size_t{64} << 20;

uint32_t Size32(const Bytes& b) { return static_cast<uint32_t>(b.size()); }

// ---------------------------------------------------------------------
// Deterministic test data.

class XorShift {
 public:
  explicit XorShift(uint64_t seed) : state_(seed | 1) {}
  uint32_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

const char* const kWords[] = {
    "the",     "of",        "and",     "to",      "in",      "is",
    "that",    "for",       "it",      "as",      "was",     "with",
    "be",      "by",        "on",      "not",     "this",    "are",
    "from",    "at",        "which",   "have",    "an",      "they",
    "archive", "file",      "entry",   "index",   "segment", "payload",
    "stream",  "header",    "offset",  "length",  "size",    "name",
    "extract", "directory", "buffer",  "record",  "table",   "literal",
    "match",   "distance",  "window",  "output",  "input",   "decoder",
    "encoder", "restored",  "written", "checked", "skipped", "completed",
};

void AppendText(XorShift& rng, size_t size, Bytes& out) {
  const size_t end = out.size() + size;
  const size_t wordCount = sizeof(kWords) / sizeof(kWords[0]);
  size_t column = 0;
  while (out.size() < end) {
    // A squared uniform value favours the first words, as in real text.
    const uint64_t u = rng.Below(1 << 16);
    const char* word = kWords[(u * u * wordCount) >> 32];
    std::string piece = word;
    const uint32_t roll = rng.Below(100);
    if (roll < 8) piece += '.';
    else if (roll < 12) piece += ',';
    else if (roll < 13) piece += ' ' + std::to_string(rng.Below(100000));
    if (column + piece.size() + 1 > 72) {
      out.push_back('\n');
      column = 0;
    } else if (column != 0) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), piece.begin(), piece.end());
    column += piece.size();
  }
  out.resize(end);
}

void AppendBinary(XorShift& rng, size_t size, Bytes& out) {
  const size_t start = out.size();
  const size_t end = start + size;
  auto put32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  uint32_t stamp = 1000;
  uint32_t id = 0;
  while (out.size() < end) {
    switch (rng.Below(4)) {
      case 0:  // fixed-size records
        for (int i = 0; i < 64; ++i, ++id) {
          stamp += rng.Below(40);
          put32(id);
          put32(id * 2654435761u);
          put32(0xFEC00000u | rng.Below(4));
          put32(stamp);
        }
        break;
      case 1:  // noise
        for (uint32_t i = rng.Below(512) + 64; i > 0; --i) {
          out.push_back(static_cast<uint8_t>(rng.Next()));
        }
        break;
      case 2: {  // 16-bit samples of a sawtooth
        uint32_t value = rng.Below(1 << 14);
        for (int i = 0; i < 512; ++i) {
          value = (value + 97) & 0x3FFF;
          const uint32_t sample = value + rng.Below(4);
          out.push_back(static_cast<uint8_t>(sample));
          out.push_back(static_cast<uint8_t>(sample >> 8));
        }
        break;
      }
      default: {  // a repeat of earlier data, near or far
        const size_t have = out.size() - start;
        if (have < 64) break;
        const size_t back = std::min<size_t>(have, rng.Below(30000) + 16);
        const size_t length = rng.Below(200) + 8;
        for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - back]);
        break;
      }
    }
  }
  out.resize(end);
}

// Alternating 256 KiB stretches of text-like and binary data.
Bytes MakeMix() {
  XorShift rng(0x74756B6D6978ULL);
  Bytes data;
  data.reserve(kMixSize + 4096);
  constexpr size_t kStretch = 256 << 10;
  for (size_t i = 0; data.size() < kMixSize; ++i) {
    if (i % 2 == 0) AppendText(rng, kStretch, data);
    else AppendBinary(rng, kStretch, data);
  }
  data.resize(kMixSize);
  return data;
}

// ---------------------------------------------------------------------
// Payload building.

struct Segmented {
  Bytes payload;
  // Where each stream starts in the payload, its length, and its
  // decoded size: what a per-segment decoder needs.
  struct Stream {
    size_t at;
    size_t length;
    size_t size;
  };
  std::vector<Stream> streams;
};

// Builds count, table and stream area from one stream per segment.
Segmented Assemble(const std::vector<Bytes>& streams, size_t fileSize) {
  Segmented s;
  const size_t area = 4 + streams.size() * tuk::kSegmentInfoSize;
  s.payload.resize(area);
  tuk::WriteU32LE(s.payload.data(), static_cast<uint32_t>(streams.size()));
  size_t offset = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    const size_t size = std::min<size_t>(tuk::kSegmentSize, fileSize - i * tuk::kSegmentSize);
    uint8_t* record = s.payload.data() + 4 + i * tuk::kSegmentInfoSize;
    tuk::WriteU32LE(record, static_cast<uint32_t>(streams[i].size()));
    tuk::WriteU32LE(record + 4, static_cast<uint32_t>(size));
    tuk::WriteU32LE(record + 8, static_cast<uint32_t>(offset));
    s.streams.push_back({area + offset, streams[i].size(), size});
    offset += streams[i].size();
  }
  for (const Bytes& stream : streams) {
    s.payload.insert(s.payload.end(), stream.begin(), stream.end());
  }
  return s;
}

// Reads the table of a stored payload.
Segmented FromPayload(Bytes payload) {
  Segmented s;
  const uint32_t count = tuk::ReadU32LE(payload.data());
  const size_t area = 4 + size_t{count} * tuk::kSegmentInfoSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = payload.data() + 4 + i * tuk::kSegmentInfoSize;
    s.streams.push_back({area + tuk::ReadU32LE(record + 8),
                         tuk::ReadU32LE(record), tuk::ReadU32LE(record + 4)});
  }
  s.payload = std::move(payload);
  return s;
}

// A greedy LZ77 encoder for one segment: a 4-byte hash finds the most
// recent earlier position with the same 4 bytes, which is taken if it is
// within 32767 bytes. It writes only instructions that read the same in
// LZO1X, so liblzo2 can decode its streams too: the opening count as
// 17 + run (or a 0-led long count), M2 for short near matches, M3 up to
// 16384 back, M4 beyond, never M1.
class GreedyEncoder {
 public:
  Bytes Encode(const uint8_t* in, size_t length) {
    std::fill(std::begin(table_), std::end(table_), -1);
    out_.clear();
    first_ = true;
    size_t anchor = 0;
    size_t i = 0;
    while (length >= 4 && i + 4 <= length) {
      uint32_t v;
      std::memcpy(&v, in + i, 4);
      const uint32_t h = (v * 2654435761u) >> (32 - kHashBits);
      const int32_t candidate = table_[h];
      table_[h] = static_cast<int32_t>(i);
      if (candidate >= 0 && i - candidate <= 32767 &&
          std::memcmp(in + candidate, in + i, 4) == 0) {
        size_t n = 4;
        while (i + n < length && in[candidate + n] == in[i + n]) ++n;
        Literals(in + anchor, i - anchor);
        Match(n, i - candidate);
        i += n;
        anchor = i;
      } else {
        // Step faster through data that does not compress.
        i += 1 + ((i - anchor) >> 5);
      }
    }
    Literals(in + anchor, length - anchor);
    out_.push_back(17);
    out_.push_back(0);
    out_.push_back(0);
    return out_;
  }

 private:
  static constexpr int kHashBits = 14;

  void Extended(size_t value) {  // value >= 1
    while (value > 255) {
      out_.push_back(0);
      value -= 255;
    }
    out_.push_back(static_cast<uint8_t>(value));
  }

  void Literals(const uint8_t* from, size_t n) {
    if (first_) {
      first_ = false;
      if (n <= 238) {
        out_.push_back(static_cast<uint8_t>(17 + n));
      } else {
        out_.push_back(0);
        Extended(n - 18);
      }
    } else if (n == 0) {
      return;
    } else if (n <= 3) {
      out_[out_.size() - 2] |= static_cast<uint8_t>(n);  // low bits of the match
    } else if (n <= 18) {
      out_.push_back(static_cast<uint8_t>(n - 3));
    } else {
      out_.push_back(0);
      Extended(n - 18);
    }
    out_.insert(out_.end(), from, from + n);
  }

  void Match(size_t length, size_t distance) {
    first_ = false;
    if (length <= 8 && distance <= 2048) {
      const size_t d = distance - 1;
      out_.push_back(static_cast<uint8_t>(((length - 1) << 5) | ((d & 7) << 2)));
      out_.push_back(static_cast<uint8_t>(d >> 3));
      return;
    }
    size_t d;
    if (distance <= 16384) {
      d = distance - 1;
      if (length - 2 <= 31) {
        out_.push_back(static_cast<uint8_t>(32 | (length - 2)));
      } else {
        out_.push_back(32);
        Extended(length - 2 - 31);
      }
    } else {
      d = distance - 16384;  // 1 to 16383: never the end marker
      if (length - 2 <= 7) {
        out_.push_back(static_cast<uint8_t>(16 | (length - 2)));
      } else {
        out_.push_back(16);
        Extended(length - 2 - 7);
      }
    }
    out_.push_back(static_cast<uint8_t>((d & 63) << 2));
    out_.push_back(static_cast<uint8_t>(d >> 6));
  }

  int32_t table_[1 << kHashBits];
  Bytes out_;
  bool first_ = true;
};

Segmented EncodeGreedy(const Bytes& data) {
  auto encoder = std::make_unique<GreedyEncoder>();
  std::vector<Bytes> streams;
  for (size_t from = 0; from < data.size(); from += tuk::kSegmentSize) {
    const size_t n = std::min<size_t>(tuk::kSegmentSize, data.size() - from);
    streams.push_back(encoder->Encode(data.data() + from, n));
  }
  return Assemble(streams, data.size());
}

#ifdef TUK_BENCH_WITH_LZO2
Segmented EncodeLzo1x1(const Bytes& data) {
  std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  std::vector<Bytes> streams;
  for (size_t from = 0; from < data.size(); from += tuk::kSegmentSize) {
    const size_t n = std::min<size_t>(tuk::kSegmentSize, data.size() - from);
    Bytes stream(n + n / 16 + 64 + 3);
    lzo_uint streamLength = stream.size();
    lzo1x_1_compress(data.data() + from, n, stream.data(), &streamLength,
                     work.data());
    stream.resize(streamLength);
    // lzo1x_1 writes a first run of 4 to 18 literals as run - 3; stored
    // streams carry it as 17 + run, which LZO1X reads the same way.
    if (stream[0] >= 1 && stream[0] <= 15) stream[0] = static_cast<uint8_t>(stream[0] + 20);
    streams.push_back(std::move(stream));
  }
  return Assemble(streams, data.size());
}

// Decodes segment by segment with liblzo2; returns the bytes written.
size_t Lzo2Decode(const Segmented& s, Bytes& output) {
  size_t at = 0;
  for (const Segmented::Stream& stream : s.streams) {
    lzo_uint length = output.size() - at;
    if (lzo1x_decompress_safe(s.payload.data() + stream.at, stream.length,
                              output.data() + at, &length, nullptr) != LZO_E_OK) {
      return 0;
    }
    at += length;
  }
  return at;
}
#endif

// ---------------------------------------------------------------------
// The benchmarks.

void RunDecode(benchmark::State& state, const Segmented& s, const Bytes& original) {
  Bytes output(original.size() + 1);
  const uint32_t check = tuk::Decompression(s.payload.data(), Size32(s.payload),
                                            output.data(), Size32(output));
  if (check != original.size() ||
      !std::equal(original.begin(), original.end(), output.begin())) {
    state.SkipWithError("tuk::Decompression does not restore the original");
    return;
  }
  for (auto _ : state) {
    uint32_t written = tuk::Decompression(s.payload.data(), Size32(s.payload),
                                          output.data(), Size32(output));
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(original.size()));
  // Payload bytes per output byte, to tell the streams apart.
  state.counters["ratio"] = static_cast<double>(s.payload.size()) /
                            static_cast<double>(original.size());
}

#ifdef TUK_BENCH_WITH_LZO2
void RunLzo2(benchmark::State& state, const Segmented& s, const Bytes& original) {
  Bytes output(original.size() + 1);
  if (Lzo2Decode(s, output) != original.size() ||
      !std::equal(original.begin(), original.end(), output.begin())) {
    state.SkipWithError("lzo1x_decompress_safe does not restore the original");
    return;
  }
  for (auto _ : state) {
    size_t written = Lzo2Decode(s, output);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(original.size()));
}
#endif

void RunMemcpy(benchmark::State& state, const Bytes& original) {
  Bytes output(original.size() + 1);
  for (auto _ : state) {
    std::memcpy(output.data(), original.data(), original.size());
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(original.size()));
}

// The mix and its payloads are made on first use, outside the timed loop,
// so filtering them out with --benchmark_filter costs nothing.
struct Mix {
  Bytes data = MakeMix();
  Segmented greedy = EncodeGreedy(data);
#ifdef TUK_BENCH_WITH_LZO2
  Segmented lzo1x1 = EncodeLzo1x1(data);
#endif
};

const Mix& GetMix() {
  static const Mix mix;
  return mix;
}

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fixture {
  std::string name;
  Bytes original;
  Segmented payload;
  bool perSegment;  // streams decode alone, without the output before them
};

// Registers the benchmarks at start-up: the fixture list is read from the
// directory, so new vectors are timed without a change here.
struct Registrar {
  std::vector<std::unique_ptr<Fixture>> fixtures;

  Registrar() {
#ifdef TUK_BENCH_WITH_LZO2
    if (lzo_init() != LZO_E_OK) return;
#endif
    namespace fs = std::filesystem;
    const fs::path dir = TUK_SOURCE_DIR "/tests/fixtures/lzo";
    std::vector<fs::path> payloads;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
      if (e.path().extension() == ".payload") payloads.push_back(e.path());
    }
    std::sort(payloads.begin(), payloads.end());
    std::vector<std::string> copied;
    for (const fs::path& p : payloads) {
      // <original>.<form>.payload
      const std::string file = p.filename().string();
      const std::string original = fs::path(file).stem().stem().string();
      auto f = std::make_unique<Fixture>();
      f->name = file;
      f->original = ReadAll(dir / original);
      f->payload = FromPayload(ReadAll(p));
      f->perSegment = file.find("dict") == std::string::npos;
      const Fixture* fx = f.get();
      benchmark::RegisterBenchmark(("Decode/" + file).c_str(),
                                   [fx](benchmark::State& st) {
                                     RunDecode(st, fx->payload, fx->original);
                                   })
          ->MinTime(0.1);
#ifdef TUK_BENCH_WITH_LZO2
      if (fx->perSegment) {
        benchmark::RegisterBenchmark(("Lzo2Safe/" + file).c_str(),
                                     [fx](benchmark::State& st) {
                                       RunLzo2(st, fx->payload, fx->original);
                                     })
            ->MinTime(0.1);
      }
#endif
      if (std::find(copied.begin(), copied.end(), original) == copied.end()) {
        copied.push_back(original);
        benchmark::RegisterBenchmark(("Memcpy/" + original).c_str(),
                                     [fx](benchmark::State& st) {
                                       RunMemcpy(st, fx->original);
                                     })
            ->MinTime(0.1);
      }
      fixtures.push_back(std::move(f));
    }

    benchmark::RegisterBenchmark("Mix/Decode/greedy", [](benchmark::State& st) {
      RunDecode(st, GetMix().greedy, GetMix().data);
    })->MinTime(0.5)->Unit(benchmark::kMillisecond);
#ifdef TUK_BENCH_WITH_LZO2
    benchmark::RegisterBenchmark("Mix/Lzo2Safe/greedy", [](benchmark::State& st) {
      RunLzo2(st, GetMix().greedy, GetMix().data);
    })->MinTime(0.5)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Mix/Decode/lzo1x_1", [](benchmark::State& st) {
      RunDecode(st, GetMix().lzo1x1, GetMix().data);
    })->MinTime(0.5)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Mix/Lzo2Safe/lzo1x_1", [](benchmark::State& st) {
      RunLzo2(st, GetMix().lzo1x1, GetMix().data);
    })->MinTime(0.5)->Unit(benchmark::kMillisecond);
#endif
    benchmark::RegisterBenchmark("Mix/Memcpy", [](benchmark::State& st) {
      RunMemcpy(st, GetMix().data);
    })->MinTime(0.5)->Unit(benchmark::kMillisecond);
  }
};

const Registrar registrar;

}  // namespace
