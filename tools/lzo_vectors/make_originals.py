#!/usr/bin/env python3
"""Writes the original files that the LZO test vectors are made from.

Every byte comes from a fixed-seed xorshift generator, so running this again
writes the same files. Usage: make_originals.py OUTPUT_DIR
"""

import os
import sys

SEGMENT = 32768


class XorShift:
    """xorshift64*: a generator of our own, so the output never depends on
    the Python version's random module."""

    def __init__(self, seed):
        self.state = seed or 1

    def next(self):
        x = self.state
        x ^= (x >> 12)
        x ^= (x << 25) & 0xFFFFFFFFFFFFFFFF
        x ^= (x >> 27)
        self.state = x
        return ((x * 0x2545F4914F6CDD1D) & 0xFFFFFFFFFFFFFFFF) >> 32

    def below(self, n):
        return self.next() % n

    def bytes(self, n):
        return bytes(self.next() & 0xFF for _ in range(n))


WORDS = (
    "the of and to in is that for it as was with be by on not he this are or "
    "his from at which but have an they you were her she there one all we "
    "their can has been if more when will would who so no archive file entry "
    "index segment payload stream header offset length size name directory "
    "extract pack unpack buffer record table literal match distance window "
    "output input byte count value error path tool library decoder encoder "
    "compression restored written read opened closed checked listed merged "
    "moved scanned replaced skipped failed completed"
).split()


def text_like(rng, size):
    """Sentences of common words, picked with a skew towards the first ones,
    cut into lines and paragraphs."""
    out = []
    length = 0
    column = 0
    sentence_start = True
    while length < size:
        # Squaring a uniform value favours low indexes, like word frequencies.
        u = rng.below(1 << 16) / float(1 << 16)
        word = WORDS[int(len(WORDS) * u * u)]
        if sentence_start:
            word = word.capitalize()
            sentence_start = False
        piece = word
        roll = rng.below(100)
        if roll < 8:
            piece += "."
            sentence_start = True
        elif roll < 12:
            piece += ","
        elif roll < 13:
            piece += " %d" % rng.below(100000)
        if column + len(piece) + 1 > 72:
            piece = "\n" + piece
            column = len(piece) - 1
            if sentence_start and rng.below(6) == 0:
                piece = "\n" + piece
        else:
            if column:
                piece = " " + piece
            column += len(piece)
        out.append(piece)
        length += len(piece)
    return "".join(out).encode("ascii")[:size]


def binary_half(rng):
    """One segment's worth of binary data: fixed-size records, a stretch of
    noise, short periodic patterns, and a far repeat of earlier records."""
    data = bytearray()
    # Records of 16 bytes: counters and a few flag values repeat often.
    stamp = 1000
    for i in range(700):
        stamp += rng.below(40)
        data += i.to_bytes(4, "little")
        data += ((i * 2654435761) & 0xFFFFFFFF).to_bytes(4, "little")
        data += (rng.below(4) * 0x101).to_bytes(2, "little")
        data += b"\xca\xfe"
        data += stamp.to_bytes(4, "little")
    # Noise: a literal run long enough to need a multi-byte count.
    data += rng.bytes(3000)
    # Short periods: matches that overlap their own output.
    for period in (1, 2, 3, 5, 7, 9):
        unit = rng.bytes(period)
        data += unit * (300 // period)
        data += rng.bytes(5)
    # Three-byte repeats from 2049 to 3072 bytes back, each after a few
    # bytes of noise: the 3-byte M1 form that follows a literal run.
    for _ in range(60):
        data += rng.bytes(4 + rng.below(4))
        back = 2049 + rng.below(1024)
        data += data[-back:][:3]
    # A sawtooth of 16-bit samples with a little noise.
    value = 0
    for _ in range(1500):
        value = (value + 97) & 0x3FFF
        data += ((value + rng.below(4)) & 0xFFFF).to_bytes(2, "little")
    # A far repeat: 700 bytes of the records, more than 16 KiB back.
    data += rng.bytes(16)
    data += data[1000:1700]
    while len(data) < SEGMENT:
        data += rng.bytes(rng.below(6) + 1)
        data += data[-rng.below(3000) - 100:][:rng.below(60) + 4]
    return bytes(data[:SEGMENT])


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_originals.py OUTPUT_DIR\n")
        return 2
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    rng = XorShift(0x7475_6B21)

    files = {}
    # Three full segments and a short fourth one.
    files["text.txt"] = text_like(rng, 3 * SEGMENT + 1696)
    # Two full segments, then a one-byte segment.
    files["binary.bin"] = binary_half(rng) + binary_half(rng) + b"\x5a"
    # One repeated byte: the longest matches and length extensions.
    files["run.bin"] = b"a" * (SEGMENT + 7232)
    # Shorter than any match: a lone literal run.
    files["tiny.txt"] = b"tuk says hi\n"
    files["one.bin"] = b"\x00"
    # Files whose first literal run is 18 and 19 bytes: the longest run
    # written with one short count byte, and the shortest long count.
    for run in (18, 19):
        unique = bytes(range(0x30, 0x30 + run - 1))
        files["first_run_%d.bin" % run] = unique + b"z" * 40 + unique[:9]

    for name, content in files.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main())
