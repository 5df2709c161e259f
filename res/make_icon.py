#!/usr/bin/env python3
"""Draws the launcher's icon (a key on a shield) and writes launcher.ico.

The icon is committed; run this only to change it.
"""
import struct
import sys


def pixel(x, y, size):
    """RGBA of one pixel, y counted from the top."""
    cx = (size - 1) / 2.0
    # Shield: a rounded top half and a pointed bottom.
    top, bottom = size * 0.08, size * 0.94
    half_width = size * 0.40
    if y < top or y > bottom:
        return (0, 0, 0, 0)
    depth = (y - top) / (bottom - top)
    width = half_width if depth < 0.55 else half_width * (1 - (depth - 0.55) / 0.45)
    if abs(x - cx) > width:
        return (0, 0, 0, 0)
    edge = width - abs(x - cx) < size * 0.06 or y - top < size * 0.06
    shield = (30, 90, 170, 255) if not edge else (15, 50, 110, 255)
    # Key: a ring and a shaft with two teeth.
    ring_x, ring_y, ring_r = cx, size * 0.36, size * 0.13
    d = ((x - ring_x) ** 2 + (y - ring_y) ** 2) ** 0.5
    on_ring = ring_r * 0.45 <= d <= ring_r
    on_shaft = abs(x - cx) <= size * 0.045 and ring_y + ring_r <= y <= size * 0.80
    on_teeth = (cx < x <= cx + size * 0.14) and (
        size * 0.66 <= y <= size * 0.70 or size * 0.74 <= y <= size * 0.78)
    if on_ring or on_shaft or on_teeth:
        return (245, 200, 60, 255)
    return shield


def bitmap(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [bitmap(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "launcher.ico")
