/* A plain reference extractor for mode-1 archives, the peer tukUnpack is
 * timed against in compare_tar.sh: reads the index, and for every entry
 * reads its payload whole, decodes its segments with liblzo2 and writes the
 * file in one call.
 *
 *   lzo_extract ARCHIVE DIR
 *
 * Segments are decoded with lzo1x_decompress_safe. A segment whose matches
 * reach back into the segment before it (which our encoder allows) cannot
 * be decoded on its own, as liblzo2 lets no match reach before its output:
 * it is decoded again behind the previous 32 KiB, given as literals. How
 * many needed that is printed on standard error. Exits 0 when every entry
 * was written, 2 otherwise. Trusts the archive's sizes, as a benchmark may. */
#include <errno.h>
#include <fcntl.h>
#include <lzo/lzo1x.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static uint32_t u32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static unsigned long prefixedSegments;

/* The count that opens a run of n literals at a stream's start. */
static size_t firstCount(unsigned char* to, size_t n) {
  size_t at = 0;
  if (n <= 238) {
    to[at++] = (unsigned char)(17 + n);
    return at;
  }
  to[at++] = 0;
  for (n -= 18; n > 255; n -= 255) to[at++] = 0;
  to[at++] = (unsigned char)n;
  return at;
}

/* Decodes a segment whose matches reach into the output before it: the
 * stream is given the previous (up to) 32 KiB as literals in front of its
 * own first literals, and that many bytes are dropped from its output. */
static int decodeWithWindow(const unsigned char* stream, uint32_t length, unsigned char* out,
                            uint32_t at, uint32_t room) {
  static unsigned char* input;
  static unsigned char* scratch;
  if (input == NULL) {
    input = malloc(2 * 32768 + 1024 + 4 * 1024 * 1024);
    scratch = malloc(32768 + 4 * 1024 * 1024);
  }
  const uint32_t window = at < 32768 ? at : 32768;
  /* The segment's own first run: its count and where its bytes start. */
  uint32_t first = 0, skip = 1;
  if (length < 2) return -1;
  if (stream[0] > 17) {
    first = stream[0] - 17u;
  } else if (stream[0] == 0) {
    first = 18;
    while (skip < length && stream[skip] == 0) first += 255, ++skip;
    if (skip >= length) return -1;
    first += stream[skip++];
  } else if (stream[0] != 17) {
    return -1;
  }
  /* After a run of 4 or more, an instruction below 16 means another match
   * than after 0 to 3 literals: such a stream cannot be joined. */
  if (first < 4 && skip + first < length && stream[skip + first] < 16) return -1;
  if (skip + (uint64_t)first > length || length - skip > 4 * 1024 * 1024) return -1;
  if (room > 4 * 1024 * 1024) room = 4 * 1024 * 1024;
  size_t n = firstCount(input, window + first);
  memcpy(input + n, out + at - window, window);
  memcpy(input + n + window, stream + skip, length - skip);
  lzo_uint produced = window + room;
  if (lzo1x_decompress_safe(input, n + window + length - skip, scratch, &produced, NULL) !=
          LZO_E_OK ||
      produced < window) {
    return -1;
  }
  memcpy(out + at, scratch + window, produced - window);
  ++prefixedSegments;
  return (int)(produced - window);
}

static int decode(const unsigned char* payload, uint32_t stored, unsigned char* out,
                  uint32_t size) {
  if (stored < 4) return -1;
  const uint32_t count = u32(payload);
  const uint64_t area = 4 + (uint64_t)count * 12;
  if (area > stored) return -1;
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* record = payload + 4 + (size_t)i * 12;
    const uint64_t start = area + u32(record + 8);
    const uint32_t packed = u32(record);
    if (start + packed > stored) return -1;
    /* A stream opening with no literals (the byte 17): liblzo2 takes a
     * first byte above 17 for a literal count, so only an M4 match (16 or
     * 17) can be handed over from the match on; any other match needs the
     * literals in front. */
    const int noLiterals = packed >= 2 && payload[start] == 17;
    const int bare = noLiterals && payload[start + 1] >= 16 && payload[start + 1] <= 17;
    lzo_uint length = size + 1 - at;
    int r = LZO_E_LOOKBEHIND_OVERRUN;
    if (!noLiterals || bare) {
      r = lzo1x_decompress_safe(payload + start + bare, packed - bare, out + at, &length, NULL);
    }
    /* liblzo2 reports a match before its output as a look-behind or, when
     * it meets the match first, as an input overrun. */
    if ((r == LZO_E_LOOKBEHIND_OVERRUN || r == LZO_E_INPUT_OVERRUN) && at > 0) {
      const int got = decodeWithWindow(payload + start, packed, out, at, size + 1 - at);
      if (got < 0) return -1;
      at += (uint32_t)got;
    } else if (r != LZO_E_OK) {
      return -1;
    } else {
      at += (uint32_t)length;
    }
  }
  return at == size ? 0 : -1;
}

/* Makes the directories of path (a file's path), skipping those the
 * previous file already had. */
static void makeParents(char* path) {
  static char last[4096];
  char* slash = strrchr(path, '/');
  if (slash == NULL) return;
  *slash = '\0';
  if (strcmp(path, last) != 0) {
    for (char* p = path + 1; *p != '\0'; ++p) {
      if (*p != '/') continue;
      *p = '\0';
      mkdir(path, 0777);
      *p = '/';
    }
    mkdir(path, 0777);
    snprintf(last, sizeof last, "%s", path);
  }
  *slash = '/';
}

int main(int argc, char** argv) {
  if (argc != 3 || lzo_init() != LZO_E_OK) {
    fprintf(stderr, "usage: lzo_extract ARCHIVE DIR\n");
    return 1;
  }
  FILE* archive = fopen(argv[1], "rb");
  unsigned char header[8];
  if (archive == NULL || fread(header, 1, 8, archive) != 8 || u32(header + 4) != 1) {
    fprintf(stderr, "lzo_extract: not a mode-1 archive: %s\n", argv[1]);
    return 2;
  }
  fseeko(archive, u32(header), SEEK_SET);
  unsigned char field[4];
  if (fread(field, 1, 4, archive) != 4) return 2;
  const uint32_t entries = u32(field);
  struct Entry {
    char* name;
    uint32_t stored, size, offset;
  }* list = calloc(entries ? entries : 1, sizeof *list);
  for (uint32_t i = 0; i < entries; ++i) {
    if (fread(field, 1, 4, archive) != 4) return 2;
    const uint32_t length = u32(field);
    list[i].name = malloc(length + 1);
    unsigned char rest[24];
    if (fread(list[i].name, 1, length, archive) != length || fread(rest, 1, 24, archive) != 24) {
      return 2;
    }
    list[i].name[length] = '\0';
    list[i].stored = u32(rest);
    list[i].size = u32(rest + 4);
    list[i].offset = u32(rest + 8);
  }

  int status = 0;
  for (uint32_t i = 0; i < entries && status == 0; ++i) {
    unsigned char* payload = malloc(list[i].stored ? list[i].stored : 1);
    unsigned char* out = malloc((size_t)list[i].size + 1);
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", argv[2], list[i].name);
    if (fseeko(archive, list[i].offset, SEEK_SET) != 0 ||
        fread(payload, 1, list[i].stored, archive) != list[i].stored ||
        decode(payload, list[i].stored, out, list[i].size) != 0) {
      fprintf(stderr, "lzo_extract: cannot decode %s\n", list[i].name);
      status = 2;
    } else {
      makeParents(path);
      const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || write(fd, out, list[i].size) != (ssize_t)list[i].size || close(fd) != 0) {
        fprintf(stderr, "lzo_extract: cannot write %s: %s\n", path, strerror(errno));
        status = 2;
      }
    }
    free(payload);
    free(out);
    free(list[i].name);
  }
  free(list);
  fclose(archive);
  fprintf(stderr, "lzo_extract: %lu segments decoded behind the previous 32 KiB\n",
          prefixedSegments);
  return status;
}
