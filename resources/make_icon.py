#!/usr/bin/env python3
# Draws the program icon (32x32, 16 colours: an archive box with an arrow
# at its open lid) and writes it as sfx.ico. Run by hand; the .ico is
# kept in the tree so the stub build needs no script.
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, GREY, YELLOW, GREEN, DARK_GREEN, WHITE = 0, 3, 8, 11, 10, 2, 15
TRANSPARENT = None

pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

def rect(x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            pixels[y][x] = colour

# The box: a lid, a body and a band across it.
rect(3, 12, 28, 29, BLACK)
rect(4, 13, 27, 28, DARK_YELLOW)
rect(4, 13, 27, 16, YELLOW)
rect(3, 17, 28, 17, BLACK)
rect(13, 20, 18, 23, WHITE)
rect(13, 20, 18, 20, BLACK)
# The arrow at the open lid.
rect(13, 2, 18, 11, BLACK)
rect(14, 3, 17, 11, GREEN)
for i in range(6):
    rect(10 + i, 8 + i, 21 - i, 8 + i, BLACK)
    if i < 5:
        rect(11 + i, 8 + i, 20 - i, 8 + i, GREEN)
rect(14, 8, 17, 13, GREEN)
rect(15, 3, 15, 12, DARK_GREEN)

def icon_image():
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = pixels[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            colour.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += struct.pack('>I', bits)
    return header + palette + bytes(colour) + bytes(mask)

image = icon_image()
directory = struct.pack('<HHH', 0, 1, 1)
entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
out = sys.argv[1] if len(sys.argv) > 1 else 'sfx.ico'
with open(out, 'wb') as f:
    f.write(directory + entry + image)
