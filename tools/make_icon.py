#!/usr/bin/env python3
"""Draws Ventrim's application icon and writes generator/ventrim.ico.

The mark: a round teal stamp with a white ring and a white V. Six images, 16
to 256 pixels square, 32 bits per pixel; the 256 one stored as PNG, the
others as bitmaps, as Windows expects. Edges are smoothed by sampling each
pixel on a grid. Only the standard library is needed:

    python3 tools/make_icon.py
"""
import math
import pathlib
import struct
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
TEAL = (14, 116, 144)
WHITE = (255, 255, 255)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def colour_at(x, y):
    """The mark at a point of the unit square (y down): an RGB or None."""
    r = math.hypot(x - 0.5, y - 0.5)
    if r > 0.47:
        return None
    if abs(r - 0.385) < 0.025:
        return WHITE
    v = min(segment_distance(x, y, 0.33, 0.34, 0.5, 0.67), segment_distance(x, y, 0.5, 0.67, 0.67, 0.34))
    return WHITE if v < 0.055 else TEAL


def render(size):
    """Rows of (r, g, b, a), top row first."""
    grid = 4 if size <= 64 else 3
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            r = g = b = a = 0
            for sj in range(grid):
                for si in range(grid):
                    c = colour_at((i + (si + 0.5) / grid) / size, (j + (sj + 0.5) / grid) / size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            # Colour averaged over the covered samples, alpha by coverage.
            row.append((r // a, g // a, b // a, 255 * a // (grid * grid)) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(rows):
    size = len(rows)
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + size * mask_stride, 0, 0, 0, 0)
    pixels = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in reversed(rows))
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for i, p in enumerate(row):
            if p[3] == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bytes(bits)
    return header + pixels + mask


def main():
    images = [png(render(s)) if s == 256 else bitmap(render(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    path = pathlib.Path(__file__).resolve().parent.parent / "generator" / "ventrim.ico"
    path.write_bytes(out + b"".join(images))
    print(f"{path}: {len(SIZES)} images, {path.stat().st_size} bytes")


if __name__ == "__main__":
    main()
