#!/usr/bin/env python3
"""Writes res/typrova.ico, the program icon: a key cap with rhythm bars on its face, in a 32x32
and a 16x16 image of 16 colours each (4-bit bitmaps with an AND mask). Standard library only.
"""

import struct
from pathlib import Path

# The classic 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, BLUE, WHITE, TEAL = 0, 4, 7, 8, 12, 15, 6
TRANSPARENT = None


class Canvas:
    """A square grid of palette indices; None marks a transparent pixel."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[TRANSPARENT] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle from (x0, y0) to (x1, y1), both corners included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def corners(self, x0, y0, x1, y1, n, colour):
        """Sets a diagonal triangle of n pixels' side in each corner of the box to colour."""
        for i in range(n):
            for j in range(n - i):
                for x, y in ((x0 + j, y0 + i), (x1 - j, y0 + i),
                             (x0 + j, y1 - i), (x1 - j, y1 - i)):
                    self.pixels[y][x] = colour

    def key_cap(self, x0, y0, x1, y1, face, skirt_top, corner):
        """A rounded key cap: black outline, silver left/top bevel, grey right bevel and
        front skirt, white face. face = (x0, y0, x1, y1); corner = pixels cut per corner."""
        self.fill(x0, y0, x1, y1, BLACK)
        self.corners(x0, y0, x1, y1, corner, TRANSPARENT)     # the outline's rounded corners
        inner = (x0 + 1, y0 + 1, x1 - 1, y1 - 1)
        self.fill(*inner, SILVER)
        self.fill(face[2] + 1, inner[1], inner[2], inner[3], GREY)      # right bevel
        self.fill(inner[0], skirt_top, inner[2], inner[3], GREY)        # front skirt
        self.fill(*face, WHITE)
        self.corners(*inner, corner - 1, BLACK)                 # the outline's inner corners

    def bars(self, x, baseline, heights, width, gap):
        """Bottom-aligned rhythm bars: lit blue on the left, navy on the right column."""
        for h in heights:
            self.fill(x, baseline - h + 1, x + width - 1, baseline, BLUE)
            if width > 1:
                self.fill(x + width - 1, baseline - h + 1, x + width - 1, baseline, NAVY)
            x += width + gap


def draw_32():
    c = Canvas(32)
    c.key_cap(1, 2, 30, 29, face=(5, 4, 25, 22), skirt_top=23, corner=3)
    c.fill(6, 21, 24, 21, TEAL)                                  # time axis
    c.bars(7, 20, heights=[9, 13, 6, 15, 10, 7], width=2, gap=1)
    return c


def draw_16():
    c = Canvas(16)
    c.key_cap(0, 1, 15, 14, face=(2, 2, 12, 10), skirt_top=11, corner=2)
    c.fill(3, 10, 11, 10, TEAL)
    c.bars(3, 9, heights=[4, 6, 3, 7, 5], width=1, gap=1)
    return c


def encode_image(canvas):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask), palette, 4-bit colour
    rows and 1-bit AND-mask rows, both bottom-up and padded to 32 bits."""
    size = canvas.size
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray(xor_stride * size)
    mask = bytearray(and_stride * size)
    for y, row in enumerate(reversed(canvas.pixels)):
        for x, colour in enumerate(row):
            if colour is TRANSPARENT:
                mask[y * and_stride + x // 8] |= 0x80 >> (x % 8)    # screen pixel shows through
                colour = 0                                          # and is XORed with black
            xor[y * xor_stride + x // 2] |= colour << (4 if x % 2 == 0 else 0)
    bits = bytes(xor + mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(bits), 0, 0,
                         len(PALETTE), 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bits


def encode_icon(canvases):
    """An icon file: ICONDIR, one ICONDIRENTRY per image, then the images."""
    images = [encode_image(c) for c in canvases]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.size, canvas.size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    path = Path(__file__).resolve().parent.parent / "res" / "typrova.ico"
    path.write_bytes(encode_icon([draw_32(), draw_16()]))
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
