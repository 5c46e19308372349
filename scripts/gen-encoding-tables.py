#!/usr/bin/python3
"""Writes encoding/EncodingList.inc and encoding/IndexTables.inc, the names, labels and indexes
of the Encoding Standard, from its published index files and encodings.json.

Run from anywhere: /usr/bin/python3 scripts/gen-encoding-tables.py [INDEX_DIR]
With --check it writes nothing and exits 1 when the committed files differ from what it would
write, 77 (skipped) when INDEX_DIR is missing. INDEX_DIR defaults to ../shared/encoding-indexes
beside the repository.
"""
import json
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
args = [a for a in sys.argv[1:] if a != "--check"]
check = "--check" in sys.argv[1:]
source = pathlib.Path(args[0]) if args else root.parent / "shared" / "encoding-indexes"
if not (source / "encodings.json").exists():
    print("no index files in %s" % source)
    sys.exit(77 if check else 1)

REGENERATE = "/usr/bin/python3 scripts/gen-encoding-tables.py [INDEX_DIR]"


def enumerator(name):
    """"ISO-8859-8-I" -> "Iso8859_8I", "x-mac-cyrillic" -> "XMacCyrillic", "Shift_JIS" -> "ShiftJis"."""
    parts = re.split(r"[-_]", name)
    out = ""
    for part in parts:
        if out and out[-1].isdigit() and part[:1].isdigit():
            out += "_"
        ending = re.fullmatch(r"(\d+)(BE|LE)", part)
        out += ending.group(1) + ending.group(2).title() if ending else part[:1].upper() + part[1:].lower()
    return out


def read_index(name):
    """The pointers and code points of index NAME, and the file's identifier."""
    text = (source / ("index-%s.txt" % name)).read_text(encoding="utf-8")
    identifier = re.search(r"^# Identifier: (\w+)", text, re.M).group(1)
    rows = {}
    for line in text.split("\n"):
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        rows[int(fields[0])] = int(fields[1], 16)
    return rows, identifier


groups = json.loads((source / "encodings.json").read_text(encoding="utf-8"))
encodings = [e for g in groups for e in g["encodings"]]
identifiers = []

enum_lines = ["    %s, // %s" % (enumerator(e["name"]), e["name"]) for e in encodings]

out = []
out.append("// The encodings' names, in the order of the enumeration.")
out.append("const char *const encodingNames[] = {")
out += ['    "%s",' % e["name"] for e in encodings]
out.append("};")
out.append("")
out.append("// Every label, sorted, with its encoding.")
out.append("const Label labels[] = {")
labels = sorted((label, enumerator(e["name"])) for e in encodings for label in e["labels"])
out += ['    {"%s", Encoding::%s},' % row for row in labels]
out.append("};")


def uint16_table(name, values, comment):
    out.append("")
    out.append("// " + comment)
    out.append("const std::uint16_t %s[%d] = {" % (name, len(values)))
    for start in range(0, len(values), 12):
        out.append("    " + " ".join("0x%04X," % v for v in values[start:start + 12]))
    out.append("};")


single_byte = [e["name"] for g in groups if g["heading"] == "Legacy single-byte encodings"
               for e in g["encodings"]]
out.append("")
out.append("// Index single-byte of each single-byte encoding, in the order of the enumeration: the")
out.append("// code point of bytes 0x80 to 0xFF, 0 for none.")
out.append("const std::uint16_t singleByteIndexes[%d][128] = {" % len(single_byte))
for name in single_byte:
    rows, identifier = read_index("iso-8859-8" if name == "ISO-8859-8-I" else name.lower())
    if name != "ISO-8859-8-I":
        identifiers.append((name.lower(), identifier))
    values = [rows.get(p, 0) for p in range(128)]
    assert all(v < 0x10000 and v != 0 for v in rows.values())
    out.append("    { // " + name)
    for start in range(0, 128, 12):
        out.append("        " + " ".join("0x%04X," % v for v in values[start:start + 12]))
    out.append("    },")
out.append("};")

for index, symbol in [("jis0208", "indexJis0208"), ("jis0212", "indexJis0212"),
                      ("euc-kr", "indexEucKr"), ("gb18030", "indexGb18030"),
                      ("iso-2022-jp-katakana", "indexIso2022JpKatakana")]:
    rows, identifier = read_index(index)
    identifiers.append((index, identifier))
    assert all(0 < v < 0x10000 for v in rows.values())
    uint16_table(symbol, [rows.get(p, 0) for p in range(max(rows) + 1)],
                 "Index %s: the code point of each pointer, 0 for none." % index)

rows, identifier = read_index("big5")
identifiers.append(("big5", identifier))
assert all(v < 0x10000 or 0x20000 <= v < 0x30000 for v in rows.values())
size = max(rows) + 1
uint16_table("indexBig5", [rows.get(p, 0) & 0xFFFF for p in range(size)],
             "Index Big5: the low 16 bits of the code point of each pointer, 0 for none.")
words = [0] * ((size + 31) // 32)
for p, v in rows.items():
    if v >= 0x10000:
        words[p // 32] |= 1 << (p % 32)
out.append("")
out.append("// The pointers of index Big5 whose code point is in plane 2 (U+2xxxx), a bit each.")
out.append("const std::uint32_t indexBig5Plane2[%d] = {" % len(words))
for start in range(0, len(words), 8):
    out.append("    " + " ".join("0x%08X," % w for w in words[start:start + 8]))
out.append("};")

rows, identifier = read_index("gb18030-ranges")
identifiers.append(("gb18030-ranges", identifier))
out.append("")
out.append("// Index gb18030 ranges: the first pointer of each range and its code point.")
out.append("const Gb18030Range indexGb18030Ranges[%d] = {" % len(rows))
out += ["    {%d, 0x%04X}," % (p, v) for p, v in sorted(rows.items())]
out.append("};")

header = [
    "// Generated by scripts/gen-encoding-tables.py from the Encoding Standard's index files and",
    "// encodings.json; do not edit. Regenerate: " + REGENERATE,
]
files = {
    root / "encoding" / "EncodingList.inc": header + [
        "// The encodings, in the standard's order; included inside the enumeration Encoding."
    ] + enum_lines,
    root / "encoding" / "IndexTables.inc": header + [
        "// From the index files with these identifiers (their first 16 digits):",
    ] + ["//   %s %s" % (n, i[:16]) for n, i in identifiers] + [
        "// clang-format off",
    ] + out + ["// clang-format on"],
}
stale = []
for path, lines in files.items():
    text = "\n".join(lines) + "\n"
    if check:
        if not path.exists() or path.read_text(encoding="utf-8") != text:
            stale.append(str(path.relative_to(root)))
    else:
        path.write_text(text, encoding="utf-8")
if stale:
    print("out of date with %s: %s" % (source, ", ".join(stale)))
    sys.exit(1)
