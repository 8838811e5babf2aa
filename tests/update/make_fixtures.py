#!/usr/bin/env python3
"""Builds the identification tests' fixture files from one table.

Each row becomes a resource-only DLL: the version resource is written byte by byte here (so
rows can also hold what no resource compiler writes: binary values, missing Translation,
zero and overlong lengths), wrapped by windres and linked by ld, PE32 with the i686 tools
and PE32+ with the x86_64 ones. Damaged PE files are cut or patched from a good one.

usage: make_fixtures.py OUTDIR I686_WINDRES I686_LD X64_WINDRES X64_LD PREPROCESSOR [RC INCLUDES...]
"""
import os
import struct
import subprocess
import sys

# ---------------------------------------------------------------------------------------------
# Version resource (32-bit layout)


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def block(key, value=b"", vtype=1, vlen=None, children=b"", length=None):
    """One block; children are already padded. vlen defaults to the value's own size."""
    head_key = key.encode("utf-16-le") + b"\0\0"
    body = pad4(struct.pack("<HHH", 0, 0, 0) + head_key)
    body += value
    if children:
        body = pad4(body) + children
    if vlen is None:
        vlen = len(value) // 2 if vtype == 1 else len(value)
    if length is None:
        length = len(body)
    return pad4(struct.pack("<HHH", length, vlen, vtype) + body[6:])


def text(key, value):
    return block(key, value.encode("utf-16-le") + b"\0\0", vtype=1)


def binary(key, data):
    return block(key, data, vtype=0)


def fixed(version, flags=0, mask=0x3F):
    a, b, c, d = version
    return struct.pack("<13I", 0xFEEF04BD, 0x00010000, (a << 16) | b, (c << 16) | d, (a << 16) | b, (c << 16) | d,
                       mask, flags, 0x00040004, 2, 0, 0, 0)


def version_resource(version=(1, 0, 0, 0), tables=(), translation=(), extra_children=b"", flags=0):
    """tables: [(langkey, [entry bytes...])]; translation: [32-bit values]."""
    children = b""
    if tables:
        sfi = b"".join(block(key, b"", vtype=1, children=b"".join(entries)) for key, entries in tables)
        children += block("StringFileInfo", children=sfi)
    if translation:
        children += block("VarFileInfo",
                          children=block("Translation", b"".join(struct.pack("<I", t) for t in translation), vtype=0))
    children += extra_children
    return block("VS_VERSION_INFO", fixed(version, flags), vtype=0, children=children)


def strings(**kw):
    return [text(k, v) for k, v in kw.items()]


EIGHT = dict(FileDescription="Fixture Tool", CompanyName="Fixture Works Inc.", FileVersion="1.2.3.4",
             InternalName="fixture", LegalCopyright="Copyright (C) 2015 Fixture Works Inc.",
             OriginalFilename="fixture.dll", ProductName="Fixture Suite", ProductVersion="1.2.3.4")
EN = 0x04B00409

# ---------------------------------------------------------------------------------------------
# The table: name, PE32+ or not, version resource bytes (None: no version resource), extra
# RCDATA bytes (marker texts some rules read from the executable itself).

ROWS = [
    ("full32", False, version_resource((1, 2, 3, 4), [("040904b0", strings(**EIGHT))], [EN]), None),
    ("full64", True, version_resource((1, 2, 3, 4), [("040904b0", strings(**EIGHT))], [EN]), None),
    ("only_product", False,
     version_resource((3, 0, 0, 0), [("040904b0", strings(ProductName="Lonely Product", ProductVersion="3, 0"))], [EN]),
     None),
    ("two_tables", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="First Table", CompanyName="Alpha")),
                                     ("040704b0", strings(ProductName="Second Table", CompanyName="Beta"))],
                      [0x04B00407, EN]), None),
    ("comma_versions", False,
     version_resource((2, 0, 1, 5), [("040904e4", strings(CompanyName="Comma Co", FileVersion="2, 0, 1, 5",
                                                          ProductVersion="1, 0", ProductName="Comma"))], [0x04E40409]),
     None),
    ("no_translation", True,
     version_resource((4, 5, 6, 7), [("040904b0", strings(CompanyName="Untranslated", ProductName="Loose"))]), None),
    ("binary_values", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="Binary Co", ProductName="Binary") +
                                       [binary("Comments", b"\x34\x12"), binary("PrivateBuild", b"\x05")])], [EN]),
     None),
    ("lower_keys", False,
     version_resource((1, 0, 0, 0), [("040904b0", [text("productname", "Lower Case"), text("companyname", "Lower Co"),
                                                   text("FileDescription", "Lower thing")])], [EN]), None),
    ("unknown_child", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="Kept", ProductName="Kept Product"))], [EN],
                      extra_children=block("Surprise", b"", children=text("X", "y"))), None),
    ("no_version", False, None, b"no version here"),
    ("no_version64", True, None, b"no version here"),
    ("ver_placeholder", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="P", FileVersion="2.3"))], [EN]), None),
    ("ver_zero", False,
     version_resource((0, 0, 0, 0), [("040904b0", strings(CompanyName="Z", ProductVersion="3.1 (beta)"))], [EN]),
     None),
    ("ver_build", False,
     version_resource((5, 0, 0, 0), [("040904b0", strings(CompanyName="B", FileVersion="5.0.0.12"))], [EN]), None),
    ("ver_own", False,
     version_resource((1, 14, 5, 27), [("040904b0", strings(CompanyName="Own", FileVersion="1.14.5.27",
                                                            ProductVersion="1.0.0.0", ProductName="Own"))], [EN]),
     None),
    # One fixture for each reconciliation step that only it decides.
    ("ver_step2", False,
     version_resource((3, 1, 0, 0), [("040904b0", strings(CompanyName="S2", ProductVersion="3.2"))], [EN]), None),
    ("ver_step3", False,
     version_resource((4, 2, 0, 0), [("040904b0", strings(CompanyName="S3", FileVersion="4.2 (build 7)",
                                                          ProductVersion="4.2.7"))], [EN]), None),
    ("ver_step5", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="S5", ProductVersion="2.7 beta"))], [EN]), None),
    ("ver_step6", False,
     version_resource((0, 0, 0, 5), [("040904b0", strings(CompanyName="S6", ProductVersion="7"))], [EN]), None),
    # A row of the if/else chain (FileVersion) whose answer the reconciliation would change.
    ("chain_row", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="Dell Display Manager", CompanyName="Dell Inc.",
                                                          FileVersion="2.1", ProductVersion="2.5.3"))], [EN]), None),
    # A root value that holds the four version words but is shorter than the fixed block.
    ("short_fixed", False,
     block("VS_VERSION_INFO", fixed((7, 8, 9, 10))[:16], vtype=0,
           children=block("StringFileInfo", children=block("040904b0", b"", vtype=1,
                                                           children=b"".join(strings(CompanyName="Short Co"))))),
     None),
    # Two blocks whose length words lie: a zero length and one running past its table.
    ("zero_length", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="Zero Co") + [b"\0" * 8])], [EN]), None),
    ("overlong", False,
     version_resource((1, 0, 0, 0), [("040904b0", [block("CompanyName", "Long".encode("utf-16-le") + b"\0\0",
                                                         length=0x4000)])], [EN]), None),
    # Publisher from the copyright when the company is only ", LLC".
    ("llc", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName=", LLC", FileVersion="1.0",
                                                          LegalCopyright="Copyright (C) 2005 Foo Inc."))], [EN]),
     None),
    # A product name that the clean-up clears, with a publisher.
    ("qq", True,
     version_resource((1, 0, 0, 0), [("040904b0", strings(CompanyName="Real Co", ProductName="Q??"))], [EN]), None),
    # Products that the version rows name.
    ("PowerShell", True,
     version_resource((10, 0, 1, 0), [("040904b0", strings(ProductName="PowerShell", CompanyName="Shell Co",
                                                           FileDescription="Shell"))], [EN]), None),
    ("PotPlayer", False,
     version_resource((0, 0, 0, 0), [("040904b0", strings(ProductName="PotPlayer", CompanyName="Pot Co"))], [EN]),
     None),
    ("PotPlayer64", False,
     version_resource((1, 7, 21, 0), [("040904b0", strings(ProductName="PotPlayer", CompanyName="Pot Co"))], [EN]),
     None),
    ("GlyphClient", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="Glyph", CompanyName="Glyph Co"))], [EN]), None),
    ("GlyphClientApp", False,
     version_resource((3, 2, 1, 0), [("040904b0", strings(ProductName="Glyph", CompanyName="Glyph Co"))], [EN]), None),
    ("Grammarly", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="Grammarly", CompanyName="G Co",
                                                          ProductVersion="1.2.79"))], [EN]), None),
    ("Chrome", False,
     version_resource((0, 0, 0, 0), [("040904b0", strings(ProductName="Google Chrome", CompanyName="Gee"))], [EN]),
     None),
    ("Skype", False,
     version_resource((8, 5, 3, 9), [("040904b0", strings(ProductName="Talk", CompanyName="Skype Technologies"))],
                      [EN]), None),
    ("HiSuite", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="HiSuite", CompanyName="Hi Co"))], [EN]), None),
    ("Vuze", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="Vuze", CompanyName="Vu Co"))], [EN]), None),
    ("photoscape", False,
     version_resource((1, 0, 0, 0), [("040904b0", strings(ProductName="Photo", CompanyName="Ph Co"))], [EN]),
     b"..IDR_LANG_EN\0\0\0\0\0\0\x003.7.1\0\0\0\0\0photoscape.."),
    ("Advanced", False,
     version_resource((7, 1, 0, 0), [("040904b0", strings(ProductName="Advanced SystemCare", CompanyName="IO"))],
                      [EN]), None),
]

# ---------------------------------------------------------------------------------------------


def run(cmd):
    subprocess.run(cmd, check=True)


def build_dll(out, name, is64, resource, rcdata, tools):
    windres, ld = tools[is64]
    work = os.path.join(out, "work")
    os.makedirs(work, exist_ok=True)
    rc = os.path.join(work, name + ".rc")
    lines = []
    if resource is not None:
        with open(os.path.join(work, name + ".ver"), "wb") as f:
            f.write(resource)
        lines.append('1 16 "%s.ver"' % name)
    if rcdata is not None:
        with open(os.path.join(work, name + ".dat"), "wb") as f:
            f.write(rcdata)
        lines.append('2 10 "%s.dat"' % name)
    with open(rc, "w") as f:
        f.write("\n".join(lines) + "\n")
    obj = os.path.join(work, name + ".o")
    run([windres] + tools["pp"] + ["-I", work, rc, "-O", "coff", "-o", obj])
    run([ld, "--dll", "--entry=0", "-o", os.path.join(out, name + ".dll"), obj])


def damaged(out):
    with open(os.path.join(out, "full32.dll"), "rb") as f:
        good = f.read()
    lfanew = struct.unpack_from("<i", good, 60)[0]

    def patched(offset):
        b = bytearray(good)
        struct.pack_into("<i", b, 60, offset)
        return bytes(b)

    files = {
        "bad_mz_only.dll": b"MZ",
        "bad_truncated_dos.dll": good[:40],
        "bad_truncated_nt.dll": good[:lfanew + 100],  # ends inside the NT header block
        "bad_negative_lfanew.dll": patched(-8),
        "bad_huge_lfanew.dll": patched(0x7FFFFFF0),
        "bad_lfanew_at_end.dll": patched(len(good) - 4),  # "PE\0\0" there would still leave no header
        "bad_text.dll": b"This is only a text file.\r\n",
        "bad_empty.dll": b"",
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


def main():
    out, i686_windres, i686_ld, x64_windres, x64_ld, preprocessor = sys.argv[1:7]
    extra_rc = sys.argv[7:]
    os.makedirs(out, exist_ok=True)
    pp = ["--preprocessor=" + preprocessor, "--preprocessor-arg=-E", "--preprocessor-arg=-xc",
          "--preprocessor-arg=-DRC_INVOKED"]
    tools = {False: (i686_windres, i686_ld), True: (x64_windres, x64_ld), "pp": pp}
    for name, is64, resource, rcdata in ROWS:
        build_dll(out, name, is64, resource, rcdata, tools)
    damaged(out)
    # The program's own resources, linked as a PE32 image: same version resource, 32-bit.
    if extra_rc:
        rc, includes = extra_rc[0], extra_rc[1:]
        obj = os.path.join(out, "work", "VoltAtlas32.o")
        args = [i686_windres] + pp
        for inc in includes:
            args += ["-I", inc]
        run(args + ["-I", os.path.dirname(rc), rc, "-O", "coff", "-o", obj])
        run([i686_ld, "--dll", "--entry=0", "-o", os.path.join(out, "VoltAtlas32.dll"), obj])
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
