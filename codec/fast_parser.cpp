#include "codec/fast_parser.h"

#include <algorithm>

#include "codec/match_length.h"
#include "codec/stream_writer.h"

namespace tuk {
namespace {

constexpr size_t kMinMatch = 4;
// A match this long is taken without looking one byte further: the next
// position rarely beats it by more than a byte, and the probe costs 2% of
// level 5's time.
constexpr size_t kLookAheadBelow = 16;
constexpr int kMinHashBits = 10;
constexpr int kMaxHashBits = 14;

inline uint32_t Hash4(uint32_t sequence, int bits) {
  return (sequence * 2654435761u) >> (32 - bits);
}

// Level 1 hashes five bytes, read as eight, so p + 8 must be readable. In
// binary files four equal bytes are often chance (zeros, small numbers);
// the fifth leaves most of those to the cheap literal path, which made
// level 1 a tenth faster on real files for 3% of its output.
inline uint32_t Hash5(const uint8_t* p, int bits) {
  return static_cast<uint32_t>(((Read64(p) << 24) * 0x9E3779B97F4A7C15u) >> (64 - bits));
}

// The table's size for a run: the level's, or for a short run a smaller
// one, which costs less to clear.
int TableBits(const SegmentWindow& window, int levelBits) {
  int bits = kMinHashBits;
  while (bits < levelBits && (size_t{1} << bits) < window.runEnd) ++bits;
  return bits;
}

// The table: kWays positions per hash, newest first.
template <int kWays>
class Table {
 public:
  Table(uint32_t* slots, int bits) : slots_(slots), bits_(bits) {}

  uint32_t* Bucket(uint32_t sequence) const {
    return slots_ + static_cast<size_t>(Hash4(sequence, bits_)) * kWays;
  }

  void Enter(uint32_t* bucket, size_t position) const {
    if (kWays == 2) bucket[1] = bucket[0];
    bucket[0] = static_cast<uint32_t>(position);
  }

 private:
  uint32_t* const slots_;
  const int bits_;
};

// The longest match at ip among the bucket's positions (length 0: none);
// then enters ip.
template <int kWays>
inline size_t Probe(const Table<kWays>& table, const uint8_t* base, size_t ip, size_t end,
                    size_t& candidateOut) {
  const uint32_t sequence = Read32(base + ip);
  uint32_t* const bucket = table.Bucket(sequence);
  size_t best = 0;
  for (int way = 0; way < kWays; ++way) {
    const size_t candidate = bucket[way];
    // One unsigned test: 1..kMaxDistance back (0 wraps to a huge value).
    if (ip - candidate - 1 >= kMaxDistance || Read32(base + candidate) != sequence) continue;
    // A candidate that differs where the best so far ends is no longer.
    if (best != 0 && (ip + best == end || base[candidate + best] != base[ip + best])) continue;
    const size_t length =
        kMinMatch + CommonLength(base + ip + kMinMatch, base + candidate + kMinMatch, base + end);
    const bool longer = length > best;
    best = longer ? length : best;
    candidateOut = longer ? candidate : candidateOut;
  }
  table.Enter(bucket, ip);
  return best;
}

template <int kWays, bool kLookAhead>
size_t Parse(uint32_t* slots, const SegmentWindow& window, const FastParams& params,
             uint8_t* out, uint8_t* limit) {
  const uint8_t* const base = window.base;
  const size_t end = window.end;
  const int bits = TableBits(window, params.hashBits);
  const Table<kWays> table(slots, bits);
  // A run's first segment clears the table, so nothing before the run
  // shows through, and enters part of the window; the next segments find
  // what the segments before them entered.
  if (window.FirstOfRun()) {
    std::fill_n(slots, (size_t{1} << bits) * kWays, uint32_t{0});
    for (size_t p = 0; p + kMinMatch <= window.start; p += params.primeStep) {
      table.Enter(table.Bucket(Read32(base + p)), p);
    }
  }
  uint8_t* op = out;
  size_t anchor = window.start;
  if (end - window.start >= kMinMatch) {
    const size_t last = end - kMinMatch;  // the last position a match may start at

    size_t ip = window.start;
    const int skipShift = params.skipShift;
    const size_t firstProbe = size_t{1} << skipShift;
    size_t probes = firstProbe;
    while (ip <= last) {
      size_t candidate = 0;
      size_t length = Probe(table, base, ip, end, candidate);
      if (length == 0) {
        ip += probes++ >> skipShift;
        continue;
      }
      if (kLookAhead && length < kLookAheadBelow && ip + 1 <= last) {
        size_t laterCandidate = 0;
        const size_t later = Probe(table, base, ip + 1, end, laterCandidate);
        if (later > length + 1) {
          ++ip;
          length = later;
          candidate = laterCandidate;
        }
      }
      while (ip > anchor && candidate > 0 && base[ip - 1] == base[candidate - 1]) {
        --ip;
        --candidate;
        ++length;
      }
      op = PutSequence(out, op, limit, base + anchor, ip - anchor, base + end, length,
                       static_cast<uint32_t>(ip - candidate));
      if (op == nullptr) return 0;
      ip += length;
      anchor = ip;
      probes = firstProbe;
      // The positions just behind the match often start the next one.
      if (ip <= last) {
        table.Enter(table.Bucket(Read32(base + ip - 2)), ip - 2);
        if (kWays == 2) table.Enter(table.Bucket(Read32(base + ip - 1)), ip - 1);
      }
    }
  }
  StreamWriter writer(out, op, limit, base + end);
  if (!writer.Finish(base + anchor, end - anchor)) return 0;
  return writer.Length();
}

// Level 1: one position per five-byte hash and the search loop of LZ4.
// The hash of the next position is worked out before the current one is
// tested, so the table load and the multiply overlap, and the step grows
// with the misses. Without priming, the window is not read at all:
// entering it cost about a tenth of the time for a percent or two of
// output.
template <int kBits>
size_t ParseSingle(uint32_t* slots, const SegmentWindow& window, const FastParams& params,
                   uint8_t* out, uint8_t* limit) {
  const uint8_t* const base = window.base;
  const size_t end = window.end;
  const auto hash = [](const uint8_t* p) { return Hash5(p, kBits); };
  if (window.FirstOfRun()) {
    std::fill_n(slots, size_t{1} << kBits, uint32_t{0});
    if (params.primeStep != 0) {
      for (size_t p = 0; p + 8 <= window.start; p += params.primeStep) {
        slots[hash(base + p)] = static_cast<uint32_t>(p);
      }
    }
  }
  uint8_t* op = out;
  size_t anchor = window.start;
  if (end - window.start >= kMinMatch + 1 && window.runEnd - window.start >= 16) {
    // The last position a match may start at. The position after a
    // candidate is hashed too, so this is one byte short of the segment's
    // last four. It is also 16 bytes before the run's end: the hash reads
    // eight bytes, and a run of literals before it is copied 16 at a time.
    const size_t last = std::min(end - kMinMatch - 1, window.runEnd - 16);
    const int skipShift = params.skipShift;
    size_t ip = window.start;
    uint32_t nextHash = hash(base + ip);
    for (;;) {
      // Find a four-byte match.
      size_t candidate;
      {
        size_t probes = size_t{1} << skipShift;
        size_t step = 1;
        size_t next = ip;
        do {
          const uint32_t h = nextHash;
          ip = next;
          next += step;
          step = probes++ >> skipShift;
          if (next > last) goto done;
          candidate = slots[h];
          nextHash = hash(base + next);
          slots[h] = static_cast<uint32_t>(ip);
        } while (ip - candidate - 1 >= kMaxDistance ||
                 Read32(base + candidate) != Read32(base + ip));
      }
      // Back over equal bytes the search stepped past.
      while (ip > anchor && candidate > 0 && base[ip - 1] == base[candidate - 1]) {
        --ip;
        --candidate;
      }
      for (;;) {
        const size_t length =
            kMinMatch + CommonLength(base + ip + kMinMatch, base + candidate + kMinMatch, base + end);
        const size_t n = ip - anchor;
        const uint32_t distance = static_cast<uint32_t>(ip - candidate);
        if (op == out) {
          op = PutSequence(out, op, limit, base + anchor, n, base + end, length, distance);
          if (op == nullptr) return 0;
        } else {
          if (static_cast<size_t>(limit - op) < n + ((n + length) >> 7) + kLaterSequenceRoom) {
            return 0;
          }
          op = PutLaterSequence(op, base + anchor, n, length, distance);
        }
        ip += length;
        anchor = ip;
        if (ip > last) goto done;
        // The positions just behind the match often start the next one:
        // enter one, and try the match's end at once.
        slots[hash(base + ip - 2)] = static_cast<uint32_t>(ip - 2);
        const uint32_t h = hash(base + ip);
        candidate = slots[h];
        slots[h] = static_cast<uint32_t>(ip);
        if (ip - candidate - 1 >= kMaxDistance || Read32(base + candidate) != Read32(base + ip)) {
          break;
        }
      }
      ++ip;
      nextHash = hash(base + ip);
    }
  }
done:
  StreamWriter writer(out, op, limit, base + end);
  if (!writer.Finish(base + anchor, end - anchor)) return 0;
  return writer.Length();
}

}  // namespace

FastParser::FastParser() : table_(new uint32_t[size_t{2} << kMaxHashBits]) {}

size_t FastParser::Encode(const SegmentWindow& window, const FastParams& params, uint8_t* out,
                          uint8_t* limit) {
  if (params.ways == 1) {
    if (params.single) {
      switch (TableBits(window, params.hashBits)) {
        case 10: return ParseSingle<10>(table_.get(), window, params, out, limit);
        case 11: return ParseSingle<11>(table_.get(), window, params, out, limit);
        case 12: return ParseSingle<12>(table_.get(), window, params, out, limit);
        case 13: return ParseSingle<13>(table_.get(), window, params, out, limit);
        default: return ParseSingle<14>(table_.get(), window, params, out, limit);
      }
    }
    return params.lookAhead ? Parse<1, true>(table_.get(), window, params, out, limit)
                            : Parse<1, false>(table_.get(), window, params, out, limit);
  }
  return params.lookAhead ? Parse<2, true>(table_.get(), window, params, out, limit)
                          : Parse<2, false>(table_.get(), window, params, out, limit);
}

}  // namespace tuk
