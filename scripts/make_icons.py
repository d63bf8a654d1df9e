#!/usr/bin/env python3
"""Draws the program icon, a drive-blue square with a white waveform (the
picture that the backends draw when an executable carries no icon), and
writes dist/icons/servo-tool.ico (16, 32, 48, 256 pixels) and
dist/icons/servo-tool.png (256 pixels). Run it again after changing the picture.
"""
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BLUE = (0, 64, 128)
WHITE = (255, 255, 255)
# The waveform on a 32-pixel grid, drawn 3 pixels wide.
WAVE = [(4, 22), (10, 8), (16, 22), (22, 8), (28, 22)]


def draw(size):
    """Rows of RGB tuples; the line is anti-aliased by 4x4 supersampling."""
    s = size / 32.0
    half = 1.5 * s
    pts = [(x * s, y * s) for x, y in WAVE]

    def coverage(px, py):
        best = 1e9
        for (ax, ay), (bx, by) in zip(pts, pts[1:]):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
            best = min(best, ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5)
        return best <= half

    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            hits = sum(coverage(x + (i + 0.5) / 4, y + (j + 0.5) / 4)
                       for i in range(4) for j in range(4))
            a = hits / 16.0
            row.append(tuple(round(b * (1 - a) + w * a) for b, w in zip(BLUE, WHITE)))
        rows.append(row)
    return rows


def png(rows):
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(rows):
    """An icon image as a 32-bit BMP without file header, bottom-up, with its AND mask."""
    h, w = len(rows), len(rows[0])
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, 255)) for row in reversed(rows) for r, g, b in row)
    mask_stride = ((w + 31) // 32) * 4
    return header + pixels + bytes(mask_stride * h)


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, blob in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def main():
    folder = os.path.join(ROOT, "dist", "icons")
    os.makedirs(folder, exist_ok=True)
    big = draw(256)
    images = [(n, dib(draw(n))) for n in (16, 32, 48)] + [(256, png(big))]
    with open(os.path.join(folder, "servo-tool.ico"), "wb") as f:
        f.write(ico(images))
    with open(os.path.join(folder, "servo-tool.png"), "wb") as f:
        f.write(png(big))


if __name__ == "__main__":
    main()
