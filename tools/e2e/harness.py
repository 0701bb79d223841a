"""What the end-to-end tests drive: the device tool step by step, the
program under Wine, the key target window and the tap. Each class keeps the
processes it starts, and close() ends them; the fixtures in conftest.py call
it after every test, whatever happened.

A HarnessError means the test could not be carried out (a device that never
linked, a key target that never held the focus): it says nothing about the
program, and fails the run all the same. Any other failure is the product's.
"""
import json
import re
import shutil
import signal
import subprocess
from pathlib import Path

from wine_env import (DEVICE_TOOL, TOP, KeyTargetError, alive, await_link, stop, typed_text,
                      wait_until)


class HarnessError(Exception):
    """The test could not be carried out; nothing is known of the program."""


def tail(path, lines=25):
    """The last lines of a file, indented, for a failure message."""
    try:
        text = Path(path).read_text(errors="replace").replace("\r", "")
    except FileNotFoundError:
        return f"      ({path} was never written)"
    kept = text.rstrip("\n").split("\n")[-lines:]
    return "\n".join(f"      | {line}" for line in kept) if text.strip() else "      (empty)"


def require_link(link, process, what, errors):
    """Waits for the link a device or tap makes; a harness error when it never comes."""
    why = await_link(link, process, what, errors)
    if why:
        raise HarnessError(why)


# ---- The device ---------------------------------------------------------------

class Device:
    """The device tool in script mode, fed one step at a time on its standard
    input: each step runs as its line arrives, and the tool prints
    "step done: STEP" when it has passed. A step that fails ends the tool
    with its reason on standard error."""

    def __init__(self, folder, name, link, options=()):
        self.name = name
        self.transcript = folder / f"{name}.device"
        self.errors = folder / f"{name}.device-errors"
        with open(self.transcript, "w") as out, open(self.errors, "w") as err:
            self.process = subprocess.Popen(
                [str(DEVICE_TOOL), "--link", str(link), *options, "-"],
                stdin=subprocess.PIPE, stdout=out, stderr=err, text=True)
        self.sent = []
        require_link(link, self.process, f"the device '{name}'", self.errors)

    def send(self, step):
        """Starts a step and returns at once; done() waits for it."""
        try:
            self.process.stdin.write(step + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # the tool has ended; done() says why
        self.sent.append(step)

    def done(self, within_s=30):
        """Waits for the last step sent to pass."""
        __tracebackhide__ = True
        want = len(self.sent)
        if not wait_until(lambda: self._steps_done() >= want or not alive(self.process),
                          within_s):
            raise HarnessError(f"the device tool was still on step '{self.sent[-1]}' after "
                               f"{within_s} s without ending; the end of its transcript:\n"
                               + tail(self.transcript))
        if self._steps_done() < want:
            self.process.wait()
            raise AssertionError(f"the device's step '{self.sent[self._steps_done()]}' failed: "
                                 f"{self.reason()}; the end of its transcript:\n"
                                 + tail(self.transcript))

    def step(self, step, within_s=30):
        __tracebackhide__ = True
        self.send(step)
        self.done(within_s)

    def steps(self, *steps, within_s=30):
        __tracebackhide__ = True
        for s in steps:
            self.step(s, within_s)

    def finish(self, within_s=10):
        """Ends the script (end of input): the tool removes its link and exits 0."""
        __tracebackhide__ = True
        self.process.stdin.close()
        try:
            code = self.process.wait(within_s)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"the device '{self.name}' did not end within {within_s} s "
                               "of the end of its script") from None
        assert code == 0, (f"the device '{self.name}' ended with exit code {code}, expected 0: "
                           f"{self.reason()}")

    def reason(self):
        """The tool's last complaint on standard error."""
        lines = [l for l in self.errors.read_text(errors="replace").splitlines()
                 if l.startswith("talliver-device: ")]
        return lines[-1][len("talliver-device: "):] if lines else \
            f"no reason given (exit code {self.process.poll()})"

    def _steps_done(self):
        return self.transcript.read_text(errors="replace").count("\nstep done: ")

    def messages(self, side):
        """The messages from one side ("device" or "program") in order, each
        as its bytes in hex ("84 1E 41"). The one reader of the transcript's
        lines ("  TIME -> HEX  meaning" from the device, "<-" from the program)."""
        arrow = {"device": "->", "program": "<-"}[side]
        text = self.transcript.read_text(errors="replace")
        return re.findall(rf"^ *[\d.]+ {arrow} ([0-9A-F]{{2}}(?: [0-9A-F]{{2}})*)", text, re.M)

    def close(self):
        if self.process.stdin and not self.process.stdin.closed:
            try:
                self.process.stdin.close()
            except BrokenPipeError:
                pass
        stop(self.process, signal.SIGTERM, wait_s=3)


# ---- The reference firmware in the simulator -------------------------------------

AVR_SIM = TOP / "build/native/tools/avr-sim/avr-sim"
FIRMWARE = TOP / "build/native/avr/firmware/talliver-firmware.elf"
PIN_MAP = TOP / "build/native/avr/firmware/PINMAP.txt"


class Firmware:
    """The reference firmware on a simulated chip in real time, its UART a pty
    behind `port`, its buttons pressed by steps on the harness's standard
    input ("tap H"); the harness prints "step done: STEP (...)" after each."""

    def __init__(self, folder, port):
        missing = [str(p) for p in (AVR_SIM, FIRMWARE, PIN_MAP) if not p.exists()]
        if missing:
            raise HarnessError(f"no {', '.join(missing)}: build the native preset with simavr")
        self.transcript = folder / "firmware.log"
        self.errors = folder / "firmware.errors"
        with open(self.transcript, "w") as out, open(self.errors, "w") as err:
            self.process = subprocess.Popen(
                [str(AVR_SIM), "--link", str(port), "--pins", str(PIN_MAP), "--trace",
                 str(FIRMWARE)], stdin=subprocess.PIPE, stdout=out, stderr=err, text=True)
        self.sent = 0
        require_link(port, self.process, "the simulated device", self.errors)

    def steps(self, *steps, within_s=30):
        """Runs the steps in turn; each must be done within_s."""
        __tracebackhide__ = True
        for step in steps:
            self.process.stdin.write(step + "\n")
            self.process.stdin.flush()
            self.sent += 1
            if not wait_until(lambda: self._done() >= self.sent or not alive(self.process),
                              within_s):
                raise HarnessError(f"the simulator was still on '{step}' after {within_s} s")
            if self._done() < self.sent:
                raise HarnessError(f"the simulator ended on '{step}': "
                                   + self.errors.read_text(errors="replace").strip())

    def _done(self):
        return self.transcript.read_text(errors="replace").count("step done: ")

    def close(self):
        stop(self.process, signal.SIGTERM, wait_s=3)


# ---- The program ----------------------------------------------------------------

class ProgramRun:
    def __init__(self, process, log):
        self.process, self.log = process, log

    def exit_code(self, within_s=20):
        """The program's exit code; a failure when it has not exited within_s."""
        __tracebackhide__ = True
        try:
            return self.process.wait(within_s)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"expected the program to have exited within {within_s} s, "
                                 "it was still running") from None


class Program:
    """Starts the program under Wine, as many times as a test needs."""

    def __init__(self, wine, build, folder):
        self.wine, self.build, self.folder = wine, build, folder
        self.runs = []

    def start(self, *args, name="program", executable=None, skip_notice=True):
        __tracebackhide__ = True
        run = ProgramRun(self.wine.start([executable or self.build.program, *args],
                                         self.folder / f"{name}.log"),
                         self.folder / f"{name}.log")
        self.runs.append(run)
        if skip_notice:
            code, out = self.winctl("notice-ok")
            if code != 0:
                raise AssertionError(f"expected the start-up notice, saw none within 20 s "
                                     f"(winctl: {out or code}); the program "
                                     + ("is still running" if alive(run.process)
                                        else f"exited {run.process.poll()}"))
        return run

    def winctl(self, *args, timeout=30):
        return self.wine.winctl(self.build, *args, timeout=timeout)

    def close_window(self):
        """Asks the running program to close, as a user would."""
        __tracebackhide__ = True
        code, out = self.winctl("close")
        assert code == 0, f"expected the program's main window to close it, found none ({out})"

    def end(self, run):
        """Asks the program to close; it must exit with code 0."""
        __tracebackhide__ = True
        self.close_window()
        code = run.exit_code()
        assert code == 0, f"expected exit code 0 after the close request, got {code}"

    def close(self):
        """Whatever still runs is asked to close first, so that it releases
        the keys it holds, then stopped."""
        running = [run for run in self.runs if alive(run.process)]
        if running:
            self.winctl("close", timeout=10)
        for run in running:
            if not wait_until(lambda: not alive(run.process), 5):
                stop(run.process, signal.SIGKILL, wait_s=5)
            run.process.wait()


# ---- The key target ---------------------------------------------------------------

class KeyTarget:
    """A window that takes the keyboard focus and logs every key it receives."""

    def __init__(self, wine, build, folder):
        self.wine, self.build = wine, build
        self.log = folder / "target.log"
        self.process = None

    def start(self):
        try:
            self.process = self.wine.start_key_target(self.build, self.log)
        except KeyTargetError as e:
            raise HarnessError(str(e)) from None

    def lines(self):
        if not self.log.exists():
            return []
        return self.log.read_text(errors="replace").replace("\r", "").splitlines()

    def text(self):
        """The characters received, as one string (CR for Enter)."""
        return typed_text(self.log)

    def keys(self):
        """Key events received, as "KEYDOWN vk=41 scan=1E" strings."""
        return [line.split(" ", 1)[1] for line in self.lines()
                if re.match(r"^\d+ (SYS)?KEY(DOWN|UP) ", line)]

    def lost_focus_to(self):
        """The window that took the focus after the target was ready, or None."""
        ready = False
        for line in self.lines():
            ready = ready or line.endswith(" READY")
            if ready and " LOSTFOCUS " in line:
                return line.split(" LOSTFOCUS ", 1)[1]
        return None

    def close(self):
        if self.process:
            stop(self.process, signal.SIGTERM, wait_s=5)


# ---- The tap ----------------------------------------------------------------------

class Tap:
    """The tap between a device's port and the program's COM port. What
    crossed it is read from its record, one JSON object a line; its log, in
    words, is for a person reading a failure."""

    def __init__(self, folder):
        self.folder = folder
        self.process = None
        self.log, self.record_file = folder / "tap.log", folder / "tap.jsonl"

    def start(self, port, link, *options):
        with open(self.folder / "tap.errors", "w") as err:
            self.process = subprocess.Popen(
                [str(DEVICE_TOOL), "tap", "--port", str(port), "--link", str(link),
                 "--log", str(self.log), "--record", str(self.record_file), *options],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        require_link(link, self.process, "the tap", self.folder / "tap.errors")

    def stop(self):
        """Ends the run (as Ctrl+C does); its log then ends with the summary."""
        stop(self.process, signal.SIGINT, wait_s=5)

    def record(self):
        """The record's entries so far; a line still being written is left out."""
        text = self.record_file.read_text() if self.record_file.exists() else ""
        return [json.loads(line) for line in text.splitlines(keepends=True) if line.endswith("\n")]

    def messages(self, side):
        """The messages from one side ("device" or "program") in order, each
        as its bytes in hex ("84 1E 41")."""
        return [e["bytes"] for e in self.record() if e["event"] == "message" and e["dir"] == side]

    def events(self, name):
        return [e for e in self.record() if e["event"] == name]

    def warnings(self):
        """The rule each warning names, in order."""
        return [w.split(":")[0] for e in self.record() for w in e["warnings"]]

    def close(self):
        if self.process:
            self.stop()


def copy_program(build, folder):
    """A copy of the program in a folder of its own; its path."""
    folder.mkdir(parents=True, exist_ok=True)
    return Path(shutil.copy(build.program, folder / "qelmo.exe"))
