#include "codec/optimal_parser.h"

#include <algorithm>

#include "codec/segment_format.h"
#include "codec/stream_writer.h"

namespace tuk {
namespace {

constexpr size_t kMaxMatches = 32;
constexpr uint32_t kUnreached = UINT32_MAX;
// How many of a long match's last positions are searched all the same: a
// match starting there may reach further.
constexpr size_t kSearchedTail = 4;

}  // namespace

OptimalParser::OptimalParser() : nodes_(new Node[kSegmentSize + 1]) {
  steps_.reserve(kSegmentSize / 2);
}

size_t OptimalParser::Encode(ChainMatchFinder& finder, const SegmentWindow& window,
                             const OptimalParams& params, uint8_t* out, uint8_t* limit) {
  finder.Reset(window, params.primeBytes, 1, true);
  const size_t size = window.end - window.start;
  Node* const nodes = nodes_.get();
  nodes[0] = {0, 0, 0};
  for (size_t k = 1; k <= size; ++k) nodes[k].price = kUnreached;

  Match matches[kMaxMatches];
  // Positions before this one lie inside a long match found earlier: the
  // matches starting there are mostly that match again, shorter.
  size_t searchFrom = 0;
  for (size_t k = 0; k < size;) {
    const Node& node = nodes[k];
    // The literals just before position k, and where their run began.
    const size_t literals = node.length == 0 ? node.value : 0;
    const size_t runStart = k - literals;

    // One more literal.
    {
      const Node& from = nodes[runStart];
      const uint32_t price =
          from.price + static_cast<uint32_t>(RunCost(literals + 1, runStart == 0));
      if (price < nodes[k + 1].price) {
        nodes[k + 1] = {price, 0, static_cast<uint16_t>(literals + 1)};
      }
    }

    if (k < searchFrom) {
      ++k;
      continue;
    }

    // Every match the finder reports, at every length it covers.
    finder.InsertUpTo(window.start + k);
    const size_t found =
        finder.All(window.start + k, params.depth, params.niceLength, matches, kMaxMatches);
    const bool atStart = node.length == 0 && runStart == 0;
    const uint32_t before = node.price + (k == 0 ? 1 : 0);  // a 17 opens a stream without literals
    // Two bytes close by, in the short form only some literal counts allow.
    if (size - k >= 2) {
      const uint32_t distance = finder.NearestPair(window.start + k);
      if (distance != 0 && ShortFormAllowed(2, distance, literals, atStart)) {
        const uint32_t price = before + 2;
        if (price < nodes[k + 2].price) nodes[k + 2] = {price, 2, static_cast<uint16_t>(distance)};
      }
    }
    size_t length = ChainMatchFinder::kMinLength;
    for (size_t i = 0; i < found; ++i) {
      const Match& match = matches[i];
      for (; length <= match.length; ++length) {
        const uint32_t price =
            before + static_cast<uint32_t>(MatchCost(length, match.distance, literals, atStart));
        Node& to = nodes[k + length];
        if (price < to.price) {
          to = {price, static_cast<uint16_t>(length), static_cast<uint16_t>(match.distance)};
        }
      }
    }
    // A long match is taken as it is: the positions it covers are skipped.
    const size_t longest = found > 0 ? matches[found - 1].length : 0;
    if (longest >= params.niceLength) {
      k += longest;
      continue;
    }
    if (params.skipLength != 0 && longest >= params.skipLength) {
      searchFrom = k + longest - kSearchedTail;
    }
    ++k;
  }

  // Walk back from the end, then write the steps in order.
  steps_.clear();
  uint32_t pendingLiterals = 0;
  for (size_t k = size; k > 0;) {
    const Node& node = nodes[k];
    if (node.length == 0) {
      pendingLiterals += node.value;
      k -= node.value;
    } else {
      steps_.push_back({pendingLiterals, node.length, node.value});
      pendingLiterals = 0;
      k -= node.length;
    }
  }
  const uint8_t* const base = window.base;
  StreamWriter writer(out, limit, base + window.end);
  size_t position = window.start;
  // Literals are counted after the match they follow; walking back turned
  // that around, so each step's literals belong to the run after it.
  size_t runBefore = pendingLiterals;
  for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
    if (!writer.Sequence(base + position, runBefore, step->length, step->distance)) return 0;
    position += runBefore + step->length;
    runBefore = step->literals;
  }
  if (!writer.Finish(base + position, runBefore)) return 0;
  return writer.Length();
}

}  // namespace tuk
