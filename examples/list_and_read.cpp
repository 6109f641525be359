// Lists an archive, then reads every entry on two threads at once, each
// thread taking every other entry from one shared reader.
//
//   list_and_read ARCHIVE
#include <tuk/tuk.h>

#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_and_read ARCHIVE\n");
    return 1;
  }
  tuk::ArchiveReader reader;
  const tuk::Status opened = reader.Open(argv[1]);
  if (!opened.ok()) {
    std::fprintf(stderr, "list_and_read: %s\n", opened.message().c_str());
    return 2;
  }
  const tuk::Index& index = reader.index();
  std::printf("mode %u, %zu entries\n", index.mode(), index.size());
  for (const tuk::Entry& entry : index.entries()) {
    std::printf("%10u %10u  %s\n", entry.size, entry.storedSize, entry.name.c_str());
  }

  // Each thread sums the bytes it read; a failed read counts as a failure.
  uint64_t sums[2] = {0, 0};
  bool failed[2] = {false, false};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t> bytes;
      for (size_t i = t; i < index.size(); i += 2) {
        if (!reader.Read(i, bytes).ok()) {
          failed[t] = true;
          continue;
        }
        for (uint8_t byte : bytes) sums[t] += byte;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  if (failed[0] || failed[1]) {
    std::fprintf(stderr, "list_and_read: some entries could not be read\n");
    return 2;
  }
  std::printf("byte sum %llu\n", static_cast<unsigned long long>(sums[0] + sums[1]));
  return 0;
}
