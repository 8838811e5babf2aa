#!/usr/bin/env python3
"""Checks, with pefile as an independent reader, what the identification test read.

The test writes one line per file: its Windows path, PE32 / PE32+ / NOTPE, the fixed file
version and the eight version strings as the reader returns them (tabs, line breaks and
backslashes escaped). For every file pefile reads, the PE kind, the fixed version and the
eight strings must agree, the strings after the same conversions the reader makes: the first
string table, else (when it names no file version, company or description) the table of the
first translation; ", " becomes "." in both version strings.
"""
import struct
import sys

import pefile

FIELDS = ["FileDescription", "CompanyName", "FileVersion", "InternalName", "LegalCopyright", "OriginalFilename",
          "ProductName", "ProductVersion"]


def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            out.append({"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}.get(s[i + 1], s[i + 1]))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def unix_path(windows_path):
    assert windows_path[:2].upper() == "Z:", windows_path
    return windows_path[2:].replace("\\", "/")


def lookup(entries, key):
    for k, v in entries:
        if k.lower() == key.lower():
            return v
    return ""


def expected_strings(pe):
    tables = []
    translation = None
    for file_info in getattr(pe, "FileInfo", []) or []:
        for entry in file_info:
            for st in getattr(entry, "StringTable", []) or []:
                tables.append((st.LangID.decode("latin-1"),
                               [(k.decode("utf-8", "replace"), v.decode("utf-8", "replace"))
                                for k, v in st.entries.items()]))
            for var in getattr(entry, "Var", []) or []:
                value = var.entry.get(b"Translation") if hasattr(var, "entry") else None
                if value and translation is None:
                    translation = value.split()[0] if isinstance(value, str) else None
    values = {f: "" for f in FIELDS}
    if tables:
        for f in FIELDS:
            values[f] = lookup(tables[0][1], f)
    if not (values["FileVersion"] or values["CompanyName"] or values["FileDescription"]):
        values = {f: "" for f in FIELDS}
        if translation:
            # pefile prints the translation as "0x0409 0x04b0"; the table key is "040904b0".
            lang, cp = [int(x, 16) for x in translation_pair(pe)]
            key = "%04x%04x" % (lang, cp)
            for lang_id, entries in tables:
                if lang_id.lower() == key:
                    for f in FIELDS:
                        values[f] = lookup(entries, f)
                    break
    for f in ("FileVersion", "ProductVersion"):
        values[f] = values[f].replace(", ", ".")
    return values


def translation_pair(pe):
    for file_info in pe.FileInfo:
        for entry in file_info:
            for var in getattr(entry, "Var", []) or []:
                value = var.entry.get(b"Translation")
                if value:
                    return value.split()[:2]
    return None


def main():
    lines = open(sys.argv[1], "rb").read().decode("cp1252", "replace").splitlines()
    checked = failures = rejected = 0
    for line in lines:
        cols = [unescape(c) for c in line.split("\t")]
        path, kind, fixed, ours = cols[0], cols[1], cols[2], dict(zip(FIELDS, cols[3:11]))
        unix = unix_path(path)
        data = open(unix, "rb").read()
        problems = []
        try:
            pe = pefile.PE(data=data, fast_load=True)
        except pefile.PEFormatError:
            rejected += 1
            if kind != "NOTPE":
                problems.append("pefile rejects it, we say %s" % kind)
        else:
            lfanew = pe.DOS_HEADER.e_lfanew
            whole_header = 0 <= lfanew and lfanew + 248 <= len(data)
            want_kind = ("PE32+" if pe.OPTIONAL_HEADER.Magic == 0x20B else "PE32") if whole_header else "NOTPE"
            if kind != want_kind:
                problems.append("kind %s, pefile %s" % (kind, want_kind))
            pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
            want_fixed = ""
            # A root value shorter than the 52-byte fixed block holds no version for us.
            root = getattr(pe, "VS_VERSIONINFO", None)
            short_root = bool(root) and root[0].ValueLength < 52
            if getattr(pe, "VS_FIXEDFILEINFO", None) and not short_root:
                f = pe.VS_FIXEDFILEINFO[0]
                want_fixed = "%d.%d.%d.%d" % (f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF,
                                              f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF)
            if fixed != want_fixed:
                problems.append("fixed version %r, pefile %r" % (fixed, want_fixed))
            want = expected_strings(pe)
            for field in FIELDS:
                try:
                    want_text = want[field].encode("cp1252").decode("cp1252")
                except UnicodeEncodeError:
                    continue  # not representable in the ANSI code page: nothing to compare
                if ours[field] != want_text:
                    problems.append("%s %r, pefile %r" % (field, ours[field], want_text))
            checked += 1
        if problems:
            failures += 1
            print("%s: %s" % (path, "; ".join(problems)))
    print("pefile: %d files compared, %d rejected by pefile, %d differ" % (checked, rejected, failures))
    if checked < 30:
        print("too few files were read: the test output is incomplete")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
