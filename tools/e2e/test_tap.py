"""The tap between a device and the program: transparent, and warning
exactly where the device breaks a rule. The device sits on its own port
(device-port in the test's folder) and the tap makes the program's COM1."""
import subprocess

from harness import program_side
from wine_env import DEVICE_TOOL


def warnings_by_device(tap_log):
    """The warnings of a tap's transcript, a list for each device's arrival,
    leaving out no-fc (the program's timing, not a rule a device breaks)."""
    found = [[]]
    for line in tap_log.splitlines():
        words = line.split()
        if "device port open" in line:
            found.append([])
        elif len(words) > 3 and words[1] == "!!" and words[3] != "no-fc:":
            found[-1].append(words[3].rstrip(":"))
    return found


def warning_lines(text):
    """The lines with a warning, from the first port event on."""
    start = text.find("device port open")
    return [line for line in text[start:].splitlines() if " !! " in line]


def test_through_the_tap_the_program_answers_as_without_it(device, program, tap, link, tmp_path):
    script = ["query", "mods 40", "sleep 600", "expect-flags 40", "mods 00", "sleep 600", "key a",
              "text Hi", "listen 600"]
    direct = device("direct")
    run = program.start(name="direct")
    direct.step("identify 40000", within_s=45)
    direct.steps(*script)
    program.end(run)
    direct.finish()

    tapped = device("tapped", link=tmp_path / "device-port")
    tap.start(tmp_path / "device-port", link)
    run = program.start(name="tapped")
    tapped.step("identify 40000", within_s=45)
    tapped.steps(*script)
    program.end(run)
    tap.stop()
    expected = direct.program_side()
    assert expected, "expected the program to answer the direct device, it sent nothing"
    assert tapped.program_side() == expected, "expected the same answers through the tap"
    assert program_side(tap.log) == expected, "expected the tap to print the program's side as sent"
    assert " warning " not in tap.text(), "expected no warning from the tap"


BROKEN_RULES = [  # (the device's steps, the one warning they must raise)
    (["raw 04 1E 41"], "header-bit7"),
    (["raw 84 9E 41"], "data-bit7"),
    (["raw 84 1E", "sleep 300", "raw 41"], "incomplete"),
    (["raw 80 00 00"], "ignored-command"),
    (["raw C4"], "one-byte-data"),
    (["raw 84 1E 41 84 30 42"], "key-before-fc"),
    (["raw 88 00 02", "sleep 300", "raw 88 00 00"], "one-shift-bit"),
]


def test_the_tap_warns_of_each_broken_rule_and_grades_its_record_alike(
        device, program, tap, link, tmp_path):
    port, record = tmp_path / "device-port", tmp_path / "tap.jsonl"
    # One device after another behind the tap, each breaking one rule.
    first = device("first", link=port)
    tap.start(port, link, "--record", record)
    run = program.start()
    first.steps("identify 40000", "listen 300", within_s=45)
    first.finish()
    for i, (steps, _) in enumerate(BROKEN_RULES):
        breaker = device(f"rule{i + 1}", link=port)
        breaker.steps("sleep 800", *steps, "listen 800")
        breaker.finish()
    last = device("last", link=port)
    last.step("sleep 800")
    program.end(run)
    last.finish()
    tap.stop()

    expected = [[rule] for _, rule in BROKEN_RULES]
    warned = warnings_by_device(tap.text())[2:-1]  # before the first device; the first; the last
    assert warned == expected, "expected each device's one warning, in order"
    graded = subprocess.run([str(DEVICE_TOOL), "grade", str(record)], capture_output=True,
                            text=True, timeout=60)
    assert graded.returncode == 1, \
        f"expected grade to exit 1 (warnings), it exited {graded.returncode}: {graded.stderr}"
    assert warning_lines(graded.stdout) == warning_lines(tap.text()), \
        "expected the record, graded again, to give the live run's warnings"
    summary = [[line for line in text.splitlines() if line.startswith("tap: warnings:")]
               for text in (graded.stdout, tap.text())]
    assert summary[0] == summary[1], "expected the same summary of warnings from the record"


def test_the_tap_goes_on_when_the_program_restarts(device, program, tap, link, tmp_path):
    d = device(link=tmp_path / "device-port")
    tap.start(tmp_path / "device-port", link)
    first = program.start(name="first")
    d.steps("identify 40000", "listen 300", within_s=45)
    program.end(first)
    second = program.start(name="second")
    d.step("identify 20000", within_s=25)
    program.end(second)
    tap.stop()
    log = tap.text()
    assert "the program closed its port" in log, "expected the tap to see the port closed"
    opened = log.count("the program opened its port")
    assert opened >= 2, f"expected the tap to see the port opened twice, it saw {opened}"


def test_through_a_paced_tap_at_the_lines_pace_everything_is_answered(
        device, program, tap, link, tmp_path):
    d = device(link=tmp_path / "device-port", line_rate=True)
    tap.start(tmp_path / "device-port", link, "--line-rate")
    run = program.start()
    d.steps("identify 40000", "text Hi", "query", "key enter", within_s=45)
    program.end(run)
    tap.stop()
    fcs = tap.text().count("<- FC ")
    assert fcs >= 3, f"expected the tap to see 3 FCs at least, it saw {fcs}"
    assert " warning " not in tap.text(), "expected no warning from the tap"
