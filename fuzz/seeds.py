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

# Registry hives: what the program writes, and the export format's other value types,
# escapes, comments, line ends and case.
HEADER = b"Windows Registry Editor Version 5.00\n\n"
write("registry", "glyvex.reg", HEADER + b"""[HKEY_CURRENT_USER\\Software\\glyvex]

[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-4,-4"
"NormPos"="100,80,746,552"
"Visible"="0"
"Edit1_Text"="Franz jagt im komplett verwahrlosten Taxi quer durch Bayern"
"Translator1_CurrentLanguage"="English"

[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms\\info]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-1,-1"
"NormPos"="300,200,620,380"
"Visible"="1"

""")
write("registry", "types.reg", b"\xef\xbb\xbf" + HEADER.replace(b"\n", b"\r\n") + b"""; exported by hand\r
[HKEY_CURRENT_USER\\Software\\Other]\r
"Number"=dword:0000002a\r
"Blob"=hex:01,02,03,\\\r
  04,05\r
"Wide"=hex(1):48,00,69,00,00,00\r
"Expand"=hex(2):25,00,48,00,25,00,00,00\r
"Multi"=hex(7):61,00,00,00,00,00\r
@="default"\r
"Quoted \\"name\\""="C:\\\\dir \\"q\\" \xc3\xa4\xe2\x82\xac"\r
\r
[hkey_current_user\\software\\OTHER]\r
"number"="replaced"\r
\r
[HKEY_LOCAL_MACHINE\\Kept]\r
\r
[HKEY_CURRENT_USER\\Empty]\r
""")
write("registry", "lines.reg", HEADER + b"""[HKEY_CURRENT_USER\\Software\\glyvex\\Lines]
"Text"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,0d,00,0a,00,00,00
"Tab"=hex(1):61,00,09,00,62,00,00,00
"Odd"=hex(1):61,00,62
"Surrogate"=hex(1):3d,d8,00,de,00,d8,00,00
"Trailing"="  blanks  "  

""")

# INI files: the placement items as the INI store writes them, and lines it keeps as
# they are. The fuzz target also writes a section, key and value from the first lines.
write("inifile", "glyvex.ini", b"""[TForm1]
Flags=0
ShowCmd=1
MinMaxPos=-1,-1,-4,-4
NormPos=100,80,746,552
Visible=0
Edit1_Text=Franz jagt im komplett verwahrlosten Taxi quer durch Bayern
Translator1_CurrentLanguage=English
[TForm1.Memo1_Lines]
Count=2
Item0=  first  
Item1=second
""")
write("inifile", "odd.ini", b"""\xef\xbb\xbfForms\r
 Key \r
 two words \r
; comment=not a value\r
head=before any section\r
[Forms]\r
  Flags = 0  \r
no equals sign here\r
=empty key\r
[forms] trailing text\r
Flags=duplicate section\r
[]\r
K=in the nameless section\r
[Other\r
A=1=2\r
""")

# Stored properties: the locale, then one line per read in the order the reads happen:
# Edit1.Text, Translator1.CurrentLanguage, Edit1.Font (Name, Size, Height, Style, Color),
# then every property of the target's component (Tag, Number, Small, Unsigned, Byte,
# Letter, Wide, Shade, Language, Flag, Single, Real, Text, Bits, Styles, Inner: Value,
# Lines (Count, items), Font; Items (Count, items), Font), then the placement (Flags,
# MinMaxPos, NormPos, ShowCmd). A line holding one zero character is an absent item.
ABSENT = "\0"


def props(name, locale, edit, font, component, inner_value, inner_lines, inner_font, items, font2,
          placement):
    lines = [locale, *edit, *font, *component, inner_value, str(len(inner_lines)), *inner_lines,
             *inner_font, str(len(items)), *items, *font2, *placement]
    write("storedprops", name, ("\n".join(lines) + "\n").encode("utf-8"))


props("plain.txt", "C", ["Franz jagt im komplett verwahrlosten Taxi", "English"],
      ["DejaVu Sans", "12", "-16", "[fsBold,fsItalic]", "255"],
      ["0", "42", "-32768", "4294967295", "255", "x", "\u00df", "SHGREEN", "english", "TRUE", "3.14159",
       "-1.5e-300", "  padded  ", "[b30, b0 b5]", "[fsUnderline]"],
      "-2147483648", ["  first  ", "second"], ["Liberation Serif", "9", "-12", "[]", "0"],
      ["a", "b", "c"], ["DejaVu Sans Mono", "72", "-96", "[fsStrikeOut]", "$00FF00"],
      ["0", "-1,-1,-4,-4", "100,80,746,552", "1"])
props("german.txt", "de_DE", ["  Grüße  ", "German"],
      ["Noto Sans", "0x10", "", "[fsItalic,fsBold]", "-2147483640"],
      ["$FFFFFFFF", "+7", "0x7FFF", "$ffffffff", "-1", "", "", "shBlue", "GERMAN", "false", "3,5",
       "1,25E+10", "", "[]", "[fsBold fsbold]"],
      ABSENT, [], [ABSENT] * 5, [], [ABSENT] * 5, ["3", "0,0,0,0", "30,40", "2"])
props("bad.txt", "en_US", ["", "Klingon"],
      ["", "99999999999", "-2147483648", "[nothing", "red"],
      ["12abc", "0x", "-$80000000", "$", "- 1", "\t", "\U0001F600", "shgreen", "1", "yes", "nan",
       "inf", "\t\t", "[b99,,,b16]", "fsBold]"],
      "2147483647", ["only"], ["", "-2147483648", "2147483647", "[fsBold]", "x"],
      ["-1"], ["", "", "", "", ""], ["x", "a b c d", "700,500,100,50", "9"])
