#!/usr/bin/env python3
"""Draws the link labels' pointing-hand cursor (32 x 32, one bit, hot spot at the
index fingertip, 5,0) and writes it as two XBM files: the image and its mask."""
import sys

W = H = 32
fill = set()

def rect(x0, y0, x1, y1):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            fill.add((x, y))

def finger(x0, y_top, x1, y_bottom):
    for y in range(y_top, y_bottom + 1):
        for x in range(x0, x1 + 1):
            if y == y_top and x in (x0, x1):
                continue  # rounded tip
            fill.add((x, y))

finger(4, 0, 8, 17)       # index, pointing up
finger(8, 6, 12, 17)      # middle
finger(12, 8, 16, 17)     # ring
finger(16, 10, 20, 18)    # little
for y in range(12, 21):   # thumb, leaning out to the left
    x0 = max(0, 1 + (y - 12) // 3)
    rect(x0, y, 4, y)
rect(3, 16, 20, 26)       # palm
for p in [(3, 26), (20, 26), (3, 25)]:
    fill.discard(p)
rect(6, 27, 18, 31)       # cuff

black = set()
for (x, y) in fill:
    if any((x + dx, y + dy) not in fill for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
        black.add((x, y))
# Creases between the fingers and the cuff's seam.
for x, y0, y1 in ((8, 7, 14), (12, 9, 14), (16, 11, 15)):
    for y in range(y0, y1 + 1):
        black.add((x, y))
for x in range(6, 19):
    black.add((x, 27))

assert (5, 0) in black, "the hot spot must be on the fingertip"

def xbm(name, pixels):
    out = [f"#define {name}_width {W}", f"#define {name}_height {H}",
           f"#define {name}_x_hot 5", f"#define {name}_y_hot 0",
           f"static unsigned char {name}_bits[] = {{"]
    data = []
    for y in range(H):
        for bx in range(0, W, 8):
            byte = 0
            for bit in range(8):
                if (bx + bit, y) in pixels:
                    byte |= 1 << bit
            data.append(f"0x{byte:02x}")
    for i in range(0, len(data), 12):
        out.append("   " + ", ".join(data[i:i + 12]) + ("," if i + 12 < len(data) else "};"))
    return "\n".join(out) + "\n"

outdir = sys.argv[1] if len(sys.argv) > 1 else "."
open(f"{outdir}/hand.xbm", "w").write(xbm("hand", black))
open(f"{outdir}/hand_mask.xbm", "w").write(xbm("hand_mask", fill))
for y in range(H):
    print("".join("X" if (x, y) in black else "." if (x, y) in fill else " " for x in range(W)))
