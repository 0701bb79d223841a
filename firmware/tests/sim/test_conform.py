"""The conformance run of the device tool against the firmware in the
simulator, in real time: every rule is to pass (a pty has no line errors,
so that rule is left out)."""
import os
import re
import signal
import subprocess
import time

from simulator import AVR_SIM, ELF, PIN_MAP, buttons_for

DEVICE = os.environ.get("TALLIVER_DEVICE", "build/native/tools/device/talliver-device")
SECONDS = 12


def test_conform_passes_every_rule(tmp_path):
    link = str(tmp_path / "com1")
    with open(tmp_path / "avr-sim.log", "w") as log:
        sim = subprocess.Popen([AVR_SIM, "--link", link, "--pins", PIN_MAP, ELF],
                               stdin=subprocess.PIPE, stdout=log)
    try:
        for _ in range(50):
            if os.path.islink(link):
                break
            time.sleep(0.1)
        # A press every 350 ms: more than the firmware can type, throughout.
        taps = "".join(f"tap {b}\nwait 250\n" for b in buttons_for("Hello, World! ") * 3)
        sim.stdin.write(taps.encode())
        sim.stdin.flush()
        run = subprocess.run([DEVICE, "conform", "--port", link, "--seconds", str(SECONDS),
                              "--record", str(tmp_path / "conform.jsonl")],
                             capture_output=True, text=True, timeout=SECONDS + 30)
        print(run.stdout, run.stderr)
        grades = re.findall(r"^(PASS|FAIL|NOT GRADED)  (\S+):", run.stdout, re.M)
        assert [rule for _, rule in grades] == ["forms", "header-bit7", "data-bit7", "gaps",
                                                "waits-for-fc", "withheld-fc", "reopen", "query-flood"]
        assert all(grade == "PASS" for grade, _ in grades), run.stdout
        assert run.returncode == 0
    finally:
        sim.send_signal(signal.SIGTERM)
        assert sim.wait(timeout=10) == 0
    assert not os.path.lexists(link), "the harness removes its link when it ends"
