#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; this script says how they were made. Image names
are those the fuzz targets create in their scratch directory (a.bmp, b.bmp,
s.bmp) and names that do not exist.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    path = os.path.join(HERE, "corpus", target, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def slot(name, filler=0):
    raw = name.encode()
    return raw + b"\0" + bytes([filler]) * (127 - len(raw))


def board(offset, tiles, sky, animated, trailing=b""):
    out = bytearray([0x2A]) + struct.pack("<i", offset) + b"\xee" * (offset - 5)
    for r in range(4096):
        flags = 4 if r in animated else 0
        out += struct.pack("<iiBbBbBBB", r, -r, 0, r % 3, 0, 0, flags, r % 4, r % (len(tiles) + 2))
    out += struct.pack("<i", len(tiles))
    for k, name in enumerate(tiles):
        out += slot(name, filler=k)
    out += struct.pack("<iif", 2, 3, 0.5)
    out += slot(sky, filler=0x55)
    return bytes(out + trailing)


write("board", "three-tiles", board(5, ["a.bmp", "b.bmp", "missing.bmp"], "s.bmp", {0, 65, 4095}))
write("board", "gap-no-tiles", board(9, [], "missing-sky.bmp", set(), trailing=b"\1\2\3"))

write("tilelist", "decimal", b"3\na.bmp\nb.bmp\nmissing.bmp\n")
write("tilelist", "hex-crlf", b"0x2\r\na.bmp\r\nb.bmp\r\nextra.bmp\r\n")
write("tilelist", "octal-one-line", b"  010 a.bmp b.bmp a.bmp b.bmp\ta.bmp b.bmp a.bmp b.bmp")
write("tilelist", "zero", b"0")
write("tilelist", "too-few", b"+4 a.bmp")
# Names at the longest a slot holds, and one character longer.
write("tilelist", "longest-name", b"2\n" + b"n" * 127 + b"\n" + b"a.bmp")
write("tilelist", "name-too-long", b"1 " + b"n" * 128)

rng = random.Random(9)
for n in range(4):
    write("render", "random-%d" % n, bytes(rng.randrange(256) for _ in range(120 + 90 * n)))
