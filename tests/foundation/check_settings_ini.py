"""Reads the settings.ini the foundation test exported with python's own INI reader and
compares it with the registry values the test wrote."""
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

parser = configparser.ConfigParser(interpolation=None, strict=True)
parser.optionxform = str  # keep the names' case
with open(sys.argv[1], encoding="cp1252") as f:
    parser.read_file(f)

found = {section: dict(parser[section]) for section in parser.sections()}
if found != EXPECTED:
    print("settings.ini differs")
    print("expected:", EXPECTED)
    print("found:   ", found)
    sys.exit(1)
print("settings.ini holds exactly the exported values")
