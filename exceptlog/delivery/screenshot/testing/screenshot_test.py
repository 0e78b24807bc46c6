#!/usr/bin/env python3
"""The report's screenshot taken under Wine by screenshot_probe.exe and
checked from outside: pngcheck accepts it, its PNG layout and zlib data
decode to exactly the pixels and colour table of the captured bitmap as
GetDIBits reads it back, the focused edit control has its two red frames,
and the odd sizes (1001 wide, 0 wide) come out as they should."""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ARGS = None
WORK = tempfile.mkdtemp(prefix="screenshot_")


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def capture(name, width, height, *flags):
    out = os.path.join(WORK, name)
    os.makedirs(out, exist_ok=True)
    done = subprocess.run([ARGS.run, ARGS.prefix, os.path.join(ARGS.bin, "screenshot_probe.exe"), wine_path(out),
                           str(width), str(height), *flags], capture_output=True, timeout=120)
    assert done.returncode == 0, (done.returncode, done.stderr.decode("latin-1")[-2000:])
    info = {}
    for line in open(os.path.join(out, "info.txt")).read().splitlines():
        key, _, value = line.partition("=")
        info[key] = value
    for key in ("width", "height", "row_length", "rows_read", "palette_display", "foreground"):
        info[key] = int(info[key])
    for key in ("area", "window", "edit", "cursor"):
        info[key] = tuple(int(n) for n in info[key].split(","))
    dib = open(os.path.join(out, "dib.bin"), "rb").read()
    return info, os.path.join(out, "shot.png"), dib


def read_png(path):
    """(IHDR fields, palette as RGB triples, IDAT sizes, rows of indexes from the top)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        crc, = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(kind + body) == crc, kind
        chunks.append((kind, body))
        at += 12 + length
    assert [k for k, _ in chunks][0] == b"IHDR" and chunks[1][0] == b"PLTE" and chunks[-1] == (b"IEND", b"")
    width, height, depth, color, compression, filtering, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, color, compression, filtering, interlace) == (8, 3, 0, 0, 0)
    palette = [tuple(chunks[1][1][i:i + 3]) for i in range(0, 768, 3)]
    idat = [body for kind, body in chunks if kind == b"IDAT"]
    raw = zlib.decompress(b"".join(idat))
    assert len(raw) == (width + 1) * height
    rows = []
    for y in range(height):
        row = raw[y * (width + 1):(y + 1) * (width + 1)]
        assert row[0] == 0, f"filter of row {y}"
        rows.append(row[1:])
    return (width, height), palette, [len(b) for b in idat], rows


def pngcheck(path):
    done = subprocess.run(["pngcheck", "-q", path], capture_output=True)
    return done.returncode, done.stdout.decode() + done.stderr.decode()


class ScreenshotTest(unittest.TestCase):
    def assert_png_is_the_bitmap(self, info, png, dib):
        code, output = pngcheck(png)
        self.assertEqual(code, 0, output)
        (width, height), palette, idat, rows = read_png(png)
        self.assertEqual((width, height), (info["width"], info["height"]))
        self.assertEqual(len(palette), 256)
        self.assertTrue(all(0 < size <= 262143 for size in idat), idat)
        table = [(dib[i * 4 + 2], dib[i * 4 + 1], dib[i * 4]) for i in range(256)]
        self.assertEqual(palette, table)
        pixels = dib[1024:]
        row_length = info["row_length"]
        self.assertEqual(len(pixels), row_length * height)
        for y in range(height):
            bottom_up = height - 1 - y
            expected = pixels[bottom_up * row_length:bottom_up * row_length + width]
            self.assertEqual(rows[y], expected, f"row {y}")
        return palette, rows

    def test_window_1001_wide_with_the_focus_framed(self):
        info, png, dib = capture("wide", 1001, 300)
        self.assertEqual(info["foreground"], 1)
        self.assertEqual(info["area"], info["window"])
        self.assertEqual((info["width"], info["height"], info["row_length"]), (1001, 300, 1004))
        self.assertTrue(info["file_name"].endswith("\\Screenshot.png"), info["file_name"])
        palette, rows = self.assert_png_is_the_bitmap(info, png, dib)

        def color(x, y):
            return palette[rows[y][x]]

        # Both frames around the edit control, in the capture's coordinates.
        left, top = info["area"][0], info["area"][1]
        l, t, r, b = (info["edit"][0] - left, info["edit"][1] - top, info["edit"][2] - left, info["edit"][3] - top)
        for inset in (0, 1):
            ring = ([(x, t + inset) for x in range(l + inset, r - inset)] +
                    [(x, b - 1 - inset) for x in range(l + inset, r - inset)] +
                    [(l + inset, y) for y in range(t + inset, b - inset)] +
                    [(r - 1 - inset, y) for y in range(t + inset, b - inset)])
            not_red = [(x, y, color(x, y)) for x, y in ring if color(x, y) != (255, 0, 0)]
            self.assertEqual(not_red, [], f"frame {inset}")
        # Inside the frames the control is itself, not red.
        self.assertNotEqual(color(l + 5, (t + b) // 2), (255, 0, 0))
        # What the window painted is there: the first upper band blue, the
        # last upper and the first lower band black (colours any 8-bit table
        # holds).
        self.assertEqual(color(20, 10), (0, 0, 255))
        self.assertEqual(color(980, 10), (0, 0, 0))
        self.assertEqual(color(500, 160), (0, 0, 0))
        # The cursor's black square sits at the cursor position (its hot
        # spot), on the yellow band; where it would be without the hot spot
        # is still the green band.
        cx, cy = info["cursor"][0] - left, info["cursor"][1] - top
        self.assertEqual(color(cx - 1, cy - 1), (255, 255, 0))
        self.assertEqual({color(cx + dx, cy + dy) for dx in range(3) for dy in range(3)}, {(0, 0, 0)})
        self.assertEqual(color(cx + 3, cy + 3), (255, 255, 0))
        self.assertEqual(color(cx + 11, cy + 21), (0, 128, 0))

    def test_zero_width_window_is_captured_one_pixel_wide(self):
        info, png, dib = capture("zero", 0, 120, "--no-edit")
        self.assertEqual(info["foreground"], 1)
        self.assertEqual(info["window"][2] - info["window"][0], 0)
        self.assertEqual((info["width"], info["height"], info["row_length"]), (1, 120, 4))
        self.assert_png_is_the_bitmap(info, png, dib)

    def test_desktop_is_the_monitor(self):
        info, png, dib = capture("desktop", 320, 200, "--desktop")
        area = info["area"]
        self.assertEqual((area[0], area[1]), (0, 0))
        self.assertEqual((info["width"], info["height"]), (area[2], area[3]))
        self.assertGreater(info["width"], 320)
        self.assertEqual(info["row_length"] % 4, 0)
        palette, rows = self.assert_png_is_the_bitmap(info, png, dib)
        # The probe's window is on the desktop where it was put.
        window = info["window"]
        self.assertEqual(palette[rows[window[1] + 10][window[0] + 20]], (0, 0, 255))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("prefix")
    parser.add_argument("--bin", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
