#include "codec/optimal_parser.h"

#include <algorithm>

#include "codec/segment_format.h"
#include "codec/stream_writer.h"

namespace tuk {
namespace {

constexpr uint32_t kUnreached = UINT32_MAX;

}  // namespace

OptimalParser::OptimalParser() : nodes_(new Node[kSegmentSize + 1]) {
  steps_.reserve(kSegmentSize / 2);
}

size_t OptimalParser::Encode(const SegmentWindow& window, const OptimalParams& params,
                             uint8_t* out, uint8_t* limit) {
  finder_.Begin(window, params.primeBytes, params.depth, params.niceLength);
  const size_t size = window.end - window.start;
  Node* const nodes = nodes_.get();
  nodes[0] = {0, 0, 0};
  for (size_t k = 1; k <= size; ++k) nodes[k].price = kUnreached;
  const auto relax = [nodes](size_t to, uint32_t price, size_t length, uint32_t distance) {
    Node& node = nodes[to];
    if (price < node.price) {
      node = {price, static_cast<uint16_t>(length), static_cast<uint16_t>(distance)};
    }
  };

  Match matches[TreeMatchFinder::kMaxMatches];
  for (size_t k = 0; k < size;) {
    const Node& node = nodes[k];
    // The literals just before position k, and where their run began.
    const size_t literals = node.length == 0 ? node.value : 0;
    const size_t runStart = k - literals;

    // One more literal.
    {
      const uint32_t price =
          nodes[runStart].price + static_cast<uint32_t>(RunCost(literals + 1, runStart == 0));
      if (price < nodes[k + 1].price) {
        nodes[k + 1] = {price, 0, static_cast<uint16_t>(literals + 1)};
      }
    }

    const size_t found = finder_.Find(window.start + k, matches);
    const bool atStart = node.length == 0 && runStart == 0;
    const uint32_t before = node.price + (k == 0 ? 1 : 0);  // a 17 opens a stream without literals
    // Two bytes close by, in the short form only some literal counts allow.
    const uint32_t pair = finder_.NearestPair();
    if (pair != 0 && ShortFormAllowed(2, pair, literals, atStart)) relax(k + 2, before + 2, 2, pair);
    if (found == 0) {
      ++k;
      continue;
    }

    // Every match at every length it covers, up to the nice length: a
    // shorter match may leave a cheaper way on.
    const Match& longest = matches[found - 1];
    const size_t lastPriced = std::min<size_t>(longest.length, params.niceLength - 1);
    size_t length = 3;
    for (size_t i = 0; i < found && length <= lastPriced; ++i) {
      const uint32_t distance = matches[i].distance;
      const size_t reach = std::min<size_t>(matches[i].length, lastPriced);
      for (; length <= reach; ++length) {
        relax(k + length,
              before + static_cast<uint32_t>(MatchCost(length, distance, literals, atStart)),
              length, distance);
      }
    }
    if (longest.length >= params.niceLength) {
      // Taken at once: the positions it covers are entered, not searched.
      relax(k + longest.length,
            before + static_cast<uint32_t>(
                         MatchCost(longest.length, longest.distance, literals, atStart)),
            longest.length, longest.distance);
      k += longest.length;
      finder_.Skip(window.start + k);
      continue;
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
