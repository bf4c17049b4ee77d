#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
"""Draws Harkavel's own images (tool bar, result marks, flags, program icon) as PNG files
into resources/. Plain shapes, so that the program needs no desktop icon theme."""
import math, os, struct, zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources')

class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = colour
    def rect(self, x0, y0, x1, y1, colour):
        for y in range(int(y0), int(y1)):
            for x in range(int(x0), int(x1)):
                self.put(x, y, colour)
    def disc(self, cx, cy, r, colour, inner=0.0):
        for y in range(self.size):
            for x in range(self.size):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if inner <= d <= r:
                    self.put(x, y, colour)
    def line(self, x0, y0, x1, y1, width, colour):
        for y in range(self.size):
            for x in range(self.size):
                px, py = x + 0.5, y + 0.5
                dx, dy = x1 - x0, y1 - y0
                t = max(0, min(1, ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)))
                if math.hypot(px - (x0 + t * dx), py - (y0 + t * dy)) <= width / 2:
                    self.put(x, y, colour)
    def save(self, path):
        raw = b''.join(b'\0' + b''.join(struct.pack('BBBB', *p) for p in row) for row in self.px)
        def chunk(kind, data):
            return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
        png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', self.size, self.size, 8, 6, 0, 0, 0))
        png += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
        with open(path, 'wb') as f:
            f.write(png)

GREEN, RED, BLUE, WHITE = (40, 160, 60, 255), (200, 30, 30, 255), (40, 80, 170, 255), (255, 255, 255, 255)
DARK, YELLOW, SKIN, GREY = (50, 50, 60, 255), (240, 190, 30, 255), (230, 180, 140, 255), (120, 130, 140, 255)

def image(name, draw, size=32):
    c = Canvas(size); draw(c)
    os.makedirs(os.path.dirname(os.path.join(ROOT, name)), exist_ok=True)
    c.save(os.path.join(ROOT, name))

image('images/add.png', lambda c: (c.rect(13, 4, 19, 28, GREEN), c.rect(4, 13, 28, 19, GREEN)))
image('images/scan.png', lambda c: (c.disc(10, 18, 8, DARK), c.disc(22, 18, 8, DARK), c.disc(10, 18, 5, BLUE),
                                    c.disc(22, 18, 5, BLUE), c.rect(12, 10, 20, 16, DARK)))
image('images/update.png', lambda c: (c.disc(16, 16, 14, BLUE), c.line(4, 16, 28, 16, 1.5, WHITE),
                                      c.line(16, 2, 16, 30, 1.5, WHITE), c.rect(13, 8, 19, 20, GREEN),
                                      c.line(9, 18, 16, 27, 4, GREEN), c.line(23, 18, 16, 27, 4, GREEN)))
image('images/exit.png', lambda c: (c.rect(9, 12, 24, 28, SKIN), *[c.rect(9 + 4 * i, 4, 12 + 4 * i, 14, SKIN) for i in range(4)],
                                    c.line(24, 20, 29, 12, 4, SKIN)))
image('images/folder.png', lambda c: (c.rect(3, 7, 14, 11, YELLOW), c.rect(3, 10, 29, 27, YELLOW), c.rect(3, 13, 29, 14, DARK)))
image('images/stop.png', lambda c: (c.line(6, 6, 26, 26, 6, RED), c.line(26, 6, 6, 26, 6, RED)))
image('images/delete.png', lambda c: c.rect(4, 13, 28, 19, RED))
image('images/virus.png', lambda c: (c.disc(8, 8, 7.5, RED), c.disc(8, 8, 5.5, WHITE), c.rect(7, 4, 9, 9, RED), c.rect(7, 10, 9, 12, RED)), 16)
image('images/error.png', lambda c: (c.rect(1, 1, 15, 15, RED), c.rect(7, 3, 9, 10, WHITE), c.rect(7, 11, 9, 13, WHITE)), 16)
def us(c):
    for i in range(7):
        c.rect(0, 2 + i * 2, 16, 3 + i * 2, RED); c.rect(0, 3 + i * 2, 16, 4 + i * 2, WHITE)
    c.rect(0, 2, 7, 9, BLUE)
image('flags/us.png', us, 16)
image('flags/es.png', lambda c: (c.rect(0, 3, 16, 6, RED), c.rect(0, 6, 16, 10, YELLOW), c.rect(0, 10, 16, 13, RED)), 16)
def program_icon(size):
    k = size / 64  # drawn on a 64-pixel grid, scaled
    return lambda c: (c.disc(32 * k, 32 * k, 30 * k, BLUE), c.disc(32 * k, 32 * k, 24 * k, WHITE),
                      c.line(20 * k, 33 * k, 29 * k, 43 * k, 7 * k, GREEN),
                      c.line(29 * k, 43 * k, 45 * k, 22 * k, 7 * k, GREEN))
image('images/harkavel.png', program_icon(64), 64)
# The icon of the installed program, in the sizes desktops ask the hicolor theme for.
for size in (16, 32, 48, 64, 128, 256):
    image('icons/%d/harkavel.png' % size, program_icon(size), size)
