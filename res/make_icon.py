#!/usr/bin/env python3
# Draws the application icon (a folded map sheet with a pin) and writes it as a
# 32x32 and 16x16 32-bit .ico. Run once; the .ico is committed next to the resource script.
import struct, sys

def pixel(x, y, size):
    s = size / 32.0
    fx, fy = x / s, y / s
    # pin: red disc near the top right
    if (fx - 21) ** 2 + (fy - 10) ** 2 <= 16:
        return (40, 40, 210, 255)
    if 20.5 <= fx <= 21.5 and 13 <= fy <= 19:
        return (40, 40, 40, 255)
    if 3 <= fx < 29 and 5 <= fy < 28:
        panel = int((fx - 3) // (26 / 3))
        land = ((fx - 12) ** 2) / 40 + ((fy - 18) ** 2) / 18 <= 1
        base = (60, 150, 70) if land else (200, 140, 60)   # BGR: green land, blue sea
        shade = 0.85 if panel == 1 else 1.0
        if fx < 3.8 or fx > 28.2 or fy < 5.8 or fy > 27.2:
            return (50, 50, 50, 255)
        return (int(base[0] * shade), int(base[1] * shade), int(base[2] * shade), 255)
    return (0, 0, 0, 0)

def image(size):
    rows = []
    for y in range(size - 1, -1, -1):          # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    andmask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    return header + xor + andmask

sizes = [32, 16]
images = [image(s) for s in sizes]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for s, data in zip(sizes, images):
    out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
out += b"".join(images)
open(sys.argv[1] if len(sys.argv) > 1 else "terrava.ico", "wb").write(out)
