"""Rasterises the plug-in icon (the same shapes as the SVG) to a 128x128 PNG
with nothing but the standard library: python3 make_icon_png.py"""
import struct
import zlib

SIZE = 128
BG = (0x15, 0x16, 0x1A, 255)
RECTS = [  # x, y, w, h, colour, in painting order
    (8, 22, 16, 84, (0x80, 0x00, 0x80)),
    (24, 22, 16, 84, (0x00, 0x00, 0xFF)),
    (40, 22, 16, 84, (0x6E, 0x6E, 0x6E)),
    (56, 22, 16, 84, (0x00, 0xFF, 0x00)),
    (72, 22, 16, 84, (0xFF, 0x66, 0x99)),
    (88, 22, 16, 84, (0xD2, 0xD2, 0xD2)),
    (104, 22, 16, 84, (0xFF, 0x00, 0x00)),
    (8, 74, 56, 14, (0xC2, 0x96, 0x82)),
    (64, 74, 56, 14, (0x73, 0x52, 0x44)),
    (8, 8, 112, 14, (0, 0, 0)),
    (8, 106, 112, 14, (0, 0, 0)),
    (44, 22, 2, 84, (255, 255, 255)),
    (82, 22, 2, 84, (255, 255, 255)),
    (8, 49, 112, 2, (255, 255, 255)),
    (63, 54, 2, 20, (255, 255, 255)),
    (54, 63, 20, 2, (255, 255, 255)),
]


def inside_rounded(x, y, radius=14):
    cx = min(max(x, radius), SIZE - 1 - radius)
    cy = min(max(y, radius), SIZE - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def pixels():
    rows = []
    for y in range(SIZE):
        row = bytearray([0])
        for x in range(SIZE):
            colour = BG if inside_rounded(x, y) else (0, 0, 0, 0)
            for rx, ry, rw, rh, c in RECTS:
                if rx <= x < rx + rw and ry <= y < ry + rh:
                    colour = c + (255,)
            row += bytes(colour)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
    png += chunk(b"IDAT", zlib.compress(pixels(), 9)) + chunk(b"IEND", b"")
    with open("com.Qvo.Vantorel.R108.png", "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
