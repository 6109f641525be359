#!/usr/bin/env python3
# Generates a benchmark tree (used by bench/compare_tar.sh and
# bench/compare_mount.sh):
#
#   bench/generate_tree.py <dir> <files> <total-bytes> <seed> <large-files> <cap-bytes>
#
# The same arguments always give the same tree.
import os, random, sys
root, files, total, seed, large, cap = sys.argv[1], *map(int, sys.argv[2:7])
rng = random.Random(seed)
# A few large files first (past the 4 MB first buffer), the rest of the
# bytes spread over the other files with a skewed size distribution.
sizes = [rng.randint(4_200_000, 6_000_000) for _ in range(large)]
rest = max(total - sum(sizes), 0)
weights = [rng.paretovariate(1.3) for _ in range(files - large)]
scale = rest / sum(weights)
# The cap keeps one file of the tail from taking a large share.
sizes += [min(cap, max(0, int(w * scale))) for w in weights]
rng.shuffle(sizes)
# Directories two to four levels deep, about 30 files each.
dirs = []
for d in range(max(1, files // 30)):
    depth = 1 + d % 4
    parts = [f"d{d % 7}"] + [f"s{(d * 31 + i) % 11}_{d}" for i in range(depth - 1)]
    dirs.append(os.path.join(root, *parts))
chunk = rng.randbytes(1 << 20) if hasattr(rng, "randbytes") else os.urandom(1 << 20)
text = (b"object.create vehicle harlo\nobject.setposition 0/0/0\n" * 20000)[: 1 << 20]
for i, size in enumerate(sizes):
    d = dirs[i % len(dirs)]
    os.makedirs(d, exist_ok=True)
    ext = (".con", ".dds", ".wav", ".tga", ".txt")[i % 5]
    source = text if ext in (".con", ".txt") else chunk
    with open(os.path.join(d, f"file{i:05d}{ext}"), "wb") as f:
        left, at = size, (i * 4099) % (1 << 19)
        while left > 0:
            piece = min(left, len(source) - at)
            f.write(source[at:at + piece])
            left -= piece
            at = 0
