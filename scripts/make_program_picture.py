#!/usr/bin/env python3
"""Draws the program picture (200 x 85, at most 256 colours): the splash shows it, and the
About dialog draws it over its credits with its bottom-left colour keyed out.

A dark card with rounded corners carries a red "Aa" badge, the name and a subtitle; round
the card is the key colour, the light grey of a dialog's face. The key colour occurs only
there: every pixel of the card that would come out as the key after the colours are
reduced is nudged off it. The name keeps a margin from the card's edges.

    scripts/make_program_picture.py [OUT.png]      (needs ImageMagick's convert)
"""
import os
import subprocess
import sys
import tempfile

W, H = 200, 85
KEY = (239, 239, 239)
CARD = "roundrectangle 2,2 197,82 12,12"
MARGIN = 8  # the least distance of the name from the card's edges


def run(*args):
    subprocess.run(["convert", *args[:-1], "-depth", "8", args[-1]], check=True)


def read_pnm(path):
    """Pixels of a binary PPM (P6) or PGM (P5) written by ImageMagick, 8 bits per sample."""
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    kind, w, h = fields[0], int(fields[1]), int(fields[2])
    assert (w, h) == (W, H) and int(fields[3]) == 255, (w, h, fields[3])
    n = 3 if kind == b"P6" else 1
    raw = data[pos:pos + w * h * n]
    return [tuple(raw[i:i + n]) for i in range(0, len(raw), n)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "app/glyvex.png"
    key = "rgb(%d,%d,%d)" % KEY
    with tempfile.TemporaryDirectory() as tmp:
        art, mask, name, fixed = (os.path.join(tmp, n) for n in ("art.ppm", "mask.pgm", "name.pgm", "fixed.ppm"))
        # The card's shape alone, without smoothing: inside is the card, outside the key.
        run("-size", f"{W}x{H}", "xc:black", "+antialias", "-fill", "white", "-draw", CARD, mask)
        # The name alone, to check its margin.
        run("-size", f"{W}x{H}", "xc:black", "-fill", "white", "-font", "Bookman-Demi", "-pointsize", "30",
            "-annotate", "+70+47", "Glyvex", name)
        # The picture, reduced to 250 colours (a few left for the nudged ones and the key).
        run("-size", f"{W}x{H}", f"xc:{key}",
            "(", "-size", f"{W}x{H}", "gradient:#1d3557-#457b9d", "(", mask, ")",
            "-alpha", "off", "-compose", "CopyOpacity", "-composite", ")",
            "-compose", "Over", "-composite",
            "-stroke", "#a8dadc", "-strokewidth", "1", "-draw", "line 70,56 186,56",
            "-stroke", "none", "-fill", "#e63946", "-draw", "roundrectangle 12,16 60,64 7,7",
            "-fill", "#f1faee", "-font", "Helvetica-Bold", "-pointsize", "24", "-annotate", "+20+49", "Aa",
            "-font", "Bookman-Demi", "-pointsize", "30", "-annotate", "+70+47", "Glyvex",
            "-fill", "#a8dadc", "-font", "Helvetica", "-pointsize", "10", "-annotate", "+71+71",
            "Schriften ansehen", "+dither", "-colors", "250", art)
        pixels, inside, lettering = read_pnm(art), read_pnm(mask), read_pnm(name)
        result = []
        for p, m in zip(pixels, inside):
            if not m[0]:
                result.append(KEY)
            elif p == KEY:
                result.append((KEY[0] - 1, KEY[1] - 1, KEY[2] - 2))
            else:
                result.append(p)
        # Checks: the key only outside the card, the bottom-left pixel is the key, the name clear.
        assert result[(H - 1) * W] == KEY
        assert all((p == KEY) == (not m[0]) for p, m in zip(result, inside))
        xs = [i % W for i, v in enumerate(lettering) if v[0] > 32]
        ys = [i // W for i, v in enumerate(lettering) if v[0] > 32]
        assert min(ys) - 2 >= MARGIN and 82 - max(ys) >= MARGIN and 197 - max(xs) >= MARGIN, (xs, ys)
        assert len(set(result)) <= 256
        with open(fixed, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (W, H) + bytes(c for p in result for c in p))
        run(fixed, "-define", "png:exclude-chunks=date,time", "-strip", "PNG8:" + out)
    print(f"{out}: {W} x {H}, {len(set(result))} colours, key {KEY} on {result.count(KEY)} pixels")


if __name__ == "__main__":
    main()
