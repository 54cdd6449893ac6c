#!/usr/bin/python3
"""Writes engine/font/KVPDFFontTables.cpp, the engine's read-only font tables.

Run with the system Python, which carries python3-fonttools (scripts/install-deps installs it):

    /usr/bin/python3 scripts/generate-font-tables.py [OUTPUT]

OUTPUT defaults to engine/font/KVPDFFontTables.cpp beside this script. The output depends only
on the installed fontTools, Python's codecs and the URW base-35 AFM files (not on their version
numbers), so running it again gives the same bytes; a test compares a fresh run with the
committed file.

Generation fails (exit status 1, nothing written) when a source no longer gives the values the
engine relies on: the telling rows are checked below before anything is written.
"""

import codecs
import os
import sys

from fontTools import agl
from fontTools.cffLib import cffStandardStrings
from fontTools.encodings.StandardEncoding import StandardEncoding

AFM_DIR = "/usr/share/fonts/type1/urw-base35"

# PostScript's ISOLatin1Encoding. Not ISO 8859-1 itself: 0x27 and 0x60 are the curly quotes,
# 0x2D is "minus" (the soft hyphen at 0xAD is "hyphen") and 0x90-0x9F hold the accents.
_N = ".notdef"
ISO_LATIN1_ENCODING = [_N] * 32 + [
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quoteright",
    "parenleft", "parenright", "asterisk", "plus", "comma", "minus", "period", "slash",
    "zero", "one", "two", "three", "four", "five", "six", "seven",
    "eight", "nine", "colon", "semicolon", "less", "equal", "greater", "question",
    "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z",
    "bracketleft", "backslash", "bracketright", "asciicircum", "underscore",
    "quoteleft", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z",
    "braceleft", "bar", "braceright", "asciitilde", _N,
] + [_N] * 16 + [
    "dotlessi", "grave", "acute", "circumflex", "tilde", "macron", "breve", "dotaccent",
    "dieresis", _N, "ring", "cedilla", _N, "hungarumlaut", "ogonek", "caron",
    "space", "exclamdown", "cent", "sterling", "currency", "yen", "brokenbar", "section",
    "dieresis", "copyright", "ordfeminine", "guillemotleft", "logicalnot", "hyphen", "registered", "macron",
    "degree", "plusminus", "twosuperior", "threesuperior", "acute", "mu", "paragraph", "periodcentered",
    "cedilla", "onesuperior", "ordmasculine", "guillemotright", "onequarter", "onehalf", "threequarters",
    "questiondown",
    "Agrave", "Aacute", "Acircumflex", "Atilde", "Adieresis", "Aring", "AE", "Ccedilla",
    "Egrave", "Eacute", "Ecircumflex", "Edieresis", "Igrave", "Iacute", "Icircumflex", "Idieresis",
    "Eth", "Ntilde", "Ograve", "Oacute", "Ocircumflex", "Otilde", "Odieresis", "multiply",
    "Oslash", "Ugrave", "Uacute", "Ucircumflex", "Udieresis", "Yacute", "Thorn", "germandbls",
    "agrave", "aacute", "acircumflex", "atilde", "adieresis", "aring", "ae", "ccedilla",
    "egrave", "eacute", "ecircumflex", "edieresis", "igrave", "iacute", "icircumflex", "idieresis",
    "eth", "ntilde", "ograve", "oacute", "ocircumflex", "otilde", "odieresis", "divide",
    "oslash", "ugrave", "uacute", "ucircumflex", "udieresis", "yacute", "thorn", "ydieresis",
]

# The standard strings that name no glyph: they give 0.
CFF_NON_GLYPHS = {".notdef", "001.000", "001.001", "001.002", "001.003",
                  "Black", "Bold", "Book", "Light", "Medium", "Regular", "Roman", "Semibold"}

# Names that older glyph lists gave two code points; these are the ones taken.
TWO_POINT_CHOICES = {
    "space": 0x0020, "hyphen": 0x002D, "macron": 0x00AF, "mu": 0x00B5, "periodcentered": 0x00B7,
    "fraction": 0x2044, "Delta": 0x2206, "Omega": 0x2126, "Scedilla": 0x015E,
    "Tcommaaccent": 0x0162, "scedilla": 0x015F, "tcommaaccent": 0x0163,
}

CLOSING_ROWS = [(".null", 0), ("nonmarkingreturn", 0), ("nonbreakingspace", 0x00A0), ("apple", 0xF8FF)]

# Rows the engine's decoding depends on; generation fails when a source disagrees.
TELLING_ROWS = {
    "space": 0x0020, "quoteright": 0x2019, "quoteleft": 0x2018, "quotesingle": 0x0027,
    "grave": 0x0060, "minus": 0x2212, "bullet": 0x2022, "Euro": 0x20AC, "afii00208": 0x2015,
    "afii61664": 0x200C, "fi": 0xFB01, "fl": 0xFB02, "ff": 0xFB00, "dollaroldstyle": 0xF724,
    "Asmall": 0xF761, "Acute": 0xF6C9, "dotlessj": 0xF6BE, "commaaccent": 0xF6C3,
    "copyrightsans": 0xF8E9, "hyphen": 0x002D, "macron": 0x00AF, "mu": 0x00B5,
    "periodcentered": 0x00B7, "fraction": 0x2044, "Delta": 0x2206, "Omega": 0x2126,
    ".notdef": 0, "Semibold": 0, "001.000": 0, "nonbreakingspace": 0x00A0, "apple": 0xF8FF,
}

# (C++ name, AFM file, fonts sharing the table)
WIDTH_TABLES = [
    ("KVPDFFontTimesRomanWidths", "NimbusRoman-Regular.afm"),
    ("KVPDFFontTimesBoldWidths", "NimbusRoman-Bold.afm"),
    ("KVPDFFontTimesItalicWidths", "NimbusRoman-Italic.afm"),
    ("KVPDFFontTimesBoldItalicWidths", "NimbusRoman-BoldItalic.afm"),
    ("KVPDFFontHelveticaWidths", "NimbusSans-Regular.afm"),
    ("KVPDFFontHelveticaBoldWidths", "NimbusSans-Bold.afm"),
    ("KVPDFFontCourierWidths", "NimbusMonoPS-Regular.afm"),
    ("KVPDFFontSymbolWidths", "StandardSymbolsPS.afm"),
    ("KVPDFFontZapfDingbatsWidths", "D050000L.afm"),
]

NORMALIZED_NAMES = [
    ("Times-Roman", ["Times-Roman", "TimesNewRoman", "TimesNewRomanPS", "TimesNewRomanPSMT", "Times",
                     "Times New Roman"]),
    ("Times-Bold", ["Times-Bold", "TimesNewRoman-Bold", "TimesNewRoman,Bold", "TimesNewRomanPS-Bold",
                    "TimesNewRomanPS-BoldMT"]),
    ("Times-Italic", ["Times-Italic", "TimesNewRoman-Italic", "TimesNewRoman,Italic", "TimesNewRomanPS-Italic",
                      "TimesNewRomanPS-ItalicMT"]),
    ("Times-BoldItalic", ["Times-BoldItalic", "TimesNewRoman-BoldItalic", "TimesNewRoman,BoldItalic",
                          "TimesNewRomanPS-BoldItalic", "TimesNewRomanPS-BoldItalicMT"]),
    ("Helvetica", ["Helvetica", "Arial", "ArialMT"]),
    ("Helvetica-Bold", ["Helvetica-Bold", "Helvetica,Bold", "Arial-Bold", "Arial,Bold", "Arial-BoldMT"]),
    ("Helvetica-Oblique", ["Helvetica-Oblique", "Helvetica-Italic", "Helvetica,Italic", "Arial-Italic",
                           "Arial,Italic", "Arial-ItalicMT"]),
    ("Helvetica-BoldOblique", ["Helvetica-BoldOblique", "Helvetica-BoldItalic", "Helvetica,BoldItalic",
                               "Arial-BoldItalic", "Arial,BoldItalic", "Arial-BoldItalicMT"]),
    ("Courier", ["Courier", "CourierNew", "CourierPSMT"]),
    ("Courier-Bold", ["Courier-Bold", "Courier,Bold", "CourierNew-Bold", "CourierNew,Bold", "CourierNewPS-BoldMT"]),
    ("Courier-Oblique", ["Courier-Oblique", "Courier,Italic", "CourierNew-Italic", "CourierNew,Italic",
                         "CourierNewPS-ItalicMT"]),
    ("Courier-BoldOblique", ["Courier-BoldOblique", "Courier,BoldItalic", "CourierNew-BoldItalic",
                             "CourierNew,BoldItalic", "CourierNewPS-BoldItalicMT"]),
    ("Symbol", ["Symbol"]),
    ("Zapf Dingbats", ["ZapfDingbats"]),
]

STD_ABBREVIATIONS = [
    ("Times-Roman", "TiRo"), ("Times-Bold", "TiBo"), ("Times-Italic", "TiOb"), ("Times-BoldItalic", "TiBO"),
    ("Helvetica", "Helv"), ("Helvetica-Bold", "HeBo"), ("Helvetica-Oblique", "HeOb"),
    ("Helvetica-BoldOblique", "HeBO"), ("Courier", "Cour"), ("Courier-Bold", "CoBo"),
    ("Courier-Oblique", "CoOb"), ("Courier-BoldOblique", "CoBO"), ("Symbol", "Symb"), ("ZapfDingbats", "ZaDb"),
]


class GenerationError(Exception):
    pass


def agl_value(name):
    """The single BMP code point of a glyph-list name, or None when it has none or a sequence."""
    if name in TWO_POINT_CHOICES:
        return TWO_POINT_CHOICES[name]
    points = agl.LEGACY_AGL2UV.get(name)
    if not points or len(points) != 1 or points[0] > 0xFFFF:
        return None
    return points[0]


def glyph_rows():
    rows = []
    for name in cffStandardStrings:
        if name in CFF_NON_GLYPHS:
            rows.append((name, 0))
            continue
        value = agl_value(name)
        if value is None:
            raise GenerationError(f"standard string {name!r} has no single glyph-list code point")
        rows.append((name, value))
    standard = set(cffStandardStrings)
    for name in sorted(agl.LEGACY_AGL2UV):  # sorted() on str is ASCII order here
        if name in standard:
            continue
        value = agl_value(name)
        if value is not None:
            rows.append((name, value))
    rows.extend(CLOSING_ROWS)
    return rows


def check_glyph_rows(rows):
    if len(cffStandardStrings) != 391 or rows[1] != ("space", 0x20) or rows[390][0] != "Semibold":
        raise GenerationError("the CFF standard strings are not the 391 expected")
    first = {}
    for name, value in rows:
        first.setdefault(name, value)
    for name, value in TELLING_ROWS.items():
        if first.get(name) != value:
            raise GenerationError(f"glyph row {name!r} is {first.get(name)!r}, expected {value:#06x}")
    for name, value in rows:
        if not 0 <= value <= 0xFFFF:
            raise GenerationError(f"glyph row {name!r} does not fit one UTF-16 unit")


def std_to_unicode():
    table = [0] * 256
    first = {}
    for name, value in glyph_rows():
        first.setdefault(name, value)
    for code, name in enumerate(StandardEncoding):
        if name != ".notdef":
            table[code] = first[name]
    return table


def codec_table(encoding):
    table = [0] * 256
    for code in range(256):
        try:
            text = bytes([code]).decode(encoding)
        except UnicodeDecodeError:
            continue
        if len(text) == 1 and ord(text) <= 0xFFFF:
            table[code] = ord(text)
    return table


def mac_to_unicode():
    table = codec_table("mac_roman")
    table[0xDB] = 0x20AC  # the current mapping: the euro replaced the currency sign
    table[0xF0] = 0xF8FF
    return table


def win_to_unicode():
    table = codec_table("cp1252")
    for code in (0x81, 0x8D, 0x8F, 0x90, 0x9D):
        table[code] = 0
    return table


def check_encodings(std, mac, win):
    expected = [
        (std, 0x27, 0x2019), (std, 0x60, 0x2018), (std, 0x41, 0x41), (std, 0x1F, 0), (std, 0x7F, 0),
        (std, 0x80, 0), (std, 0xA1, 0xA1), (std, 0xAE, 0xFB01),
        (mac, 0xDB, 0x20AC), (mac, 0xF0, 0xF8FF), (mac, 0x0A, 0x0A), (mac, 0x80, 0xC4),
        (win, 0x80, 0x20AC), (win, 0x81, 0), (win, 0x9D, 0), (win, 0x7F, 0x7F), (win, 0x09, 0x09),
    ]
    for table, code, value in expected:
        if table[code] != value:
            raise GenerationError(f"encoding code {code:#04x} is {table[code]:#06x}, expected {value:#06x}")


def afm_widths(path):
    widths = {}
    with open(path, encoding="latin-1") as afm:
        for line in afm:
            if not line.startswith("C "):
                continue
            fields = {}
            for part in line.split(";"):
                words = part.split()
                if len(words) >= 2:
                    fields[words[0]] = words[1]
            if "N" in fields and "WX" in fields:
                widths.setdefault(fields["N"], int(round(float(fields["WX"]))))
    return widths


def width_table(afm_name):
    widths = afm_widths(os.path.join(AFM_DIR, afm_name))
    return [0 if name == ".notdef" else widths.get(name, 0) for name in ISO_LATIN1_ENCODING]


def check_widths(tables):
    if len(ISO_LATIN1_ENCODING) != 256:
        raise GenerationError("ISOLatin1Encoding must have 256 codes")
    helvetica = tables["KVPDFFontHelveticaWidths"]
    courier = tables["KVPDFFontCourierWidths"]
    symbol = tables["KVPDFFontSymbolWidths"]
    dingbats = tables["KVPDFFontZapfDingbatsWidths"]
    if helvetica[0x20] != 278 or helvetica[0x27] != 222 or helvetica[0x41] != 667:
        raise GenerationError("Helvetica widths of space, quoteright or A are not 278, 222, 667")
    named = [code for code, name in enumerate(ISO_LATIN1_ENCODING) if name != ".notdef"]
    if any(courier[code] != 600 for code in named) or any(courier[c] for c in range(256) if c not in named):
        raise GenerationError("Courier is not 600 at every named code")
    symbol_codes = sum(1 for code in range(256) if symbol[code])  # "space" twice, at 0x20 and 0xA0
    if symbol_codes != 41:
        raise GenerationError(f"Symbol has widths at {symbol_codes} ISOLatin1 codes, expected 41")
    if [code for code in range(256) if dingbats[code]] != [0x20, 0xA0] or dingbats[0x20] != 278:
        raise GenerationError("ZapfDingbats must be 278 at 0x20 and 0xA0 only")


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def format_numbers(values, per_line, fmt):
    lines = []
    for start in range(0, len(values), per_line):
        lines.append("    " + ", ".join(fmt(v) for v in values[start:start + per_line]) + ",")
    return "\n".join(lines)


def unit(value):
    return f"0x{value:04X}"


def generate():
    rows = glyph_rows()
    check_glyph_rows(rows)
    std, mac, win = std_to_unicode(), mac_to_unicode(), win_to_unicode()
    check_encodings(std, mac, win)
    tables = {name: width_table(afm) for name, afm in WIDTH_TABLES}
    check_widths(tables)

    out = []
    out.append("// Generated by scripts/generate-font-tables.py; do not edit. To regenerate:")
    out.append("//     /usr/bin/python3 scripts/generate-font-tables.py")
    out.append(f"// Sources: fontTools' CFF strings, glyph list and StandardEncoding; {AFM_DIR}; Python's codecs.")
    out.append('#include "KVPDFFontTables.h"')
    out.append("")
    for name, table in (("KVPDFFontStdToUnicode", std), ("KVPDFFontMacToUnicode", mac),
                        ("KVPDFFontWinToUnicode", win)):
        out.append(f"const char16_t {name}[256] = {{")
        out.append(format_numbers(table, 8, unit))
        out.append("};")
        out.append("")
    out.append("const char *const KVPDFFontPSGlyphNames[] = {")
    line = "   "
    for name, _ in rows:
        item = " " + c_string(name) + ","
        if len(line) + len(item) > 110:
            out.append(line)
            line = "   "
        line += item
    out.append(line)
    out.append("};")
    out.append("")
    out.append("const char16_t KVPDFFontPSGlyphUnicode[] = {")
    out.append(format_numbers([value for _, value in rows], 12, unit))
    out.append("};")
    out.append("")
    out.append(f"const size_t KVPDFFontPSGlyphCount = {len(rows)};")
    out.append("static_assert(sizeof(KVPDFFontPSGlyphNames) / sizeof(KVPDFFontPSGlyphNames[0])")
    out.append("              == sizeof(KVPDFFontPSGlyphUnicode) / sizeof(KVPDFFontPSGlyphUnicode[0]));")
    out.append("")
    for name, afm in WIDTH_TABLES:
        out.append(f"// {afm}")
        out.append(f"const int32_t {name}[256] = {{")
        out.append(format_numbers(tables[name], 16, str))
        out.append("};")
        out.append("")
    out.append("const KVPDFFontNamePair KVPDFFontNormalizedNames[] = {")
    count = 0
    for value, keys in NORMALIZED_NAMES:
        for key in keys:
            out.append(f"    {{{c_string(key)}, {c_string(value)}}},")
            count += 1
    out.append("};")
    out.append(f"const size_t KVPDFFontNormalizedNameCount = {count};")
    out.append("")
    out.append("const KVPDFFontNamePair KVPDFFontStdAbbreviations[] = {")
    for key, value in STD_ABBREVIATIONS:
        out.append(f"    {{{c_string(key)}, {c_string(value)}}},")
    out.append("};")
    out.append(f"const size_t KVPDFFontStdAbbreviationCount = {len(STD_ABBREVIATIONS)};")
    return "\n".join(out) + "\n"


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    target = argv[1] if len(argv) > 1 else os.path.join(here, "..", "engine", "font", "KVPDFFontTables.cpp")
    try:
        text = generate()
    except (GenerationError, OSError) as error:
        print(f"generate-font-tables: {error}", file=sys.stderr)
        return 1
    with open(target, "w", encoding="ascii", newline="\n") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
