#!/usr/bin/python3
"""Checks a built qelmo.exe without running it; the Windows builds' CTest
runs one check a test.

  check_executable.py CHECK EXE

  imports          imports only GDI32, KERNEL32, USER32 and msvcrt; subsystem
                   version 4.0, which Windows 95 and NT 4 run; no debug sections
  manifest         a manifest that runs it as invoker, naming Vista to 10/11
  texts            every text of program_texts.txt, as written there
  notice           the notice's OK button and countdown lie inside it, and
                   OK is its default button (Enter's, drawn as such)
  windows95-calls  every imported function is one that Windows 95 and NT 4
                   have: listed, after a check by hand, in release-imports.txt
  size             at most 24 KiB, the release's budget

Prints what differs and exits 1 when a check fails; 2 for a bad call.
"""
import struct
import sys
from pathlib import Path

from program_texts import program_texts

HERE = Path(__file__).parent
SIZE_BUDGET = 24 * 1024
DLLS = ["GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"]
SUPPORTED_OS_IDS = [  # Vista, 7, 8, 8.1, 10 and 11
    "e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]
AS_INVOKER = '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
RT_DIALOG, RT_MANIFEST = 5, 24
NOTICE, NOTICE_COUNTDOWN, IDOK = 400, 402, 1
BUTTON_CLASS, BS_DEFPUSHBUTTON, DS_SETFONT = 0x80, 1, 0x40


class PortableExecutable:
    """The parts of a PE file these checks read: sections, the subsystem
    version, the import table and the resource tree."""

    def __init__(self, data):
        self.data = data
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE executable")
        sections, optional_size = self.u16(pe + 6), self.u16(pe + 20)
        optional = pe + 24
        self.pe32_plus = self.u16(optional) == 0x20B
        self.subsystem_version = (self.u16(optional + 48), self.u16(optional + 50))
        directories = optional + (112 if self.pe32_plus else 96)
        self.directory = [(self.u32(directories + 8 * i), self.u32(directories + 8 * i + 4))
                          for i in range(self.u32(directories - 4))]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(size, raw_size), raw))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} is in no section")

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def section(self, name):
        for n, _, size, raw in self.sections:
            if n == name:
                return self.data[raw:raw + size]
        return b""

    def imports(self):
        """(DLL in capitals, function name) for every import by name."""
        found = []
        at = self.offset(self.directory[1][0])
        thunk_size, ordinal_bit = (8, 1 << 63) if self.pe32_plus else (4, 1 << 31)
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                return found
            dll = self.c_string(name).upper()
            thunk = self.offset(lookup or first_thunk)
            while True:
                entry = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if entry == 0:
                    break
                if not entry & ordinal_bit:
                    found.append((dll, self.c_string(entry + 2)))  # after the hint
                thunk += thunk_size
            at += 20

    def resource(self, type_id, name_id):
        """The data of the first language of a resource given by numbers."""
        base_rva = self.directory[2][0]
        base = self.offset(base_rva)

        def entry(directory, wanted):
            named, numbered = self.u16(directory + 12), self.u16(directory + 14)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if wanted is None or ident == wanted:
                    return target
            return None
        level = base
        for wanted in (type_id, name_id, None):
            target = entry(level, wanted)
            if target is None:
                return None
            level = base + (target & 0x7FFFFFFF)
        rva, size = struct.unpack_from("<II", self.data, level)
        return self.data[self.offset(rva):self.offset(rva) + size]


def check_imports(exe):
    dlls = sorted({dll for dll, _ in exe.imports()})
    debug = [name for name, _, _, _ in exe.sections if name.startswith(".debug")]
    wrong = []
    if dlls != DLLS:
        wrong.append(f"imports from {' '.join(dlls)}, expected {' '.join(DLLS)}")
    if exe.subsystem_version != (4, 0):
        wrong.append("subsystem version %d.%d, expected 4.0" % exe.subsystem_version)
    if debug:
        wrong.append(f"debug sections {' '.join(debug)}, expected none (stripped)")
    return wrong


def check_manifest(exe):
    manifest = (exe.resource(RT_MANIFEST, 1) or b"").decode("utf-8", "replace")
    if not manifest:
        return ["no manifest (resource type 24, id 1), expected one"]
    wrong = [] if AS_INVOKER in manifest else [f"expected {AS_INVOKER} in the manifest"]
    missing = [i for i in SUPPORTED_OS_IDS if f'<supportedOS Id="{{{i}}}"/>' not in manifest]
    if missing:
        wrong.append(f"expected all {len(SUPPORTED_OS_IDS)} supportedOS ids, "
                     f"missing {' '.join(missing)}")
    return wrong


def check_texts(exe):
    data, resources = exe.data, exe.section(".rsrc")
    wrong = []
    for name, (kind, text) in program_texts().items():
        if kind == "string":
            found = (b"\0" + text.encode("latin-1") + b"\0") in data
        else:
            found = (text.encode("utf-16-le") + b"\0\0") in resources
        if not found:
            where = "strings" if kind == "string" else "resources"
            wrong.append(f"expected the {name} among its {where} as written, {text!r}; "
                         "it is not there")
    return wrong


def dialog_items(template):
    """(width, height) of a dialog template and its controls, each as
    (id, class ordinal or name, style, x, y, width, height)."""
    at = 0

    def words(n, fmt="h"):
        nonlocal at
        values = struct.unpack_from(f"<{n}{fmt}", template, at)
        at += 2 * n
        return values

    def name_or_ordinal():
        first = words(1, "H")[0]
        if first == 0xFFFF:
            return words(1, "H")[0]
        text = ""
        while first:
            text, first = text + chr(first), words(1, "H")[0]
        return text
    style = struct.unpack_from("<I", template)[0]
    at = 8
    count, _, _, width, height = words(5)
    name_or_ordinal(), name_or_ordinal(), name_or_ordinal()  # menu, class, title
    if style & DS_SETFONT:
        words(1), name_or_ordinal()
    items = []
    for _ in range(count):
        at = (at + 3) & ~3
        item_style = struct.unpack_from("<I", template, at)[0]
        at += 8
        x, y, w, h, ident = words(5)
        kind = name_or_ordinal()
        name_or_ordinal()
        extra = words(1, "H")[0]  # creation data, skipped
        at += extra
        items.append((ident & 0xFFFF, kind, item_style, x, y, w, h))
    return (width, height), items


def check_notice(exe):
    template = exe.resource(RT_DIALOG, NOTICE)
    if not template:
        return ["no notice dialog (resource type 5, id 400), expected one"]
    (width, height), items = dialog_items(template)
    wrong = [f"control {i} at {x},{y} size {w}x{h} runs outside the {width}x{height} notice"
             for i, _, _, x, y, w, h in items
             if i in (IDOK, NOTICE_COUNTDOWN) and (x + w > width or y + h > height)]
    defaults = [i for i, kind, style, *_ in items
                if kind == BUTTON_CLASS and style & 0xF == BS_DEFPUSHBUTTON]
    if defaults != [IDOK]:
        wrong.append(f"default buttons {defaults}, expected OK ({IDOK}) alone")
    return wrong


def check_windows95_calls(exe):
    listed = set()
    for line in (HERE / "release-imports.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            dll, function = line.split()
            listed.add((dll, function))
    new = sorted(set(exe.imports()) - listed)
    return [f"imports {dll} {function}, not known to be in Windows 95 and NT 4: check it, "
            f"then add it to tests/release-imports.txt" for dll, function in new]


def check_size(exe):
    size = len(exe.data)
    return [] if size <= SIZE_BUDGET else [f"{size} bytes, over the {SIZE_BUDGET}-byte budget"]


CHECKS = {"imports": check_imports, "manifest": check_manifest, "texts": check_texts,
          "notice": check_notice,
          "windows95-calls": check_windows95_calls, "size": check_size}


def main(argv):
    if len(argv) != 2 or argv[0] not in CHECKS:
        print(__doc__, file=sys.stderr)
        return 2
    path = Path(argv[1])
    try:
        exe = PortableExecutable(path.read_bytes())
        wrong = CHECKS[argv[0]](exe)
    except (OSError, ValueError, struct.error) as e:
        print(f"check_executable: {path}: {e}", file=sys.stderr)
        return 2
    for line in wrong:
        print(f"{path}: {line}")
    if not wrong:
        print(f"{path}: {argv[0]}: as expected")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
