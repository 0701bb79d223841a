"""The firmware in the simulator, unpaced, against a stand-in for the
program. Simulated time passes only in the stand-in's steps, so every
time-out lands where the firmware puts it, to the millisecond."""
import re

import pytest

from simulator import CAPS_LOCK, NUM_LOCK, Program, Simulator, buttons_for


@pytest.fixture
def sim(tmp_path):
    simulator = Simulator(str(tmp_path))
    yield simulator
    simulator.kill()


def identifies(sim):
    """When each identify came that was not part of a query (CC D4)."""
    messages = sim.device_messages()
    return [ms for (ms, m), (_, before) in zip(messages, [(0, b"")] + messages)
            if m == b"\xD4" and before != b"\xCC"]


@pytest.mark.parametrize("locks", [CAPS_LOCK | NUM_LOCK, NUM_LOCK], ids=["caps-on", "caps-off"])
def test_types_as_written_whatever_caps_lock_once_the_program_answers(sim, locks):
    program = Program(sim, flags=locks, silent_ms=11000)
    program.run(200, ["r"])  # older than 3 s when the program answers: dropped
    program.run(9000)
    program.run(10000, buttons_for("Hello, World!") + ["undo"])
    assert program.typed == "Hello, World!<ctrl+Z>"
    assert program.flags() == locks, "every modifier up afterwards"
    assert program.lock_presses == 0, "no lock key pressed"
    times = identifies(sim)
    first_keystroke = next(ms for ms, m in sim.device_messages() if m[0] & 0xFC == 0x84)
    assert times[0] < 2 and 11000 < first_keystroke < 11300
    assert [round(b - a) for a, b in zip(times, times[1:])] == [1000] * 11
    assert times[-1] < first_keystroke, "no identify of its own once answered"


def test_sleeps_while_idle(sim):
    Program(sim).run(5000)
    asleep = float(re.search(r"asleep ([\d.]+) %", sim.quit()).group(1))
    assert asleep > 80
