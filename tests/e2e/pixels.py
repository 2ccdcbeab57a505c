#!/usr/bin/env python3
"""Pixel queries on screenshots for the end-to-end runs (no imaging packages needed).

Screenshots are read through ImageMagick's `convert ... ppm:-`, reference tiles through the
reference decoder named by $TERRAVA_REFERENCE_DECODE (built with the native tests: libjpeg's
coefficients through the viewer's own dequantisation, transform and colour arithmetic, written
independently of the viewer), both as binary PPM.

  pixels.py dark   IMAGE X Y W H [LUMA]       pixels in the box darker than LUMA (default 128)
  pixels.py differ IMAGE X Y W H R,G,B [TOL]  pixels in the box whose colour is off by more than TOL
  pixels.py colour IMAGE X Y                  the colour of one pixel, as R,G,B
  pixels.py tiles  IMAGE CX CY CW CH VX VY TILE_DIR COLUMNS ROWS TILE_SIZE BOUND
        the client area (CX, CY, CW x CH on the screen) shows the world from (VX, VY): every
        client pixel that lies in the world is compared with the tile file's own decoding
        (TILE_DIR/RRR/CCC.jpg) at exactly that place. Prints
            COMPARED OFF WORST SHIFTED_X SHIFTED_Y SWAPPED
        COMPARED pixels, OFF of them with a channel off by more than BOUND, WORST the largest
        channel difference; the last three count the pixels that would be off by more than
        BOUND had the picture been drawn one pixel right, one pixel down, or with red and blue
        swapped (whether the tiles on screen have the detail to show such faults).
  pixels.py zoomed IMAGE CX CY CW CH SX SY ZOOM TILE_DIR COLUMNS ROWS TILE_SIZE BOUND
        the client area shows the map zoomed by 2^ZOOM from zoomed-map point (SX, SY): zoomed
        in (ZOOM > 0), every client pixel inside the map is its map pixel magnified, within
        BOUND; zoomed out, each channel of a client pixel lies within BOUND of the range of the
        2^-ZOOM x 2^-ZOOM map pixels it stands for (whichever of them, or whatever mean of them,
        it shows). Prints COMPARED OFF.
  pixels.py scaled IMAGE CX CY CW CH SX SY REDUCTION TILE_DIR COLUMNS ROWS TILE_SIZE
        the client area shows the map at 1:2^REDUCTION from zoomed-map point (SX, SY), each
        tile decoded at 1/2^REDUCTION by $TERRAVA_SCALED_DECODE (terrava-decode --scale) and
        placed at its cell, every pixel exact. Prints COMPARED OFF WORST.

A box must lie wholly inside the image: a check of a box that is not on the screen would
measure nothing. Each command prints its result on one line, and exits non-zero on any error.
"""
import os
import subprocess
import sys

# ImageMagick's own convert, ahead of any wrapper of the same name earlier on PATH.
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def read_ppm(command, what):
    data = subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while end < len(data) and not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError(f"{what}: not an 8-bit colour PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + 3 * width * height]
    if len(pixels) != 3 * width * height:
        raise ValueError(f"{what}: {len(pixels)} bytes of pixels, expected {3 * width * height}")
    return width, height, pixels


class Image:
    def __init__(self, path):
        self.width, self.height, self.pixels = read_ppm([CONVERT, path, "-depth", "8", "ppm:-"], path)

    def check_box(self, x, y, w, h):
        if w <= 0 or h <= 0 or x < 0 or y < 0 or x + w > self.width or y + h > self.height:
            raise ValueError(f"box {w}x{h} at ({x}, {y}) is not inside the {self.width}x{self.height} image")

    def row(self, x, y, w):
        start = 3 * (y * self.width + x)
        return self.pixels[start:start + 3 * w]


def luma(r, g, b):
    return (299 * r + 587 * g + 114 * b) // 1000


def cmd_dark(img, x, y, w, h, limit=128):
    img.check_box(x, y, w, h)
    count = 0
    for yy in range(y, y + h):
        row = img.row(x, yy, w)
        count += sum(1 for i in range(0, len(row), 3) if luma(row[i], row[i + 1], row[i + 2]) < limit)
    return count


def pixels_off(a, b, bound):
    """Pixels of the equal-length RGB rows a and b with a channel off by more than bound."""
    if a == b:
        return 0
    return sum(1 for i in range(0, len(a), 3)
               if abs(a[i] - b[i]) > bound or abs(a[i + 1] - b[i + 1]) > bound
               or abs(a[i + 2] - b[i + 2]) > bound)


def cmd_differ(img, x, y, w, h, colour, tol=0):
    img.check_box(x, y, w, h)
    c = [int(v) for v in colour.split(",")]
    if len(c) != 3 or not all(0 <= v <= 255 for v in c):
        raise ValueError(f"colour '{colour}' is not R,G,B")
    same_row = bytes(c) * w
    return sum(pixels_off(img.row(x, yy, w), same_row, tol) for yy in range(y, y + h))


def cmd_colour(img, x, y):
    img.check_box(x, y, 1, 1)
    return ",".join(str(v) for v in img.row(x, y, 1))


def reference_decoder():
    tool = os.environ.get("TERRAVA_REFERENCE_DECODE", "")
    if not tool or not os.access(tool, os.X_OK):
        raise ValueError(f"no reference decoder at TERRAVA_REFERENCE_DECODE='{tool}' (build the native preset)")
    return tool


def decode_tile(path, size):
    width, height, pixels = read_ppm([reference_decoder(), path, "/dev/stdout"], path)
    if (width, height) != (size, size):
        raise ValueError(f"{path} is {width}x{height}, expected {size}x{size}")
    return pixels


def world_rows(tile_dir, columns, rows, size, vx, vy, w, h):
    """The world's pixels from (vx, vy), w x h of them (inside the world), one RGB row each."""
    tiles = {}

    def tile(c, r):
        if (c, r) not in tiles:
            tiles[c, r] = decode_tile(os.path.join(tile_dir, f"{r:03d}", f"{c:03d}.jpg"), size)
        return tiles[c, r]

    out = []
    for wy in range(vy, vy + h):
        r, ty = divmod(wy, size)
        parts = []
        wx = vx
        while wx < vx + w:
            c, tx = divmod(wx, size)
            n = min(size - tx, vx + w - wx)
            start = 3 * (ty * size + tx)
            parts.append(tile(c, r)[start:start + 3 * n])
            wx += n
        out.append(b"".join(parts))
    return out


def swap_red_blue(row):
    swapped = bytearray(row)
    swapped[0::3], swapped[2::3] = row[2::3], row[0::3]
    return bytes(swapped)


def cmd_tiles(img, cx, cy, cw, ch, vx, vy, tile_dir, columns, rows, size, bound):
    if vx < 0 or vy < 0 or size <= 0 or columns <= 0 or rows <= 0:
        raise ValueError("view, tile size and tile counts must be positive")
    # The part of the client area that shows the world; the rest is the window colour.
    w = min(cw, columns * size - vx)
    h = min(ch, rows * size - vy)
    img.check_box(cx, cy, w, h)
    expected = world_rows(tile_dir, columns, rows, size, vx, vy, w, h)
    off = worst = shifted_x = shifted_y = swapped = 0
    previous = None
    for y in range(h):
        screen, want = img.row(cx, cy + y, w), expected[y]
        if screen != want:
            off += pixels_off(screen, want, bound)
            worst = max(worst, max(abs(a - b) for a, b in zip(screen, want)))
        # Drawn one pixel right, screen x would show world x - 1; one pixel down, screen row y
        # would show world row y - 1.
        shifted_x += pixels_off(screen[3:], want[:-3], bound)
        if previous is not None:
            shifted_y += pixels_off(screen, previous, bound)
        swapped += pixels_off(screen, swap_red_blue(want), bound)
        previous = want
    return f"{w * h} {off} {worst} {shifted_x} {shifted_y} {swapped}"


def cmd_zoomed(img, cx, cy, cw, ch, sx, sy, zoom, tile_dir, columns, rows, size, bound):
    if sx < 0 or sy < 0 or size <= 0 or columns <= 0 or rows <= 0:
        raise ValueError("view, tile size and tile counts must be positive")
    map_w, map_h = columns * size, rows * size
    if zoom >= 0:
        f = 1 << zoom
        w, h = min(cw, map_w * f - sx), min(ch, map_h * f - sy)
        mx0, my0, mx1, my1 = sx // f, sy // f, (sx + w - 1) // f, (sy + h - 1) // f
    else:
        k = 1 << -zoom
        w, h = min(cw, -(-map_w // k) - sx), min(ch, -(-map_h // k) - sy)
        mx0, my0 = sx * k, sy * k
        mx1, my1 = min((sx + w) * k, map_w) - 1, min((sy + h) * k, map_h) - 1
    img.check_box(cx, cy, w, h)
    world = world_rows(tile_dir, columns, rows, size, mx0, my0, mx1 - mx0 + 1, my1 - my0 + 1)
    off = 0
    for y in range(h):
        screen = img.row(cx, cy + y, w)
        for x in range(w):
            shown = screen[3 * x:3 * x + 3]
            if zoom >= 0:
                row, mx = world[(sy + y) // f - my0], (sx + x) // f - mx0
                off += any(abs(a - b) > bound for a, b in zip(shown, row[3 * mx:3 * mx + 3]))
                continue
            bx, by = (sx + x) * k - mx0, (sy + y) * k - my0
            block = [world[yy][3 * xx:3 * xx + 3] for yy in range(by, min(by + k, my1 - my0 + 1))
                     for xx in range(bx, min(bx + k, mx1 - mx0 + 1))]
            off += any(not min(p[c] for p in block) - bound <= shown[c] <= max(p[c] for p in block) + bound
                       for c in range(3))
    return f"{w * h} {off}"


def scaled_decoder():
    tool = os.environ.get("TERRAVA_SCALED_DECODE", "")
    if not tool or not os.access(tool, os.X_OK):
        raise ValueError(f"no scaled decoder at TERRAVA_SCALED_DECODE='{tool}' (build the native preset)")
    return tool


def cmd_scaled(img, cx, cy, cw, ch, sx, sy, reduction, tile_dir, columns, rows, size):
    n = 1 << reduction
    if sx < 0 or sy < 0 or size % n or columns <= 0 or rows <= 0:
        raise ValueError("view must be inside the map, the tile size a multiple of the reduction")
    cell = size // n
    w, h = min(cw, columns * cell - sx), min(ch, rows * cell - sy)
    img.check_box(cx, cy, w, h)
    tiles = {}

    def tile(c, r):
        if (c, r) not in tiles:
            path = os.path.join(tile_dir, f"{r:03d}", f"{c:03d}.jpg")
            tw, th, pixels = read_ppm([scaled_decoder(), "--scale", f"1/{n}", path, "/dev/stdout"], path)
            if (tw, th) != (cell, cell):
                raise ValueError(f"{path} at 1/{n} is {tw}x{th}, expected {cell}x{cell}")
            tiles[c, r] = pixels
        return tiles[c, r]

    off = worst = 0
    for y in range(h):
        screen = img.row(cx, cy + y, w)
        r, ty = divmod(sy + y, cell)
        for x in range(w):
            c, tx = divmod(sx + x, cell)
            start = 3 * (ty * cell + tx)
            want, shown = tile(c, r)[start:start + 3], screen[3 * x:3 * x + 3]
            if want != shown:
                off += 1
                worst = max(worst, max(abs(a - b) for a, b in zip(shown, want)))
    return f"{w * h} {off} {worst}"


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, img = argv[1], Image(argv[2])
    args = argv[3:]
    if cmd == "dark" and len(args) in (4, 5):
        print(cmd_dark(img, *[int(a) for a in args]))
    elif cmd == "differ" and len(args) in (5, 6):
        tol = int(args[5]) if len(args) > 5 else 0
        print(cmd_differ(img, *[int(a) for a in args[:4]], args[4], tol))
    elif cmd == "colour" and len(args) == 2:
        print(cmd_colour(img, *[int(a) for a in args]))
    elif cmd == "tiles" and len(args) == 11:
        nums = [int(a) for a in args[:6]]
        tile_dir = args[6]
        columns, rows, size, bound = (int(a) for a in args[7:])
        print(cmd_tiles(img, *nums, tile_dir, columns, rows, size, bound))
    elif cmd == "zoomed" and len(args) == 12:
        nums = [int(a) for a in args[:7]]
        columns, rows, size, bound = (int(a) for a in args[8:])
        print(cmd_zoomed(img, *nums, args[7], columns, rows, size, bound))
    elif cmd == "scaled" and len(args) == 11:
        nums = [int(a) for a in args[:7]]
        columns, rows, size = (int(a) for a in args[8:])
        print(cmd_scaled(img, *nums, args[7], columns, rows, size))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
