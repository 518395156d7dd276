#!/usr/bin/env python3
"""Draws the window's picture (80 x 64) and the application icon (32 x 32, 16 colours) as XPM.

The images are plain: a blue badge with a gold key. Run from this folder to write the two .xpm
files; they are kept in the repository, so building never needs this script.
"""
import math

BLUE = (0x1F, 0x3A, 0x68)
GOLD = (0xE8, 0xB9, 0x3C)
PANEL = (0xFF, 0xFF, 0xFF)


def key_shapes(scale, ox, oy):
    """Coverage test of the key: a ring, a shaft and two teeth, in a 32 x 32 design grid."""

    def inside(x, y):
        x = (x - ox) / scale
        y = (y - oy) / scale
        cx, cy = 10.0, 16.0
        r = math.hypot(x - cx, y - cy)
        if 3.0 <= r <= 7.0:
            return True
        if 16.5 <= x <= 27.5 and 14.5 <= y <= 17.5:
            return True
        if 21.0 <= x <= 23.0 and 17.5 <= y <= 21.5:
            return True
        if 25.5 <= x <= 27.5 and 17.5 <= y <= 22.5:
            return True
        return False

    return inside


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return math.hypot(x - cx, y - cy) <= radius

    return inside


def render(width, height, badge, key, samples=4):
    """Per pixel: (badge coverage, key coverage) from samples x samples points."""
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            b = k = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples
                    y = py + (sy + 0.5) / samples
                    if badge(x, y):
                        b += 1
                        if key(x, y):
                            k += 1
            n = samples * samples
            row.append((b / n, k / n))
        pixels.append(row)
    return pixels


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def write_xpm(path, name, width, height, rows, palette):
    codes = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-/:;<=>?@[]^_|~"
    keys = sorted(palette)
    code_of = {colour: codes[i] for i, colour in enumerate(keys)}
    with open(path, "w", encoding="ascii") as out:
        out.write("/* XPM */\n")
        out.write(f"static const char* const {name}[] = {{\n")
        out.write(f'"{width} {height} {len(keys)} 1",\n')
        for colour in keys:
            colour_text = "None" if colour is None or colour == () else "#%02X%02X%02X" % colour
            out.write(f'"{code_of[colour]} c {colour_text}",\n')
        for i, row in enumerate(rows):
            end = ",\n" if i + 1 < len(rows) else "};\n"
            out.write('"' + "".join(code_of[c] for c in row) + '"' + end)


def picture():
    width, height = 80, 64
    badge = rounded_rect(8, 4, 72, 60, 10)
    key = key_shapes(2.0, 8, 0)
    rows = []
    palette = set()
    for row in render(width, height, badge, key):
        out = []
        for b, k in row:
            base = mix(PANEL, BLUE, b)
            colour = mix(base, GOLD, k / b) if b > 0 else PANEL
            out.append(colour)
            palette.add(colour)
        rows.append(out)
    assert len(palette) <= 256
    write_xpm("ZarnPicture.xpm", "ZarnPicture", width, height, rows, palette)


def icon():
    width = height = 32
    badge = rounded_rect(0, 0, 32, 32, 6)
    key = key_shapes(1.0, 0, 0)
    steps = 14  # blends from blue to gold; with "None" and white that makes 16 colours
    rows = []
    palette = set()
    for row in render(width, height, badge, key):
        out = []
        for b, k in row:
            if b < 0.5:
                colour = ()
            else:
                t = round((k / b) * (steps - 1)) / (steps - 1)
                colour = mix(BLUE, GOLD, t)
            out.append(colour)
            palette.add(colour)
        rows.append(out)
    assert len(palette) <= 16
    write_xpm("ZarnIcon.xpm", "ZarnIcon", width, height, rows, palette)


if __name__ == "__main__":
    picture()
    icon()
