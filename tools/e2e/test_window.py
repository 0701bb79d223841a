"""The program's window: the key monitor, the restore guard, and its
messages while a device floods the line."""
import re
import time


def test_monitor_echoes_keys_and_restore_needs_shift(polling, program):
    d, run = polling
    # Right after start-up the minimised main window is active, so the keys
    # the program emulates reach its key monitor and go back out of the port.
    d.steps("key a", "expect 84 1E 41")
    code, plain = program.winctl("restore")
    assert plain == "iconic", f"expected a restore without Shift refused (iconic), got {plain!r}"
    d.steps("mods 03", "sleep 600")
    code, shifted = program.winctl("restore")
    d.steps("mods 00", "listen 400")
    assert shifted == "restored", f"expected a restore with Shift held allowed, got {shifted!r}"
    program.end(run)


def milliseconds(pattern, line):
    found = re.fullmatch(pattern, line)
    return int(found.group(1)) if found else None


CLOSE_INTO_PACED_FLOOD_S = 20
CLOSE_WITHIN_S = 8


def test_close_during_a_paced_query_flood(device, program, tmp_path):
    # The device sends a query every 1.15 ms, as 9600 8O1 carries them, and
    # takes the answers at the same pace: three bytes each, so they back up
    # and the program's writes wait. A close request 20 s in (the output has
    # long been full by then) must take effect within a generous bound; a
    # close takes about 2 s of Wine's own.
    d = device(line_rate=True)
    run = program.start()
    d.step("identify 40000", within_s=45)
    d.send("flood 60000 CC")
    time.sleep(CLOSE_INTO_PACED_FLOOD_S)
    code, closed = program.winctl("time-close", timeout=CLOSE_WITHIN_S + 2)
    (tmp_path / "close.answer").write_text(closed + "\n")
    gone = milliseconds(r"closed in (\d+) ms", closed)
    expected = (f"expected the window gone within {CLOSE_WITHIN_S} s of a close request "
                f"posted {CLOSE_INTO_PACED_FLOOD_S} s into the flood")
    assert code is not None, f"{expected}; it was still there {CLOSE_WITHIN_S + 2} s after"
    assert gone is not None and gone <= CLOSE_WITHIN_S * 1000, f"{expected}; winctl: {closed!r}"
    assert run.exit_code() == 0, "expected exit code 0 after the close"
