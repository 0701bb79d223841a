"""Reads program_texts.txt: every text the program shows, written out once."""
from pathlib import Path

TABLE = Path(__file__).with_name("program_texts.txt")


def program_texts():
    """{name: (kind, text)}, with \\n and \\r made the characters they stand for."""
    texts = {}
    for number, line in enumerate(TABLE.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split(" | ", 2)
        if len(fields) != 3 or fields[1] not in ("string", "resource"):
            raise ValueError(f"{TABLE}:{number}: not 'name | string|resource | text'")
        texts[fields[0]] = (fields[1], fields[2].replace("\\n", "\n").replace("\\r", "\r"))
    return texts


def text(name):
    return program_texts()[name][1]
