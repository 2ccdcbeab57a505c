#!/usr/bin/env python3
"""Pixel queries on screenshots for the end-to-end runs (no imaging packages needed).

Images are read through ImageMagick's `convert ... ppm:-` and parsed as binary PPM.

  pixels.py dark   IMAGE X Y W H [LUMA]       pixels in the box darker than LUMA (default 128)
  pixels.py differ IMAGE X Y W H R,G,B [TOL]  pixels in the box whose colour is off by more than TOL
  pixels.py find   IMAGE REF X0 Y0 DX DY [STEP]
        where REF (any image) sits in IMAGE with its top-left corner within (X0..X0+DX, Y0..Y0+DY):
        prints "X Y MEAN_ERROR" for the best position, MEAN_ERROR the mean absolute channel
        difference over a grid of REF pixels (every STEP-th, default 8)

Boxes are clipped to the image. Each command prints its result on one line.
"""
import os
import subprocess
import sys

# ImageMagick's own convert, ahead of any wrapper of the same name earlier on PATH.
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


class Image:
    def __init__(self, path):
        data = subprocess.run([CONVERT, path, "-depth", "8", "ppm:-"], check=True,
                              stdout=subprocess.PIPE).stdout
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError(f"{path}: not an 8-bit PPM from convert")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1:pos + 1 + 3 * self.width * self.height]

    def rgb(self, x, y):
        i = 3 * (y * self.width + x)
        return self.pixels[i], self.pixels[i + 1], self.pixels[i + 2]

    def box(self, x, y, w, h):
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        for yy in range(y0, y1):
            for xx in range(x0, x1):
                yield self.rgb(xx, yy)


def luma(p):
    return (299 * p[0] + 587 * p[1] + 114 * p[2]) // 1000


def cmd_dark(img, x, y, w, h, limit=128):
    return sum(1 for p in img.box(x, y, w, h) if luma(p) < limit)


def cmd_differ(img, x, y, w, h, colour, tol=0):
    c = [int(v) for v in colour.split(",")]
    x0, x1 = max(0, x), min(img.width, x + w)
    same_row = bytes(c) * (x1 - x0)
    count = 0
    for yy in range(max(0, y), min(img.height, y + h)):
        start = 3 * (yy * img.width + x0)
        row = img.pixels[start:start + len(same_row)]
        if row == same_row:  # the common case, compared in one go
            continue
        count += sum(1 for i in range(0, len(row), 3)
                     if max(abs(row[i + k] - c[k]) for k in range(3)) > tol)
    return count


def cmd_find(img, ref, x0, y0, dx, dy, step=8):
    samples = [(x, y, ref.rgb(x, y)) for y in range(0, ref.height, step)
               for x in range(0, ref.width, step)]
    best = None
    for oy in range(y0, y0 + dy + 1):
        for ox in range(x0, x0 + dx + 1):
            if ox < 0 or oy < 0 or ox + ref.width > img.width or oy + ref.height > img.height:
                continue
            err = 0
            for x, y, p in samples:
                q = img.rgb(ox + x, oy + y)
                err += abs(p[0] - q[0]) + abs(p[1] - q[1]) + abs(p[2] - q[2])
            err /= 3 * len(samples)
            if best is None or err < best[2]:
                best = (ox, oy, err)
    if best is None:
        raise ValueError("reference does not fit at any of the positions")
    return f"{best[0]} {best[1]} {best[2]:.2f}"


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, img = argv[1], Image(argv[2])
    args = argv[3:]
    if cmd == "dark":
        nums = [int(a) for a in args]
        print(cmd_dark(img, *nums))
    elif cmd == "differ":
        nums = [int(a) for a in args[:4]]
        tol = int(args[5]) if len(args) > 5 else 0
        print(cmd_differ(img, *nums, args[4], tol))
    elif cmd == "find":
        ref = Image(args[0])
        nums = [int(a) for a in args[1:]]
        print(cmd_find(img, ref, *nums))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
