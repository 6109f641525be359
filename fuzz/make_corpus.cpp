// Writes the seed corpus of every fuzz target into a directory (normally
// fuzz/corpus): a few archives of both modes, mode-1 payloads using every
// kind of instruction, list files and round-trip inputs. Each crafted
// payload is decoded here before it is written, and the program fails if
// it does not give the bytes it was made for.
//
//   make_corpus <corpus directory>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/format/layout.h"
#include "codec/decoder.h"
#include "fuzz/fuzz_support.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Repeat(const std::string& pattern, size_t length) {
  Bytes out(length);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(pattern[i % pattern.size()]);
  return out;
}

const Bytes kEnd = {17, 0, 0};

// Appends what a match copies: byte by byte, so it may overlap its source.
void Match(Bytes& out, size_t distance, size_t length) {
  for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

// One segment stream and the bytes it decodes to.
struct Stream {
  Bytes code;
  Bytes output;
};

// Segment streams covering each instruction of the format.
std::vector<Stream> Streams() {
  std::vector<Stream> streams;
  // A literal run only.
  streams.push_back({Join({{17 + 5}, Text("hello"), kEnd}), Text("hello")});
  // Three literals, then M2: length 8, distance 3.
  streams.push_back({Join({{17 + 3}, Text("abc"), {0xE8, 0x00}, kEnd}),
                     Repeat("abc", 11)});
  // Four literals, then M3: length 20, distance 4, and two trailing
  // literals taken from the distance's low bits.
  streams.push_back({Join({{17 + 4}, Text("abcd"), {32 | 18, (3 << 2) | 2, 0},
                           Text("xy"), kEnd}),
                     Join({Repeat("abcd", 24), Text("xy")})});
  // One literal, then M3 with an extended length (31 + 2 * 255 + 5 + 2),
  // distance 1; then M1 after its trailing literal: length 2, distance 2.
  streams.push_back({Join({{17 + 1}, Text("z"), {32, 0, 0, 5, 1, 0}, Text("q"),
                           {(1 << 2), 0}, kEnd}),
                     Join({Repeat("z", 549), Text("q"), Text("zq")})});
  // 16400 bytes by an extended M3, then M4 (distance 16384, length 9), then
  // a run of 4 literals, then M1 after it: length 3, distance 2049.
  {
    Bytes code = Join({{17 + 1}, Text("m"), {32}});
    code.insert(code.end(), 64, 0);
    code.push_back(47);  // 31 + 64 * 255 + 47 + 2 = 16400
    code.insert(code.end(), {0, 0});
    code.insert(code.end(), {23, 0, 0});  // M4: 7 + 2 = 9 bytes back 16384
    code.insert(code.end(), {1});         // 1 + 3 = 4 literals
    code.insert(code.end(), {'w', 'x', 'y', 'z'});
    code.insert(code.end(), {0, 0});      // M1 with a run before it
    code.insert(code.end(), kEnd.begin(), kEnd.end());
    Bytes out = Repeat("m", 16401 + 9);
    out.insert(out.end(), {'w', 'x', 'y', 'z'});
    Match(out, 2049, 3);
    streams.push_back({code, out});
  }
  // A long first literal run (the 0-led count): 18 + 255 + 7 = 280.
  streams.push_back({Join({{0, 0, 7}, Repeat("0123456789", 280), kEnd}),
                     Repeat("0123456789", 280)});
  return streams;
}

// A payload of the given streams, one segment each.
Bytes Payload(const std::vector<Stream>& streams) {
  Bytes table;
  Bytes code;
  auto put32 = [&table](uint32_t value) {
    uint8_t le[4];
    tuk::WriteU32LE(le, value);
    table.insert(table.end(), le, le + 4);
  };
  put32(static_cast<uint32_t>(streams.size()));
  for (const Stream& stream : streams) {
    put32(static_cast<uint32_t>(stream.code.size()));
    put32(static_cast<uint32_t>(stream.output.size()));
    put32(static_cast<uint32_t>(code.size()));
    code.insert(code.end(), stream.code.begin(), stream.code.end());
  }
  return Join({table, code});
}

Bytes Output(const std::vector<Stream>& streams) {
  Bytes out;
  for (const Stream& stream : streams) {
    out.insert(out.end(), stream.output.begin(), stream.output.end());
  }
  return out;
}

bool Check(const Bytes& payload, const Bytes& expected, const char* what) {
  Bytes out(expected.size() + 1);
  const tuk::DecodeOutcome outcome =
      tuk::DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()),
                         out.data(), static_cast<uint32_t>(out.size()));
  if (outcome.error == tuk::DecodeError::None && outcome.length == expected.size() &&
      std::equal(expected.begin(), expected.end(), out.begin())) {
    return true;
  }
  std::fprintf(stderr, "crafted payload %s does not decode as intended\n", what);
  return false;
}

void Put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  tuk::fuzz::WriteWholeFile((dir / name).string(), bytes.data(), bytes.size());
}

Bytes U32(uint32_t value) {
  Bytes out(4);
  tuk::WriteU32LE(out.data(), value);
  return out;
}

tuk::fuzz::Entry Stored(const std::string& name, const Bytes& content) {
  return {name, content, static_cast<uint32_t>(content.size())};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus <corpus directory>\n");
    return 2;
  }
  const fs::path root(argv[1]);
  const std::vector<Stream> streams = Streams();

  // Payloads: each stream alone, then several as segments of one payload;
  // the later segments' matches may reach back into the earlier output.
  std::vector<std::pair<std::string, std::vector<Stream>>> payloads;
  for (size_t i = 0; i < streams.size(); ++i) {
    if (i == 4) continue;  // the largest one only in the multi-segment payload
    payloads.push_back({"stream" + std::to_string(i), {streams[i]}});
  }
  payloads.push_back({"segments", {streams[0], streams[4], streams[1]}});
  Stream crossing;  // a second segment made only of a match into the first
  crossing.code = Join({{17 + 1}, Text("!"), {0xE0 | (5 << 2), 0}, kEnd});
  {
    // Distance 6 reaches over the segment boundary into "hello".
    Bytes all = Join({streams[0].output, Text("!")});
    Match(all, 6, 8);
    crossing.output.assign(all.begin() + 5, all.end());
  }
  payloads.push_back({"crossing", {streams[0], crossing}});

  bool ok = true;
  for (const auto& [name, parts] : payloads) {
    const Bytes payload = Payload(parts);
    const Bytes output = Output(parts);
    ok = Check(payload, output, name.c_str()) && ok;
    Put(root / "decompression", name,
        Join({U32(static_cast<uint32_t>(output.size())), payload}));
  }
  Put(root / "decompression", "empty", Join({U32(0), U32(0)}));
  if (!ok) return 1;

  // Archives of both modes.
  const Bytes lorem = Text("Lorem ipsum dolor sit amet, consectetur adipiscing elit.\n");
  const std::vector<tuk::fuzz::Entry> storedEntries = {
      Stored("readme.txt", lorem),
      Stored("data/empty.bin", {}),
      Stored("data/Sub Dir/bytes.bin", {0, 1, 2, 3, 254, 255}),
  };
  std::vector<tuk::fuzz::Entry> segmentedEntries;
  for (const auto& [name, parts] : payloads) {
    if (name == "segments") continue;
    segmentedEntries.push_back(
        {"packed/" + name + ".bin", Payload(parts),
         static_cast<uint32_t>(Output(parts).size())});
  }
  segmentedEntries.push_back({"packed/empty.bin", Payload({{Join({{17}, kEnd}), {}}}), 0});

  const Bytes mode0 = tuk::fuzz::CraftArchive(tuk::kModeStored, storedEntries);
  const Bytes mode1 = tuk::fuzz::CraftArchive(tuk::kModeSegmented, segmentedEntries);
  const Bytes empty = tuk::fuzz::CraftArchive(tuk::kModeStored, {});
  // Names the extraction must refuse, and a count far beyond the records.
  const Bytes hostile = tuk::fuzz::CraftArchive(
      tuk::kModeStored, {Stored("../escape.txt", Text("no")),
                         Stored("/abs.txt", Text("no")),
                         Stored("a\\..\\b.txt", Text("no"))});
  Bytes overcounted = mode0;
  tuk::WriteU32LE(overcounted.data() + tuk::ReadU32LE(overcounted.data()), 0xFFFFFFFFu);
  for (const char* target : {"load_index", "extract"}) {
    Put(root / target, "mode0.tuk", mode0);
    Put(root / target, "mode1.tuk", mode1);
    Put(root / target, "empty.tuk", empty);
    Put(root / target, "hostile.tuk", hostile);
    Put(root / target, "overcounted.tuk", overcounted);
  }

  // List files, in the names of the list target's archive.
  Put(root / "list_file", "names.lst", Text("a.txt\ndir/b.txt\nDIR/SUB/C.BIN\n"));
  Put(root / "list_file", "crlf.lst", Text("a.txt\r\n\r\nwith space.txt \t\r\n"));
  Put(root / "list_file", "unknown.lst", Text("x\nmissing.txt\n\n   \n"));
  {
    Bytes line = Repeat("dir/", 600);
    line.push_back('\n');
    line.insert(line.end(), {'a', '.', 't', 'x', 't', 0xE9, 0x80, 0x7F, '\n'});
    Put(root / "list_file", "long.lst", line);
  }

  // Round-trip inputs: as they are (low bit of the first byte clear), and
  // repeated up to a length over several segments (low bit set).
  Put(root / "roundtrip", "empty", {0});
  Put(root / "roundtrip", "text", Join({{0}, lorem}));
  Put(root / "roundtrip", "two_segments", Join({{1, 0x01, 0x80, 0x00}, lorem}));
  Put(root / "roundtrip", "segment_edge", Join({{1, 0x00, 0x80, 0x00}, Text("x")}));
  Put(root / "roundtrip", "long_runs", Join({{1, 0xFF, 0xFF, 0x02}, {0, 0, 0, 7}}));

  // Encoder inputs: a level byte (0: every level), then a round-trip input.
  Put(root / "encoder", "text_every_level", Join({{0, 0}, lorem}));
  Put(root / "encoder", "three_segments_level9", Join({{9, 1, 0x00, 0x80, 0x01}, lorem}));
  Put(root / "encoder", "zeros_level1", Join({{1, 1, 0xFF, 0xFF, 0x03}, {0}}));
  Put(root / "encoder", "one_byte_every_level", {0, 0, 'x'});
  Put(root / "encoder", "short_runs_level5",
      Join({{5, 1, 0x10, 0x90, 0x00}, Text("aab-abcab--aaaa-ab-")}));
  return 0;
}
