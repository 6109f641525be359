#include "codec/encoder.h"

#include <algorithm>

#include "codec/chain_match_finder.h"
#include "codec/fast_parser.h"
#include "codec/lazy_parser.h"
#include "codec/optimal_parser.h"
#include "codec/segment_format.h"
#include "codec/segment_window.h"
#include "codec/stream_writer.h"

namespace tuk {

size_t SegmentStreamBound(size_t length) { return length + length / 255 + 16; }

namespace {

enum class Strategy { Fast, Lazy, Optimal };

struct LevelParams {
  Strategy strategy;
  FastParams fast;  // only the one the strategy names is used
  LazyParams lazy;
  OptimalParams optimal;
};

// Levels 1 to 5 probe a hash table: a larger table, two positions per
// hash and a look one byte ahead buy ratio for speed (measured on real
// files: every level smaller and slower than the one before). Levels 6 and
// 7 search hash chains lazily; 8 and 9 parse for the fewest bytes over a
// match tree.
constexpr LevelParams kLevels[] = {
    // fast: hash bits, prime step, skip shift, ways, look ahead, level 1's own loop
    {Strategy::Fast, {12, 0, 5, 1, false, true}, {}, {}},
    {Strategy::Fast, {12, 4, 6, 1, true}, {}, {}},
    {Strategy::Fast, {13, 4, 6, 1, true}, {}, {}},
    {Strategy::Fast, {13, 4, 6, 2, false}, {}, {}},
    {Strategy::Fast, {13, 4, 6, 2, true}, {}, {}},
    // lazy: depth, nice length, look ahead, prime bytes, prime step, longest match entered
    {Strategy::Lazy, {}, {8, 32, 1, kMaxDistance, 2, 16}, {}},
    {Strategy::Lazy, {}, {32, 128, 2, kMaxDistance, 1, kSegmentSize}, {}},
    // optimal: tree depth, nice length, prime bytes
    {Strategy::Optimal, {}, {}, {8, 32, kMaxDistance}},
    {Strategy::Optimal, {}, {}, {32, 128, kMaxDistance}},
};

}  // namespace

struct SegmentEncoder::Parsers {
  LevelParams params;
  std::unique_ptr<FastParser> fast;
  std::unique_ptr<ChainMatchFinder> chains;
  std::unique_ptr<OptimalParser> optimal;

  size_t Encode(const SegmentWindow& window, uint8_t* out, uint8_t* limit) {
    switch (params.strategy) {
      case Strategy::Fast:
        return fast->Encode(window, params.fast, out, limit);
      case Strategy::Lazy:
        return LazyParse(*chains, window, params.lazy, out, limit);
      case Strategy::Optimal:
        return optimal->Encode(window, params.optimal, out, limit);
    }
    return 0;
  }
};

SegmentEncoder::SegmentEncoder(int level)
    : level_(std::clamp(level, kFastestLevel, kSmallestLevel)), parsers_(new Parsers) {
  Parsers& p = *parsers_;
  p.params = kLevels[level_ - kFastestLevel];
  // Only what the level uses is allocated.
  switch (p.params.strategy) {
    case Strategy::Fast:
      p.fast.reset(new FastParser);
      break;
    case Strategy::Lazy:
      p.chains.reset(new ChainMatchFinder);
      break;
    case Strategy::Optimal:
      p.optimal.reset(new OptimalParser);
      break;
  }
}

SegmentEncoder::~SegmentEncoder() = default;

void SegmentEncoder::StartRun(const uint8_t* data, size_t start, size_t length) {
  windowLength_ = std::min<size_t>(start, kMaxDistance);
  runBase_ = data + start - windowLength_;
  next_ = windowLength_;
  runEnd_ = windowLength_ + length;
}

size_t SegmentEncoder::EncodeNext(size_t length, uint8_t* out) {
  const SegmentWindow window{runBase_, windowLength_, next_, next_ + length, runEnd_};
  next_ += length;
  uint8_t* const limit = out + SegmentStreamBound(length);
  size_t written = parsers_->Encode(window, out, limit);
  // Data that does not compress goes out as one literal run, which also
  // keeps every stream inside the bound.
  if (written == 0 || written > RunCost(length, true) + 3) {
    StreamWriter writer(out, limit, runBase_ + window.end);
    writer.Finish(runBase_ + window.start, length);
    written = writer.Length();
  }
  return written;
}

std::vector<uint8_t> EncodePayload(const uint8_t* data, size_t size, int level) {
  const size_t count = size == 0 ? 1 : (size - 1) / kSegmentSize + 1;
  std::vector<uint32_t> lengths(count);
  std::vector<uint8_t> payload(4 + count * kSegmentInfoSize);
  payload.reserve(payload.size() + size / 2 + 64);
  std::unique_ptr<uint8_t[]> stream(new uint8_t[SegmentStreamBound(kSegmentSize)]);
  if (size == 0) {
    StreamWriter writer(stream.get(), stream.get() + SegmentStreamBound(0), nullptr);
    writer.Finish(nullptr, 0);
    lengths[0] = static_cast<uint32_t>(writer.Length());
    payload.insert(payload.end(), stream.get(), stream.get() + lengths[0]);
  } else {
    SegmentEncoder encoder(level);
    for (size_t i = 0; i < count; ++i) {
      const size_t start = i * kSegmentSize;
      if (i % kRunSegments == 0) {
        encoder.StartRun(data, start, std::min(size - start, kRunSegments * kSegmentSize));
      }
      const size_t written = encoder.EncodeNext(std::min<size_t>(kSegmentSize, size - start),
                                                stream.get());
      lengths[i] = static_cast<uint32_t>(written);
      payload.insert(payload.end(), stream.get(), stream.get() + written);
    }
  }
  const std::vector<uint8_t> table = SegmentTable(size, lengths);
  std::copy(table.begin(), table.end(), payload.begin());
  return payload;
}

}  // namespace tuk
