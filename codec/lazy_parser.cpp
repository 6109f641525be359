#include "codec/lazy_parser.h"

#include "codec/stream_writer.h"

namespace tuk {
namespace {

// Bytes a match saves over writing its bytes as literals (negative when it
// costs more).
inline long Saving(const Match& match, size_t literals, bool atStart) {
  if (match.length == 0) return -1;
  return static_cast<long>(match.length) -
         static_cast<long>(MatchCost(match.length, match.distance, literals, atStart));
}

}  // namespace

size_t LazyParse(ChainMatchFinder& finder, const SegmentWindow& window, const LazyParams& params,
                 uint8_t* out, uint8_t* limit) {
  finder.Begin(window, params.primeBytes, params.primeStep);
  const uint8_t* const base = window.base;
  const size_t end = window.end;
  StreamWriter writer(out, limit, base + end);
  size_t anchor = window.start;
  size_t position = window.start;
  while (end - position >= ChainMatchFinder::kMinLength) {
    finder.InsertUpTo(position);
    Match match = finder.Longest(position, params.depth, params.niceLength);
    const bool atStart = anchor == window.start;
    long saving = Saving(match, position - anchor, atStart);
    if (saving <= 0) {
      ++position;
      continue;
    }
    for (int step = 0; step < params.lookAhead && match.length < params.niceLength &&
                       end - (position + 1) >= ChainMatchFinder::kMinLength;
         ++step) {
      finder.InsertUpTo(position + 1);
      const Match later = finder.Longest(position + 1, params.depth, params.niceLength);
      // The later match also leaves one more byte as a literal.
      const long laterSaving = Saving(later, position + 1 - anchor, atStart) - 1;
      if (laterSaving <= saving) break;
      ++position;
      match = later;
      saving = laterSaving + 1;
    }
    if (!writer.Sequence(base + anchor, position - anchor, match.length, match.distance)) return 0;
    if (match.length > params.maxInsert) finder.SkipTo(position + match.length);
    position += match.length;
    anchor = position;
  }
  if (!writer.Finish(base + anchor, end - anchor)) return 0;
  return writer.Length();
}

}  // namespace tuk
