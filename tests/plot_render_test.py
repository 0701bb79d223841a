#!/usr/bin/env python3
"""plot's pictures as a real SVG renderer (rsvg-convert) draws them: each
renders, every message's mark lies in its lane at the x for its time, each
warning is red at its time, and nothing lies where nothing happened, in a
flood's density too. (What a long record costs is bench/plot_flood's.)
    plot_render_test.py TALLIVER-DEVICE TEST-DATA-FOLDER"""
import json
import os
import re
import subprocess
import sys
import tempfile
import zlib

TOOL, DATA = sys.argv[1], sys.argv[2]


def png_rows(png, rows):
    """The first `rows` pixel rows of an 8-bit RGB or RGBA PNG, each a list of (R, G, B)."""
    width, height = int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")
    assert png[24] == 8 and png[25] in (2, 6), "expected an 8-bit RGB or RGBA picture"
    n = 3 if png[25] == 2 else 4
    data, at = b"", 8
    while at < len(png):
        size, kind = int.from_bytes(png[at:at + 4], "big"), png[at + 4:at + 8]
        data += png[at + 8:at + 8 + size] if kind == b"IDAT" else b""
        at += size + 12
    raw, stride, out, prior = zlib.decompress(data), width * n, [], bytearray(width * n)
    for r in range(min(rows, height)):
        kind, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a, b, c = line[i - n] if i >= n else 0, prior[i], prior[i - n] if i >= n else 0
            p = a + b - c
            line[i] = (line[i] + (0, a, b, (a + b) // 2,
                                  a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c)
                                  else b if abs(p - b) <= abs(p - c) else c)[kind]) & 0xFF
        out.append([tuple(line[i:i + 3]) for i in range(0, stride, n)])
        prior = line
    return width, height, out


def flood(path, messages):
    """A query flood as a tap records it: a query every 1.5 ms, an answer every 3.4 ms."""
    with open(path, "w") as f:
        def put(us, event, **more):
            f.write(json.dumps({"us": us, "event": event, **more}, separators=(",", ":")) + "\n")
        put(0, "start", mode="tap", port="/dev/ttyUSB0", link="com1", seconds=0,
            marks_line_errors=False)
        put(100, "program-open")
        q, a = 1000, 3400
        for _ in range(messages):
            device = q <= a
            put(q if device else a, "message", dir="device" if device else "program",
                bytes="CC" if device else "88 00 20", byte_us=[q] if device else [a] * 3)
            q, a = (q + 1500, a) if device else (q, a + 3400)
        put(max(q, a), "end")


def check(name, record, window, folder):
    """Draws the record and renders it; what is not where the record says, a line each."""
    svg, png = os.path.join(folder, "p.svg"), os.path.join(folder, "p.png")
    plot = subprocess.run([TOOL, "plot", record, "--out", svg, *window],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if plot.returncode != 0:
        return [f"{name}: plot failed: {plot.stderr}"]
    text = open(svg).read()
    scale = {k: int(v) for k, v in re.findall(r'data-([a-z-]+)="(-?\d+)"', text)}
    rendered = subprocess.run(["rsvg-convert", svg, "-o", png], capture_output=True, text=True)
    if rendered.returncode != 0:
        return [f"{name}: rsvg-convert failed: {rendered.stderr}"]
    width, _, rows = png_rows(open(png, "rb").read(), scale["program-y"] + 4)
    left, right, t0, t1 = scale["left"], scale["right"], scale["from-us"], scale["to-us"]
    at = lambda us: left + (us - t0) * (right - left) / (t1 - t0)
    marks = {"device": [], "program": [], "warnings": []}
    lines = [json.loads(line) for line in open(record)]
    for e in lines:
        if e["event"] == "message":
            marks[e["dir"]].append(e["us"])
        if e.get("warnings"):
            marks["warnings"].append(e["byte_us"][-1] if e["event"] == "message" else e["us"])
    # Lines drawn through every lane at an event or a warning are no message's.
    crossed = {int(at(us)) + d for us in [e["us"] for e in lines if e["event"] not in ("message", "end")]
               + marks["warnings"] for d in (-1, 0, 1)}
    red = lambda p: p[0] > 150 and p[1] < 110 and p[2] < 110
    dark = lambda p: 0.3 * p[0] + 0.59 * p[1] + 0.11 * p[2] < 180
    faults = []
    for lane, y, seen in (("device", scale["device-y"] - 3, dark),
                          ("program", scale["program-y"] + 3, dark),
                          ("warnings", scale["warnings-y"], red)):
        row = rows[y]
        xs = [at(us) for us in marks[lane] if t0 <= us <= t1]
        near = {int(x) + d for x in xs for d in range(-2, 3)}
        for x in xs:
            if not any(seen(row[i]) for i in range(int(x) - 1, int(x) + 2)):
                faults.append(f"{name}: no {lane} mark at x {x:.1f} ({(t0 + (x - left) * (t1 - t0) / (right - left)) / 1000:.1f} ms)")
        for i in range(left, min(right, width)):
            if i not in near and (lane == "warnings" or i not in crossed) and seen(row[i]):
                faults.append(f"{name}: a {lane} mark at x {i}, where the record has none")
    return faults


with tempfile.TemporaryDirectory() as folder:
    flooded = os.path.join(folder, "flood.jsonl")
    flood(flooded, 30000)
    faults = []
    for name, record, window in (
            ("tap, with warnings", os.path.join(DATA, "tap-warnings.jsonl"), []),
            ("conformance run", os.path.join(DATA, "conform-pass.jsonl"), []),
            ("script mode", os.path.join(DATA, "script.jsonl"), []),
            ("a window of it", os.path.join(DATA, "conform-pass.jsonl"), ["--from", "2000", "--to", "5000"]),
            ("a flood", flooded, [])):
        faults += check(name, record, window, folder)
    print("\n".join(faults[:20]) or "every mark where the record says")
    sys.exit(1 if faults else 0)
