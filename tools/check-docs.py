#!/usr/bin/env python3
"""Runs the command lines that the documentation shows, and compares what
they print with what the page says they print, so that a renamed option,
preset or script, or a sample that has drifted, fails here instead of for
the reader.

  tools/check-docs.py [FILE.md ...]   (default: README.md and docs/*.md)

A fenced block whose info string is "sh runnable" is run as it stands, from
the checkout's top folder, by bash with -euo pipefail; its output (standard
output and standard error together, as a terminal shows them) goes to
build/docs/<file>-<line>.log, with the device tool's folder first on the
PATH, as the pages tell their readers to have it. The block must exit 0.

When the next fenced block, with nothing but blank lines between, has the
info string "output", it is what the runnable block prints, and the two are
compared line by line (trailing spaces and blank lines at the end aside).
In it, "…" within a line stands for any text in that line (a time, a pts
number, a figure that varies from run to run), and a line of only "…" for
any number of lines, none included. A block that prints something else
fails with a short diff. An "output" block that follows no runnable block
is an error too.

The other "sh" blocks hold commands that cannot run here (a real adapter,
Windows): for those, every option that a talliver-device line names must
be one its --help lists, and every CMake preset named must exist. Plain
blocks (no info string) are not checked: the page says where each comes
from. Needs the native build. Prints a line a block and exits 1 when any
block failed, or when there is nothing to check.
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


class Block:
    """A fenced block: where it starts and ends, its info string, its text,
    the block right before it (only blank lines between) and, once it has
    run, its log."""

    def __init__(self, start, end, info, text):
        self.start, self.end, self.info, self.text = start, end, info, text
        self.follows = self.log = None


def blocks(path):
    """The fenced blocks of a file, in order."""
    found, info, start, lines = [], None, 0, []
    with open(path, encoding="utf-8") as f:
        page = f.read().splitlines()
    for number, line in enumerate(page, 1):
        fence = re.match(r"^```(.*)$", line)
        if fence and info is None:
            info, start, lines = fence.group(1).strip(), number, []
        elif fence and fence.group(1) == "":
            found.append(Block(start, number, info, "".join(lines)))
            info = None
        elif info is not None:
            lines.append(line + "\n")
    if info is not None:
        raise SystemExit(f"check-docs: {path}:{start}: a fenced block that never ends")
    for before, after in zip(found, found[1:]):
        between = page[before.end:after.start - 1]
        if not any(line.strip() for line in between):
            after.follows = before
    return found


ANY_TEXT = "\u2026"  # "…": any text within a line; alone on a line, any lines


def line_matches(pattern, line):
    parts = [re.escape(part) for part in pattern.split(ANY_TEXT)]
    return re.fullmatch(".*".join(parts), line) is not None


def trimmed(text):
    lines = [line.rstrip() for line in text.splitlines()]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def compare(expected, actual):
    """The cheapest way to turn the page's sample into the run's lines: a list
    of (" ", "-" or "+", line), where " " is a sample line the run matched (a
    "…" line matches any number of lines), "-" one it did not print and "+"
    one it printed that the sample does not show."""
    n, m = len(expected), len(actual)
    # cost[i][j]: the fewest lines left unmatched between expected[i:] and actual[j:].
    cost = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n, -1, -1):
        for j in range(m, -1, -1):
            if i == n:
                cost[i][j] = m - j
            elif expected[i].strip() == ANY_TEXT:
                cost[i][j] = min(cost[i + 1][j], cost[i][j + 1] if j < m else cost[i + 1][j])
            else:
                options = [cost[i + 1][j] + 1]
                if j < m:
                    options.append(cost[i][j + 1] + 1)
                    if line_matches(expected[i], actual[j]):
                        options.append(cost[i + 1][j + 1])
                cost[i][j] = min(options)
    steps, i, j = [], 0, 0
    while i < n or j < m:
        if i < n and expected[i].strip() == ANY_TEXT:
            if j < m and cost[i][j] != cost[i + 1][j]:
                j += 1  # the "…" takes this line
            else:
                steps.append((" ", expected[i]))
                i += 1
        elif i < n and j < m and line_matches(expected[i], actual[j]) \
                and cost[i][j] == cost[i + 1][j + 1]:
            steps.append((" ", expected[i]))
            i, j = i + 1, j + 1
        elif i < n and cost[i][j] == cost[i + 1][j] + 1:
            steps.append(("-", expected[i]))
            i += 1
        else:
            steps.append(("+", actual[j]))
            j += 1
    return steps


def output_diff(expected_text, log):
    """None when the run printed what the page shows, else a short diff: the
    lines that differ, a line of context on either side."""
    expected = trimmed(expected_text)
    with open(log, encoding="utf-8", errors="replace") as f:
        actual = trimmed(f.read())
    steps = compare(expected, actual)
    changed = [k for k, (kind, _) in enumerate(steps) if kind != " "]
    if not changed:
        return None
    shown, last = [], None
    for k, (kind, line) in enumerate(steps):
        if any(abs(k - c) <= 1 for c in changed):
            if last is not None and k > last + 1:
                shown.append("...")
            shown.append((kind + " " + line).rstrip())
            last = k
    return shown if len(shown) <= 40 else shown[:38] + [f"... ({len(shown) - 38} more lines)"]


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
    ran = checked = compared = failed = 0
    for path in paths:
        for block in blocks(path):
            name = f"{path}:{block.start}"
            if block.info == "sh runnable":
                ran += 1
                code, seconds, log = run_block(name, block.text)
                if code != 0:
                    failed += 1
                    print(f"FAIL  {name}: exit {code}; the end of {os.path.relpath(log, TOP)}:")
                    with open(log, errors="replace") as f:
                        for tail in f.readlines()[-15:]:
                            print("      | " + tail.rstrip("\n"))
                    continue
                print(f"ok    {name} ran ({seconds:.0f} s)")
                block.log = log
            elif block.info == "output":
                runnable = block.follows
                if runnable is None or runnable.info != "sh runnable":
                    failed += 1
                    print(f"FAIL  {name}: an output block that follows no runnable block")
                    continue
                if runnable.log is None:
                    continue  # the run failed, and said so
                compared += 1
                diff = output_diff(block.text, runnable.log)
                if diff is None:
                    print(f"ok    {name} is what {path}:{runnable.start} printed")
                    continue
                failed += 1
                print(f"FAIL  {name}: {path}:{runnable.start} printed something else"
                      f" ({os.path.relpath(runnable.log, TOP)}):")
                for line in diff:
                    print(("      | " + line).rstrip())
            elif block.info == "sh":
                checked += 1
                wrong = check_shown(block.text, known_presets, help_text)
                if wrong:
                    failed += 1
                    print(f"FAIL  {name}: " + "; ".join(wrong))
                else:
                    print(f"ok    {name} checked (cannot run here)")
    print(f"documented commands: {ran} blocks run, {compared} outputs compared, {checked} checked,"
          f" {failed} failed")
    if ran == 0:
        print("check-docs: no runnable block found; is the marker still \"sh runnable\"?")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
