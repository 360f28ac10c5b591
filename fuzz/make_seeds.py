#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; this script says how they were made. Image names
are those the fuzz targets create in their scratch directory (a.bmp, b.bmp,
s.bmp) and names that do not exist.
"""
import os
import random
import struct
import subprocess

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

# Tiled maps: the first byte chooses the format (even: TMX, odd: JSON), the
# rest is the map. a.bmp holds two 32 x 32 tiles, or eight of 16 x 16.
import base64
import zlib

write("tiled", "csv-flips-animation", b"\0" + b"""<map orientation="orthogonal" width="4" height="2" tilewidth="16" tileheight="16">
 <properties><property name="outside_delay" type="int" value="3"/><property name="sky" type="file" value="s.bmp"/></properties>
 <tileset firstgid="1" name="a" tilewidth="16" tileheight="16"><image source="a.bmp"/>
  <tile id="2"><animation><frame tileid="0" duration="100"/><frame tileid="5" duration="250"/></animation></tile></tileset>
 <layer name="g" width="4" height="2"><data encoding="csv">1,2,3,4,2147483653,1073741830,536870919,3758096392</data></layer>
 <group name="top"><layer name="t" width="4" height="2"><data encoding="csv">0,0,0,3,0,0,0,0</data></layer></group>
 <objectgroup name="o"/>
</map>""")
gids = b"".join((1 + (i % 2)).to_bytes(4, "little") for i in range(9))
write("tiled", "json-base64-zlib", b"\1" + ("""{"type": "map", "orientation": "orthogonal", "width": 3, "height": 3,
 "tilewidth": 32, "tileheight": 32, "infinite": false, "backgroundcolor": "#336699",
 "tilesets": [{"firstgid": 1, "name": "a", "tilewidth": 32, "tileheight": 32, "image": "a.bmp",
  "imagewidth": 64, "imageheight": 32, "margin": 0, "spacing": 0, "tilecount": 2, "columns": 2}],
 "layers": [{"type": "tilelayer", "name": "g", "width": 3, "height": 3, "visible": true,
  "encoding": "base64", "compression": "zlib", "data": "%s"}]}""" % base64.b64encode(zlib.compress(gids)).decode()).encode())
write("tiled", "infinite-chunks", b"\0" + b"""<map orientation="orthogonal" width="1" height="1" tilewidth="32" tileheight="32" infinite="1">
 <tileset firstgid="1" name="a" tilewidth="32" tileheight="32"><image source="a.bmp"/></tileset>
 <layer name="g" width="32" height="16"><data encoding="csv">
  <chunk x="16" y="0" width="2" height="2">1,2,2,1</chunk><chunk x="48" y="48" width="2" height="1">2,0</chunk>
 </data></layer>
</map>""")
# Layers composed: opacity and tint on a group and a layer, a transparent
# colour, a 64-pixel map resampled, an infinite map at negative cells; the
# first byte also asks for a region (bit 2) and merging (bit 1).
write("tiled", "layers-opacity-region", bytes([6]) + b"""<map orientation="orthogonal" width="70" height="3" tilewidth="16" tileheight="16" backgroundcolor="#204060">
 <tileset firstgid="1" name="a" tilewidth="16" tileheight="16"><image source="a.bmp" trans="ff00ff"/></tileset>
 <layer name="g" width="70" height="3"><data encoding="csv">""" + b",".join(b"%d" % (1 + i % 8) for i in range(210)) + b"""</data></layer>
 <group name="d" opacity="0.5" tintcolor="#80ff8040"><layer name="t" width="70" height="3" opacity="0.7"><data encoding="csv">""" +
      b",".join(b"%d" % ((i % 3 == 0) * (2147483650 + i % 4)) for i in range(210)) + b"""</data></layer></group>
</map>""")
write("tiled", "infinite-negative-64", b"\0" + b"""<map orientation="orthogonal" width="1" height="1" tilewidth="64" tileheight="64" infinite="1">
 <tileset firstgid="1" name="c" tilewidth="64" tileheight="64"><tile id="0"><image source="a.bmp"/></tile>
  <tile id="1" x="0" y="0" width="64" height="64"><image source="a.bmp"/></tile></tileset>
 <layer name="g" width="32" height="16"><data encoding="csv">
  <chunk x="-16" y="-16" width="2" height="2">1,2,2,1</chunk><chunk x="0" y="0" width="2" height="1">2,0</chunk>
 </data></layer>
</map>""")
# "exported-board" is not made here: it is a zero byte followed by what
# `boardtool export corpus/board/three-tiles x.tmx` writes, run beside a.bmp,
# b.bmp and s.bmp as the fuzz targets make them.
# Image files of every format the loader reads, 4 x 3 pixels each.
import zlib

W, H = 4, 3
PIXELS = [((x * 60) & 255, (y * 90) & 255, (x * y * 40) & 255) for y in range(H) for x in range(W)]


def bmp(bits):
    colours = 256 if bits == 8 else 0
    row = (W * bits + 31) // 32 * 4
    offset = 14 + 40 + colours * 4
    out = b"BM" + struct.pack("<IHHI", offset + row * H, 0, 0, offset)
    out += struct.pack("<IiiHHIIiiII", 40, W, H, 1, bits, 0, row * H, 2835, 2835, colours, 0)
    out += b"".join(struct.pack("<BBBB", i, 255 - i, i // 2, 0) for i in range(colours))
    for y in reversed(range(H)):
        line = b""
        for x in range(W):
            r, g, b = PIXELS[y * W + x]
            line += bytes([y * W + x]) if bits == 8 else bytes([b, g, r])
        out += line + b"\0" * (row - len(line))
    return out


def png(colour_type):
    raw = b""
    for y in range(H):
        raw += b"\0" + b"".join(bytes([y * W + x]) if colour_type == 3 else bytes(PIXELS[y * W + x])
                                for x in range(W))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, colour_type, 0, 0, 0))
    if colour_type == 3:
        out += chunk(b"PLTE", b"".join(bytes(p) for p in PIXELS))
    return out + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def tga(rle):
    out = struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if rle else 2, 0, 0, 0, 0, 0, W, H, 24, 0x20)
    for r, g, b in PIXELS:
        out += (b"\x00" if rle else b"") + bytes([b, g, r])
    return out


def pcx():
    head = struct.pack("<BBBBHHHH", 10, 5, 1, 8, 0, 0, W - 1, H - 1) + b"\0" * 53 + struct.pack("<BH", 1, W)
    head += b"\0" * (128 - len(head))
    return head + bytes([0xC1, 7] + [i for i in range(1, W * H)]) + b"\x0c" + bytes(range(256)) * 3


write("image", "bmp8.bmp", bmp(8))
write("image", "bmp24.bmp", bmp(24))
write("image", "rgb.png", png(2))
write("image", "palette.png", png(3))
write("image", "plain.tga", tga(False))
write("image", "rle.tga", tga(True))
write("image", "256.pcx", pcx())


def convert(options, name):
    """A small GIF or JPEG made by ImageMagick's convert from a gradient."""
    return subprocess.run(["convert", "-size", "16x8", "gradient:red-blue"] + options + [name + ":-"],
                          check=True, stdout=subprocess.PIPE).stdout


write("image", "plain.gif", convert(["-colors", "16"], "gif"))
write("image", "interlaced.gif", convert(["-colors", "16", "-interlace", "GIF"], "gif"))
write("image", "animated.gif", subprocess.run(
    ["convert", "-delay", "5", "-size", "8x8", "xc:red", "xc:blue", "-transparent", "blue", "gif:-"],
    check=True, stdout=subprocess.PIPE).stdout)
write("image", "baseline.jpg", convert(["-quality", "80"], "jpeg"))
write("image", "progressive.jpg", convert(["-quality", "80", "-interlace", "JPEG"], "jpeg"))
write("image", "grey.jpg", convert(["-colorspace", "Gray"], "jpeg"))
