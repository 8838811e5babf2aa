"""Reads the settings.ini files the foundation test exported with python's own INI reader and
compares them with the registry values the test wrote. Arguments: FILE:ENCODING ..., where
ENCODING is cp1252 (ANSI, no byte order mark) or utf-16 (UTF-16 LE with its mark)."""
import codecs
import configparser
import sys

EXPECTED = {
    "Settings": {
        "Other": "kept",  # was in the file before the export and stays
        "MinSysTray": "1",
        "Path": "C:\\Program Files\\Volt Atlas\\VoltAtlas.exe",
        "Western": "caf\u00e9",
    },
    "Settings_DWORD": {
        "Count": "7",
        "High": "-2147483648",  # 0x80000000 as a signed number
        "Max": "-1",
    },
}

failed = False
for arg in sys.argv[1:]:
    path, encoding = arg.rsplit(":", 1)
    with open(path, "rb") as f:
        data = f.read()
    if encoding == "utf-16":
        ok = data.startswith(codecs.BOM_UTF16_LE)
    else:
        ok = not data.startswith((codecs.BOM_UTF8, codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE))
    if not ok:
        print(path, "does not start as", encoding, "does:", data[:4])
        failed = True
        continue
    text = data[2:].decode("utf-16-le") if encoding == "utf-16" else data.decode(encoding)
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keep the names' case
    parser.read_string(text)
    found = {section: dict(parser[section]) for section in parser.sections()}
    if found != EXPECTED:
        print(path, "differs")
        print("expected:", EXPECTED)
        print("found:   ", found)
        failed = True
    else:
        print(path, "holds exactly the exported values in", encoding)
sys.exit(1 if failed else 0)
