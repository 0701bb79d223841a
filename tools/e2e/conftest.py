"""Fixtures of the end-to-end tests: the real program under Wine, its COM1 on
the device tool's pty, keys landing in a real window.

  wine        the Wine set-up, started once for the session
  exe         the build under test, which names the round: `-k win64` picks
              it; the rounds are chosen in the conftest.py at the top
  link        this test's COM1: a path in its own folder, which Wine's COM1 leads to
  device      device(name="device", link=None, line_rate=False): the device tool, step by step
  program     program.start(*args): the program under Wine, its notice skipped
  polling     (device, run): a device on COM1 and the program answering it
  key_target  key_target.start(): a window holding the keyboard focus, logging keys
  tap         tap.start(port, link, *options): the tap between a device and the program;
              what crossed it, from its record: messages(side), events(name), warnings()
  firmware    firmware(port): the reference firmware in the simulator, behind port

Each test gets a folder of its own (tmp_path, build/wine/e2e/ROUND/TEST) for
its link, logs and files, and each fixture ends what it started: the program is
asked to close first, so that it releases the keys it holds, then stopped.
Raise HarnessError where a test cannot be carried out; any other failure
is the program's.
"""
import sys
from pathlib import Path

import pytest

sys.path[:0] = [str(Path(__file__).parent), str(Path(__file__).parents[1] / "wine")]
from harness import Device, Firmware, HarnessError, KeyTarget, Program, Tap  # noqa: E402
from wine_env import TOP, Build, Wine, WineError  # noqa: E402


@pytest.fixture
def tmp_path(request, tmp_path_factory):
    """This test's own folder, made fresh: build/wine/e2e/ROUND/TEST."""
    round_id = request.node.callspec.id if hasattr(request.node, "callspec") else "once"
    path = tmp_path_factory.getbasetemp() / round_id / request.node.originalname
    path.mkdir(parents=True)
    return path


@pytest.fixture(scope="session")
def wine():
    if not TOP.joinpath("build/native/tools/device/talliver-device").exists():
        raise HarnessError("no device tool: build the native preset first")
    w = Wine()
    try:
        w.up()
    except WineError as e:
        w.down()
        raise HarnessError(str(e)) from None
    yield w
    w.down()


@pytest.fixture(scope="session")
def exe(request, wine):
    build = Build(request.param)
    missing = build.missing()
    if missing:
        raise HarnessError(f"the {build.name} build lacks {', '.join(missing)}: "
                           f"build the {build.name} preset whole")
    return build


@pytest.fixture
def link(wine, exe, tmp_path):
    """This test's COM1, inside its folder, so that nothing an earlier test
    left can answer for it; COM2 to COM9 cannot be opened."""
    path = tmp_path / "com1"
    wine.reset_ports(path)
    return path


@pytest.fixture
def device(link, tmp_path):
    started = []

    def start(name="device", link=link, line_rate=False):
        d = Device(tmp_path, name, link, ["--line-rate"] if line_rate else [])
        started.append(d)
        return d
    yield start
    for d in started:
        d.close()


@pytest.fixture
def program(wine, exe, link, tmp_path):
    p = Program(wine, exe, tmp_path)
    yield p
    p.close()


@pytest.fixture
def polling(device, program):
    """A device on COM1 and the program, which has answered its identify."""
    d = device()
    run = program.start()
    d.step("identify 40000", within_s=45)
    return d, run


@pytest.fixture
def key_target(wine, exe, tmp_path):
    t = KeyTarget(wine, exe, tmp_path)
    yield t
    t.close()


@pytest.fixture
def tap(tmp_path):
    t = Tap(tmp_path)
    yield t
    t.close()


@pytest.fixture
def firmware(tmp_path):
    started = []

    def start(port):
        f = Firmware(tmp_path, port)
        started.append(f)
        return f
    yield start
    for f in started:
        f.close()
