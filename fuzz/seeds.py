#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ (except facecache, which fuzz_facecache writes
itself: GLYVEX_FUZZ_SEED=<file>). Run from the repository root."""
import re
import struct
from pathlib import Path

out = Path("fuzz/corpus")


def table(size, fields):
    b = bytearray(size)
    for at, v in fields:
        struct.pack_into(">H", b, at, v & 0xFFFF)
    return bytes(b)


def head(upem):
    return table(54, [(0, 1), (12, 0x5F0F), (14, 0x3CF5), (18, upem)])


def hhea(asc, desc):
    return table(36, [(0, 1), (4, asc), (6, desc)])


def os2(sel, ta, td, wa, wd):
    return table(96, [(0, 4), (62, sel), (68, ta), (70, td), (74, wa), (76, wd)])


def sfnt(faces, collection=False, version=0x00010000):
    """faces: list of lists of (tag, data); directories first, then 4-byte aligned data."""
    pos = 12 + 4 * len(faces) if collection else 0
    dirs = []
    for f in faces:
        dirs.append(pos)
        pos += 12 + 16 * len(f)
    data = bytearray(pos)
    if collection:
        data[0:4] = b"ttcf"
        struct.pack_into(">HHI", data, 4, 1, 0, len(faces))
        for i, d in enumerate(dirs):
            struct.pack_into(">I", data, 12 + 4 * i, d)
    for f, d in zip(faces, dirs):
        struct.pack_into(">IH", data, d, version, len(f))
        for t, (tag, body) in enumerate(f):
            while len(data) % 4:
                data.append(0)
            struct.pack_into(">4sIII", data, d + 12 + 16 * t, tag, 0, len(data), len(body))
            data += body
    return bytes(data)


def write(kind, name, data):
    (out / kind / name).write_bytes(data)


write("sfnt", "hhea.ttf", sfnt([[(b"head", head(2048)), (b"hhea", hhea(1901, -483))]]))
write("sfnt", "typo.ttf", sfnt([[(b"head", head(1000)), (b"hhea", hhea(800, -200)),
                                  (b"OS/2", os2(0x80, 750, -250, 900, 300))]]))
write("sfnt", "win.otf", sfnt([[(b"head", head(1000)), (b"OS/2", os2(0, 0, 0, 1000, 300))]],
                              version=0x4F54544F))
write("sfnt", "bitmap.ttf", sfnt([[(b"head", head(1000)), (b"hhea", hhea(800, -200)), (b"EBLC", b"\0" * 8)]]))
write("sfnt", "pair.ttc", sfnt([[(b"head", head(1000)), (b"hhea", hhea(700, -300))],
                                [(b"head", head(2048)), (b"OS/2", os2(0x80, 1500, -500, 0, 0))]],
                               collection=True))

clear = (b"%!PS-AdobeFont-1.0: Seed 1.0\n12 dict begin\n/FontInfo 2 dict dup begin\n"
         b"/FamilyName (Seed (with) parens) readonly def\nend readonly def\n/FontName /Seed def\n"
         b"/FontType 1 def\n/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n"
         b"/FontBBox {-100 -250.5 900 880} readonly def\ncurrentdict end\ncurrentfile eexec\n")
write("type1", "seed.pfa", clear + b"0123456789abcdef\n" * 4 + b"cleartomark\n")
write("type1", "seed.pfb", b"\x80\x01" + struct.pack("<I", len(clear)) + clear + b"\x80\x02"
      + struct.pack("<I", 8) + b"\x01" * 8 + b"\x80\x03")
write("type1", "matrix.t1", clear.replace(b"%!PS-AdobeFont-1.0", b"%!FontType1-1.0")
      .replace(b"[0.001 0 0 0.001 0 0]", b"[0.00048828125 0 0 4.8828125e-4 0 0]")
      .replace(b"{-100 -250.5 900 880}", b"[-100 -250 900 880]"))

# Forms: the program's definitions with this target's class and handler names, and one
# that uses every kind of value.
for gxf in sorted(Path("app").glob("*.gxf")):
    text = gxf.read_text(encoding="utf-8")
    text = re.sub(r"^(\w+): TForm\d+ \{", r"\1: TFuzzForm {", text, count=1, flags=re.M)
    text = re.sub(r"^(\s*OnClose) = \w+", r"\1 = Close", text, flags=re.M)
    text = re.sub(r"^(\s*OnCloseQuery) = \w+", r"\1 = Query", text, flags=re.M)
    text = re.sub(r"^(\s*OnKey\w+) = \w+", r"\1 = Key", text, flags=re.M)
    text = re.sub(r"^(\s*OnMouse(?:Down|Up)) = \w+", r"\1 = Mouse", text, flags=re.M)
    text = re.sub(r"^(\s*OnMouseMove) = \w+", r"\1 = Moved", text, flags=re.M)
    text = re.sub(r"^(\s*On(?!Close|Key|Mouse)\w+|\s*AfterTranslate) = \w+", r"\1 = Notify", text, flags=re.M)
    write("formreader", gxf.stem + ".gxf", text.encode("utf-8"))
    # Its translation table, one line per string.
    m = re.search(r"TranslateList = \((.*?)\n\s*\)", text, flags=re.S)
    if m:
        lines = re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(1))
        write("translation", gxf.stem + ".txt", ("\n".join(lines) + "\n").encode("utf-8"))
write("formreader", "values.gxf", '''Form: TFuzzForm {
  Caption = "Esc \\"q\\" \\\\ \\n \\t \\u00e4"
  Font.Height = -12
  BorderIcons = [biSystemMenu, biMinimize]
  OnClose = Close
  StatusBar1: TStatusBar {
    Panels = <item { Width = 100 } item { Width = 50 }>
  }
  Image1: TImage {
    Picture = res(":/app/glyvex.png")
  }
  PageControl1: TPageControl {
    ActivePage = TabSheet1
    TabSheet1: TTabSheet {
      Memo1: TMemo {
        Lines = ("first" "second")
        OnKeyDown = Key
      }
    }
  }
}
'''.encode("utf-8"))
write("translation", "short.txt", b"_Form\nDeutsch\n_Label1\n")
