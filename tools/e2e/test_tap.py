"""The tap between a device and the program: transparent, and warning
exactly where the device breaks a rule. The device sits on its own port
(device-port in the test's folder) and the tap makes the program's COM1."""
import subprocess

from wine_env import DEVICE_TOOL


def warnings_by_device(tap):
    """The rules the tap's warnings name, a list for each device's arrival,
    leaving out no-fc (the program's timing, not a rule a device breaks)."""
    found = [[]]
    for entry in tap.record():
        if entry["event"] == "device-open":
            found.append([])
        found[-1] += [w.split(":")[0] for w in entry["warnings"] if not w.startswith("no-fc:")]
    return found


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
    expected = direct.messages("program")
    assert expected, "expected the program to answer the direct device, it sent nothing"
    assert tapped.messages("program") == expected, "expected the same answers through the tap"
    assert tap.messages("program") == expected, "expected the tap to record the program's side"
    assert tap.warnings() == [], "expected no warning from the tap"


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
    port = tmp_path / "device-port"
    # One device after another behind the tap, each breaking one rule.
    first = device("first", link=port)
    tap.start(port, link)
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
    warned = warnings_by_device(tap)[2:-1]  # before the first device; the first; the last
    assert warned == expected, "expected each device's one warning, in order"
    graded = subprocess.run([str(DEVICE_TOOL), "grade", str(tap.record_file)],
                            capture_output=True, text=True, timeout=60)
    assert graded.returncode == 1, \
        f"expected grade to exit 1 (warnings), it exited {graded.returncode}: {graded.stderr}"
    # Past the first line, which names what each reads, the two are alike.
    assert graded.stdout.splitlines()[1:] == tap.log.read_text().splitlines()[1:], \
        "expected the record, graded again, to give the live run's transcript and summary"


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
    assert tap.events("program-closed"), "expected the tap to see the port closed"
    opened = len(tap.events("program-open"))
    assert opened >= 2, f"expected the tap to see the port opened twice, it saw {opened}"


def test_through_a_paced_tap_at_the_lines_pace_everything_is_answered(
        device, program, tap, link, tmp_path):
    d = device(link=tmp_path / "device-port", line_rate=True)
    tap.start(tmp_path / "device-port", link, "--line-rate")
    run = program.start()
    d.steps("identify 40000", "text Hi", "query", "key enter", within_s=45)
    program.end(run)
    tap.stop()
    fcs = tap.messages("program").count("FC")
    assert fcs >= 3, f"expected the tap to see 3 FCs at least, it saw {fcs}"
    assert tap.warnings() == [], "expected no warning from the tap"
