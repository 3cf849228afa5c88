#!/usr/bin/python3
"""Makes a synthetic font collection of N families for the scale benchmarks.

    bench/make_fontset.py N [--root DIR] [--synthetic-only]

prints the path of a fontconfig configuration; point FONTCONFIG_FILE at it and
Qt (and Glyvex) see exactly that collection. Nothing outside DIR (default
/work/fontsets, or $GLYVEX_FONTSETS) is read for fonts or written, so the
user's own fonts and font caches stay untouched.

The families are real, small, distinct font files derived from the DejaVu and
Liberation TrueType fonts and the URW base 35 OpenType (CFF) fonts installed
on this machine: cut down to Latin-1, each family renamed uniquely and given
slightly different vertical metrics, so line heights vary as they do in a real
collection. Every family has a regular face; one in four also has a bold face
and another one in four an italic face (about 1.5 files per family), which
keeps generating 16,500 families to a few minutes of one core.

Families are made in chunks of 100 under DIR/pool/, shared by every N, so a set
of 16,500 reuses what a set of 1,500 made. DIR/<N>/fonts.conf lists the first
N/100 chunks (N is rounded up to whole chunks) plus the system font
directories (so the program's own interface fonts resolve as usual), or only
the chunks with --synthetic-only (DIR/<N>-only/fonts.conf). Fontconfig's cache
for all of them lives in DIR/fccache, filled once by fc-cache.
"""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys

from fontTools import subset
from fontTools.ttLib import TTFont
from fontTools.ttLib.tables.DefaultTable import DefaultTable

CHUNK = 100

# Template groups: a style word for the family name and the regular, bold and
# italic source files. TrueType (glyf) and CFF outlines alternate.
TT = "/usr/share/fonts/truetype"
OT = "/usr/share/fonts/opentype/urw-base35"
GROUPS = [
    ("Sans", f"{TT}/dejavu/DejaVuSans.ttf", f"{TT}/dejavu/DejaVuSans-Bold.ttf",
     f"{TT}/dejavu/DejaVuSans-Oblique.ttf"),
    ("Grotesk", f"{OT}/NimbusSans-Regular.otf", f"{OT}/NimbusSans-Bold.otf", f"{OT}/NimbusSans-Italic.otf"),
    ("Serif", f"{TT}/dejavu/DejaVuSerif.ttf", f"{TT}/dejavu/DejaVuSerif-Bold.ttf",
     f"{TT}/dejavu/DejaVuSerif-Italic.ttf"),
    ("Antiqua", f"{OT}/NimbusRoman-Regular.otf", f"{OT}/NimbusRoman-Bold.otf", f"{OT}/NimbusRoman-Italic.otf"),
    ("Text", f"{TT}/liberation2/LiberationSans-Regular.ttf", f"{TT}/liberation2/LiberationSans-Bold.ttf",
     f"{TT}/liberation2/LiberationSans-Italic.ttf"),
    ("Book", f"{OT}/C059-Roman.otf", f"{OT}/C059-Bold.otf", f"{OT}/C059-Italic.otf"),
    ("Roman", f"{TT}/liberation2/LiberationSerif-Regular.ttf", f"{TT}/liberation2/LiberationSerif-Bold.ttf",
     f"{TT}/liberation2/LiberationSerif-Italic.ttf"),
    ("Display", f"{OT}/P052-Roman.otf", f"{OT}/P052-Bold.otf", f"{OT}/P052-Italic.otf"),
    ("Mono", f"{TT}/dejavu/DejaVuSansMono.ttf", f"{TT}/dejavu/DejaVuSansMono-Bold.ttf",
     f"{TT}/dejavu/DejaVuSansMono-Oblique.ttf"),
    ("Gothic", f"{OT}/URWGothic-Book.otf", f"{OT}/URWGothic-Demi.otf", f"{OT}/URWGothic-BookOblique.otf"),
    ("Code", f"{TT}/liberation2/LiberationMono-Regular.ttf", f"{TT}/liberation2/LiberationMono-Bold.ttf",
     f"{TT}/liberation2/LiberationMono-Italic.ttf"),
    ("Typewriter", f"{OT}/NimbusMonoPS-Regular.otf", f"{OT}/NimbusMonoPS-Bold.otf",
     f"{OT}/NimbusMonoPS-Italic.otf"),
]
STYLES = ["Regular", "Bold", "Italic"]

# Fixed-length placeholders put into the templates' CFF tables, so each family's
# PostScript names can be patched in without recompiling CFF (which is slow).
PS_PLACEHOLDER = b"GlyvexSynthPostScriptName000000"  # 31 bytes
FAMILY_PLACEHOLDER = b"Glyvex Synth Family Name 000000"  # 31 bytes
FULL_PLACEHOLDER = b"Glyvex Synth Full Face Name 000000000"  # 37 bytes

LATIN = list(range(0x20, 0x7F)) + list(range(0xA0, 0x100))

CONSONANTS = "bcdfghjklmnprstvwz"
VOWELS = "aeiou"


def family_word(i):
    """A pronounceable word that stands for i alone (bijective), so names sort in a mixed order."""
    syllables = []
    n = i
    for _ in range(3):
        n, r = divmod(n, len(CONSONANTS) * len(VOWELS))
        syllables.append(CONSONANTS[r // len(VOWELS)] + VOWELS[r % len(VOWELS)])
    word = "".join(syllables) + (str(n) if n else "")
    return word.capitalize()


def family_name(i):
    return f"{family_word(i)} {GROUPS[i % len(GROUPS)][0]}"


def styles_of(i):
    """Regular for every family; bold for one in four, italic for another one in four."""
    return ["Regular"] + (["Bold"] if i % 4 == 1 else []) + (["Italic"] if i % 4 == 2 else [])


def make_templates(root):
    tdir = os.path.join(root, "templates")
    done = os.path.join(tdir, ".done")
    if os.path.exists(done):
        return tdir
    os.makedirs(tdir, exist_ok=True)
    opts = subset.Options()
    opts.hinting = False
    opts.layout_features = []
    opts.name_IDs = ["*"]
    opts.notdef_outline = True
    opts.drop_tables += ["FFTM", "DSIG"]
    for g, (_, *files) in enumerate(GROUPS):
        for style, path in zip(STYLES, files):
            font = TTFont(path)
            sub = subset.Subsetter(opts)
            sub.populate(unicodes=LATIN)
            sub.subset(font)
            if "CFF " in font:
                cff = font["CFF "].cff
                cff.fontNames[0] = PS_PLACEHOLDER.decode()
                top = cff[cff.fontNames[0]]
                top.FamilyName = FAMILY_PLACEHOLDER.decode()
                top.FullName = FULL_PLACEHOLDER.decode()
            font.save(os.path.join(tdir, f"{g:02d}-{style}.{'otf' if 'CFF ' in font else 'ttf'}"))
    open(done, "w").close()
    return tdir


def padded(text, placeholder, fill):
    """text in exactly the placeholder's length, so no offset in the table moves."""
    raw = text.encode("ascii")[: len(placeholder)]
    return raw + fill * (len(placeholder) - len(raw))


def write_face(template, out, i, style):
    family = family_name(i)
    ps = family.replace(" ", "") + "-" + style
    full = family if style == "Regular" else f"{family} {style}"
    font = TTFont(template, lazy=True, recalcBBoxes=False, recalcTimestamp=False)
    names = font["name"]
    names.names = [n for n in names.names if n.nameID not in (16, 17, 21, 22)]
    for rec in list(names.names):
        if rec.nameID in (1, 2, 3, 4, 6):
            value = {1: family, 2: style, 3: f"Glyvex synthetic {i} {style}", 4: full, 6: ps}[rec.nameID]
            names.setName(value, rec.nameID, rec.platformID, rec.platEncID, rec.langID)
    # Vertical metrics differ a little from family to family, as in real collections.
    # Tables are patched as bytes: compiling them would decompile the outlines too.
    delta = (i * 7) % 23 * 8

    def patch(tag, *fields):
        data = bytearray(font.reader[tag])
        for offset, fmt in fields:
            (value,) = struct.unpack_from(fmt, data, offset)
            struct.pack_into(fmt, data, offset, value + delta)
        return bytes(data)

    raw = {
        "hhea": patch("hhea", (4, ">h")),
        "OS/2": patch("OS/2", (68, ">h"), (74, ">H")),  # sTypoAscender, usWinAscent
    }
    if "CFF " in font.reader:
        data = font.reader["CFF "]
        data = data.replace(PS_PLACEHOLDER, padded(ps, PS_PLACEHOLDER, b"_"))
        data = data.replace(FAMILY_PLACEHOLDER, padded(family, FAMILY_PLACEHOLDER, b" "))
        raw["CFF "] = data.replace(FULL_PLACEHOLDER, padded(full, FULL_PLACEHOLDER, b" "))
    for tag, data in raw.items():
        table = DefaultTable(tag)
        table.data = data
        font[tag] = table
    font.save(out)


def make_chunk(root, tdir, c):
    cdir = os.path.join(root, "pool", f"c{c:04d}")
    if os.path.isdir(cdir):
        return cdir
    tmp = cdir + ".tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    for i in range(c * CHUNK, (c + 1) * CHUNK):
        g = i % len(GROUPS)
        for style in styles_of(i):
            template = glob.glob(os.path.join(tdir, f"{g:02d}-{style}.*"))[0]
            ext = os.path.splitext(template)[1]
            write_face(template, os.path.join(tmp, f"{i:06d}-{style}{ext}"), i, style)
    os.rename(tmp, cdir)  # a chunk exists only once it is complete
    return cdir


def system_rules():
    """The system's configuration rules (aliases, defaults) without the per-user font directories."""
    rules = sorted(glob.glob("/etc/fonts/conf.d/*.conf"))
    return [r for r in rules if not os.path.basename(r).startswith(("50-user", "51-local"))]


def write_config(root, n, chunks, synthetic_only):
    sdir = os.path.join(root, f"{n}-only" if synthetic_only else str(n))
    os.makedirs(sdir, exist_ok=True)
    lines = ['<?xml version="1.0"?>', '<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">', "<fontconfig>"]
    for c in chunks:
        lines.append(f"  <dir>{c}</dir>")
    if not synthetic_only:
        lines += ["  <dir>/usr/share/fonts</dir>", "  <dir>/usr/local/share/fonts</dir>"]
    lines.append(f"  <cachedir>{os.path.join(root, 'fccache')}</cachedir>")
    for r in system_rules():
        lines.append(f'  <include ignore_missing="yes">{r}</include>')
    lines.append("</fontconfig>")
    conf = os.path.join(sdir, "fonts.conf")
    with open(conf + ".tmp", "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(conf + ".tmp", conf)
    return conf


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("n", type=int)
    ap.add_argument("--root", default=os.environ.get("GLYVEX_FONTSETS", "/work/fontsets"))
    ap.add_argument("--synthetic-only", action="store_true")
    args = ap.parse_args()
    root = os.path.abspath(args.root)
    tdir = make_templates(root)
    count = (max(args.n, 1) + CHUNK - 1) // CHUNK
    chunks = []
    for c in range(count):
        chunks.append(make_chunk(root, tdir, c))
        print(f"\rchunk {c + 1}/{count}", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)
    conf = write_config(root, args.n, chunks, args.synthetic_only)
    env = dict(os.environ, FONTCONFIG_FILE=conf)
    subprocess.run(["fc-cache"], env=env, check=True)
    print(conf)


if __name__ == "__main__":
    main()
