// tuk_compress_bench [--passes N] [--only NAME,...] DIR...
//
// Compresses every regular file under the given trees with each codec and
// prints one TSV line per codec: name, input bytes, output bytes, ratio
// (output / input), compression MB/s and, for our own payloads, decode
// MB/s. Speeds are the best of N timed passes (default 3) over all files,
// on one thread. Our codecs are tuk levels 1 to 9, a run of 16 segments at
// a time through one reused SegmentEncoder, as the packing pipeline does;
// with liblzo2, lzo1x_1 and lzo1x_999 run on every 32768-byte segment on
// its own, their sizes counted with the same segment table ours carry, and
// with liblz4 its fast compressor does the same.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/segment_format.h"

#ifdef TUK_BENCH_WITH_LZO2
#include <lzo/lzo1x.h>
#endif
#ifdef TUK_BENCH_WITH_LZ4
#include <lz4.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::vector<Bytes> ReadTrees(const std::vector<std::string>& roots) {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  for (const std::string& root : roots) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      if (it->symlink_status().type() == fs::file_type::regular) {
        paths.push_back(it->path().string());
      }
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<Bytes> files;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return files;
}

// Runs pass() `passes` times; the shortest time in seconds.
double BestOf(int passes, const std::function<void()>& pass) {
  double best = 1e30;
  for (int i = 0; i < passes; ++i) {
    const auto start = Clock::now();
    pass();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

struct Row {
  std::string name;
  uint64_t input = 0;
  uint64_t output = 0;
  double compressSeconds = 1e30;
  double decodeSeconds = 0;  // 0: not measured
};

void Print(const Row& row) {
  const double mb = static_cast<double>(row.input) / 1e6;
  std::printf("%s\t%llu\t%llu\t%.4f\t%.1f\t", row.name.c_str(),
              static_cast<unsigned long long>(row.input),
              static_cast<unsigned long long>(row.output),
              static_cast<double>(row.output) / static_cast<double>(row.input),
              mb / row.compressSeconds);
  if (row.decodeSeconds > 0) {
    std::printf("%.1f\n", mb / row.decodeSeconds);
  } else {
    std::printf("-\n");
  }
  std::fflush(stdout);
}

// The bytes of a payload beside its segment streams: the count, one
// record per segment, and an empty file's one empty stream.
uint64_t TableBytes(const Bytes& file) {
  const size_t count = file.empty() ? 1 : (file.size() - 1) / tuk::kSegmentSize + 1;
  return 4 + count * tuk::kSegmentInfoSize + (file.empty() ? 4 : 0);
}

// One codec of the comparison: pass() compresses every file once and
// returns the bytes written; finish(), if any, completes its row.
struct Codec {
  std::string name;
  std::function<uint64_t()> pass;
  std::function<void(Row&)> finish;
};

// Our encoder as the packing pipeline drives it: one context reused for
// every run, each segment's stream written into one reused buffer (as the
// peers below), so the time is the encoder's alone. Once timed, the
// payloads are made whole (untimed), checked to decode to their files,
// and their decoding timed.
Codec Ours(int level, const std::vector<Bytes>& files, int passes) {
  auto encoder = std::make_shared<tuk::SegmentEncoder>(level);
  auto stream = std::make_shared<Bytes>(tuk::SegmentStreamBound(tuk::kSegmentSize));
  Codec codec;
  codec.name = "tuk-" + std::to_string(level);
  codec.pass = [&files, encoder, stream] {
    uint64_t total = 0;
    for (const Bytes& file : files) {
      total += TableBytes(file);
      for (size_t i = 0; i * tuk::kSegmentSize < file.size(); ++i) {
        const size_t start = i * tuk::kSegmentSize;
        if (i % tuk::kRunSegments == 0) {
          encoder->StartRun(file.data(), start,
                            std::min(file.size() - start, tuk::kRunSegments * tuk::kSegmentSize));
        }
        total += encoder->EncodeNext(std::min<size_t>(tuk::kSegmentSize, file.size() - start),
                                     stream->data());
      }
    }
    return total;
  };
  codec.finish = [&files, level, passes](Row& row) {
    std::vector<Bytes> payloads(files.size());
    uint64_t whole = 0;
    size_t largest = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      payloads[i] = tuk::EncodePayload(files[i].data(), files[i].size(), level);
      whole += payloads[i].size();
      largest = std::max(largest, files[i].size());
    }
    if (whole != row.output) {
      std::fprintf(stderr, "%s: runs and whole payloads differ in size\n", row.name.c_str());
    }
    std::unique_ptr<uint8_t[]> output(new uint8_t[largest + 64]);
    bool intact = true;
    row.decodeSeconds = BestOf(passes, [&] {
      for (const Bytes& payload : payloads) {
        const tuk::DecodeOutcome outcome =
            tuk::DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()),
                               output.get(), static_cast<uint32_t>(largest + 64));
        intact = intact && outcome.error == tuk::DecodeError::None;
      }
    });
    for (size_t i = 0; i < files.size() && intact; ++i) {
      tuk::DecodePayload(payloads[i].data(), static_cast<uint32_t>(payloads[i].size()),
                         output.get(), static_cast<uint32_t>(largest + 64));
      intact = files[i].empty() || std::memcmp(output.get(), files[i].data(), files[i].size()) == 0;
    }
    if (!intact) {
      std::fprintf(stderr, "%s: a payload does not decode to its file\n", row.name.c_str());
    }
  };
  return codec;
}

// A peer that compresses every 32768-byte segment on its own, into one
// reused buffer; its size is counted with the segment table ours carry.
Codec PerSegment(const char* name, const std::vector<Bytes>& files,
                 std::function<size_t(const uint8_t*, size_t, uint8_t*)> compress) {
  auto out = std::make_shared<Bytes>(tuk::kSegmentSize + tuk::kSegmentSize / 16 + 64 + 3);
  Codec codec;
  codec.name = name;
  codec.pass = [&files, out, compress] {
    uint64_t total = 0;
    for (const Bytes& file : files) {
      total += TableBytes(file);
      for (size_t from = 0; from < file.size(); from += tuk::kSegmentSize) {
        const size_t length = std::min<size_t>(tuk::kSegmentSize, file.size() - from);
        total += compress(file.data() + from, length, out->data());
      }
    }
    return total;
  };
  return codec;
}

#ifdef TUK_BENCH_WITH_LZO2
Codec Lzo(const char* name, bool best, const std::vector<Bytes>& files) {
  auto work = std::make_shared<Bytes>(best ? LZO1X_999_MEM_COMPRESS : LZO1X_1_MEM_COMPRESS);
  return PerSegment(name, files, [best, work](const uint8_t* in, size_t length, uint8_t* out) {
    lzo_uint written = 0;
    if (best) {
      lzo1x_999_compress(in, length, out, &written, work->data());
    } else {
      lzo1x_1_compress(in, length, out, &written, work->data());
    }
    return static_cast<size_t>(written);
  });
}
#endif

#ifdef TUK_BENCH_WITH_LZ4
// LZ4's fast compressor, the usual yardstick of fast LZ77 encoders, in its
// own format: context for level 1's speed.
Codec Lz4(const std::vector<Bytes>& files) {
  return PerSegment("lz4_fast", files, [](const uint8_t* in, size_t length, uint8_t* out) {
    const int capacity = LZ4_compressBound(static_cast<int>(length));
    return static_cast<size_t>(LZ4_compress_default(reinterpret_cast<const char*>(in),
                                                    reinterpret_cast<char*>(out),
                                                    static_cast<int>(length), capacity));
  });
}
#endif

bool Wanted(const std::string& only, const std::string& name) {
  if (only.empty()) return true;
  return ("," + only + ",").find("," + name + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  int passes = 3;
  std::string only;
  std::vector<std::string> roots;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--passes" && i + 1 < argc) {
      passes = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      roots.push_back(arg);
    }
  }
  if (roots.empty()) {
    std::fprintf(stderr, "usage: tuk_compress_bench [--passes N] [--only NAME,...] DIR...\n");
    return 2;
  }
  const std::vector<Bytes> files = ReadTrees(roots);
  if (files.empty()) {
    std::fprintf(stderr, "no regular files under the given directories\n");
    return 1;
  }
  std::vector<Codec> codecs;
#ifdef TUK_BENCH_WITH_LZO2
  if (lzo_init() != LZO_E_OK) return 1;
  if (Wanted(only, "lzo1x_1")) codecs.push_back(Lzo("lzo1x_1", false, files));
  if (Wanted(only, "lzo1x_999")) codecs.push_back(Lzo("lzo1x_999", true, files));
#endif
#ifdef TUK_BENCH_WITH_LZ4
  if (Wanted(only, "lz4_fast")) codecs.push_back(Lz4(files));
#endif
  for (int level = tuk::kFastestLevel; level <= tuk::kSmallestLevel; ++level) {
    if (Wanted(only, "tuk-" + std::to_string(level))) codecs.push_back(Ours(level, files, passes));
  }
  // Each pass times every codec in turn, so a slow spell of the machine
  // falls on all of them, not on the few that ran through it.
  std::vector<Row> rows(codecs.size());
  for (int p = 0; p < passes; ++p) {
    for (size_t i = 0; i < codecs.size(); ++i) {
      const auto start = Clock::now();
      rows[i].output = codecs[i].pass();
      rows[i].compressSeconds = std::min(
          rows[i].compressSeconds, std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  std::printf("codec\tinput_bytes\toutput_bytes\tratio\tcompress_MBps\tdecode_MBps\n");
  for (size_t i = 0; i < codecs.size(); ++i) {
    rows[i].name = codecs[i].name;
    for (const Bytes& file : files) rows[i].input += file.size();
    if (codecs[i].finish) codecs[i].finish(rows[i]);
    Print(rows[i]);
  }
  return 0;
}
