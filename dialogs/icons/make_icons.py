#!/usr/bin/env python3
"""Draws the plug-in's two icons and writes them as .ico files.

Each icon holds six images: 16, 32 and 48 pixels square, each with a
16-colour and a 256-colour palette, stored as BMP-in-ICO (palette, colour
indices, then the 1-bit transparency mask). Only the standard library is used.

    python3 dialogs/icons/make_icons.py [OUTPUT_DIR]
"""

import math
import os
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4  # samples per pixel edge, for smooth outlines

# The Windows 16-colour palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    """The 16 standard colours, a 6x6x6 colour cube and 24 greys."""
    colours = list(VGA16)
    levels = (0, 51, 102, 153, 204, 255)
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(8 + 10 * i,) * 3 for i in range(24)]
    assert len(colours) == 256
    return colours


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def paint(colours, x, y, shaded, amount=0.35):
    """The rich colour lightened towards the top left and darkened towards the
    bottom right, or, for the 16-colour images, the flat one."""
    rich, flat = colours
    if not shaded:
        return flat
    k = 1.0 + amount * (0.5 - (x + y) / 2) * 2
    return tuple(max(0, min(255, int(c * k))) for c in rich)


# (rich, flat) pairs; the flat colours are all from the 16-colour palette.
HEAD = ((255, 160, 0), (255, 255, 0))
BODY = ((160, 82, 30), (128, 0, 0))
WING = ((128, 64, 0), (128, 0, 0))
WING_TIP = ((64, 32, 16), (0, 0, 0))
SKY = ((96, 168, 240), (0, 255, 255))
RIM = ((0, 0, 128), (0, 0, 128))
MAGNET = ((64, 64, 64), (0, 0, 0))
CONE = ((160, 160, 160), (128, 128, 128))
WAVES = (((255, 255, 0), (255, 255, 0)), ((255, 128, 0), (255, 0, 0)),
         ((255, 0, 0), (128, 0, 0)))


def kestrel(x, y, shaded):
    """A falcon seen from below, wings spread, against a round patch of sky."""
    wing_left = [(0.47, 0.40), (0.05, 0.26), (0.10, 0.37), (0.47, 0.56)]
    wing_right = [(1 - px, py) for px, py in wing_left]
    tail = [(0.44, 0.66), (0.56, 0.66), (0.62, 0.90), (0.38, 0.90)]
    if inside_ellipse(x, y, 0.5, 0.29, 0.075, 0.075):
        return paint(HEAD, x, y, shaded)
    if inside_ellipse(x, y, 0.5, 0.50, 0.085, 0.20):
        return paint(BODY, x, y, shaded)
    if inside_polygon(x, y, wing_left) or inside_polygon(x, y, wing_right):
        return paint(WING_TIP if abs(x - 0.5) > 0.33 else WING, x, y, shaded)
    if inside_polygon(x, y, tail):
        return paint(WING, x, y, shaded)
    r = math.hypot(x - 0.5, y - 0.5)
    if r <= 0.43:
        return paint(SKY, x, y, shaded)
    if r <= 0.49:
        return paint(RIM, x, y, shaded, 0.0)
    return None


def speaker(x, y, shaded):
    """A loudspeaker sending out three sound waves."""
    if 0.10 <= x <= 0.28 and 0.37 <= y <= 0.63:
        return paint(MAGNET, x, y, shaded)
    if inside_polygon(x, y, [(0.28, 0.37), (0.50, 0.14), (0.50, 0.86), (0.28, 0.63)]):
        return paint(CONE, x, y, shaded)
    angle = math.degrees(math.atan2(y - 0.5, x - 0.5))
    r = math.hypot(x - 0.5, y - 0.5)
    if abs(angle) <= 50:
        for radius, colours in zip((0.18, 0.31, 0.44), WAVES):
            if abs(r - radius) <= 0.04:
                return paint(colours, x, y, shaded)
    return None


def render(draw, size, shaded):
    """Pixels as colours, or None where the icon is transparent."""
    pixels = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(n):
                for sx in range(n):
                    c = draw((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, shaded)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < n * n:
                row.append(None)
            else:
                row.append(tuple(sum(c[i] for c in hits) // len(hits) for i in range(3)))
        pixels.append(row)
    return pixels


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))


def bmp_image(pixels, palette, bits):
    """One icon image: BITMAPINFOHEADER, palette, colour rows, mask rows (bottom up)."""
    size = len(pixels)
    colour_stride = (size * bits + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour_rows, mask_rows = [], []
    cache = {}
    for row in reversed(pixels):
        indices = []
        mask = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                indices.append(0)
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                if c not in cache:
                    cache[c] = nearest(c, palette)
                indices.append(cache[c])
        line = bytearray(colour_stride)
        if bits == 8:
            line[:size] = bytes(indices)
        else:
            for x, i in enumerate(indices):
                line[x // 2] |= i << (4 if x % 2 == 0 else 0)
        colour_rows.append(bytes(line))
        mask_rows.append(bytes(mask))
    data = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(data), 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + data


def ico_file(draw):
    images = []
    for size in SIZES:
        images.append((size, 4, bmp_image(render(draw, size, False), VGA16, 4)))
        images.append((size, 8, bmp_image(render(draw, size, True), palette256(), 8)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, blob in images:
        colours = 16 if bits == 4 else 0  # 0 stands for 256 or more
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, _, blob in images)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("kestrel.ico", kestrel), ("speaker.ico", speaker)):
        with open(os.path.join(directory, name), "wb") as f:
            f.write(ico_file(draw))


if __name__ == "__main__":
    main()
