#!/usr/bin/env python3
"""Runs the command lines that the documentation shows, so that a renamed
option, preset or script fails here instead of for the reader.

  tools/check-docs.py [FILE.md ...]   (default: README.md and docs/*.md)

A fenced block whose info string is "sh runnable" is run as it stands, from
the checkout's top folder, by bash with -euo pipefail; its output goes to
build/docs/<file>-<line>.log, with the device tool's folder first on the
PATH, as the pages tell their readers to have it. The other "sh" blocks hold commands that
cannot run here (a real adapter, Windows): for those, every option that a
talliver-device line names must be one its --help lists, and every CMake
preset named must exist. Needs the native build. Prints a line a block and
exits 1 when any block failed, or when there is nothing to check.
"""
import glob
import os
import re
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEVICE = os.path.join(TOP, "build/native/tools/device/talliver-device")
LOGS = os.path.join(TOP, "build/docs")
TIME_LIMIT_S = 600


def blocks(path):
    """(line number, info string, text) of each fenced block in a file."""
    found, info, start, lines = [], None, 0, []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fence = re.match(r"^```(.*)$", line.rstrip("\n"))
            if fence and info is None:
                info, start, lines = fence.group(1).strip(), number, []
            elif fence and fence.group(1) == "":
                found.append((start, info, "".join(lines)))
                info = None
            elif info is not None:
                lines.append(line)
    if info is not None:
        raise SystemExit(f"check-docs: {path}:{start}: a fenced block that never ends")
    return found


def run_block(name, text):
    os.makedirs(LOGS, exist_ok=True)
    env = dict(os.environ, PATH=os.path.dirname(DEVICE) + os.pathsep + os.environ["PATH"])
    log = os.path.join(LOGS, re.sub(r"[^A-Za-z0-9.-]", "_", name) + ".log")
    started = time.monotonic()
    with open(log, "w") as out:
        try:
            code = subprocess.run(["bash", "-euo", "pipefail", "-c", text], cwd=TOP, stdout=out,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  env=env, timeout=TIME_LIMIT_S).returncode
        except subprocess.TimeoutExpired:
            code = f"timeout after {TIME_LIMIT_S} s"
    return code, time.monotonic() - started, log


def presets():
    listed = subprocess.run(["cmake", "--list-presets=all"], cwd=TOP, capture_output=True,
                            text=True).stdout
    return set(re.findall(r'^\s+"([^"]+)"', listed, re.M))


def device_help():
    return subprocess.run([DEVICE, "--help"], capture_output=True, text=True).stdout


def check_shown(text, known_presets, help_text):
    """What is wrong with the commands of a block that cannot run here."""
    wrong = []
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        for preset in re.findall(r"--preset[ =](\S+)", line):
            if preset not in known_presets:
                wrong.append(f"no CMake preset '{preset}'")
        if os.path.basename(words[0]) == "talliver-device":
            for option in re.findall(r"(?<!\S)(--[a-z-]+)", line):
                if option not in help_text:
                    wrong.append(f"talliver-device has no option {option}")
    return wrong


def main(paths):
    if any(p in ("-h", "--help") for p in paths):
        print(__doc__.strip())
        return 0
    paths = [os.path.relpath(os.path.abspath(p), TOP) for p in paths] or \
        ["README.md"] + sorted(glob.glob("docs/*.md", root_dir=TOP))
    missing = [p for p in paths if not os.path.isfile(os.path.join(TOP, p))]
    if missing:
        print(f"check-docs: no such page: {', '.join(missing)}", file=sys.stderr)
        return 2
    os.chdir(TOP)
    known_presets, help_text = presets(), device_help()
    ran = checked = failed = 0
    for path in paths:
        for line, info, text in blocks(path):
            name = f"{path}:{line}"
            if info == "sh runnable":
                ran += 1
                code, seconds, log = run_block(name, text)
                if code == 0:
                    print(f"ok    {name} ran ({seconds:.0f} s)")
                    continue
                failed += 1
                print(f"FAIL  {name}: exit {code}; the end of {os.path.relpath(log, TOP)}:")
                with open(log) as f:
                    for tail in f.readlines()[-15:]:
                        print("      | " + tail.rstrip("\n"))
            elif info == "sh":
                checked += 1
                wrong = check_shown(text, known_presets, help_text)
                if wrong:
                    failed += 1
                    print(f"FAIL  {name}: " + "; ".join(wrong))
                else:
                    print(f"ok    {name} checked (cannot run here)")
    print(f"documented commands: {ran} blocks run, {checked} checked, {failed} failed")
    if ran == 0:
        print("check-docs: no runnable block found; is the marker still \"sh runnable\"?")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
