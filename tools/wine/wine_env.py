#!/usr/bin/python3
"""The one Wine set-up that the end-to-end tests, the demo, the benchmarks
and the screenshots share: a private prefix whose COM1 is a link that a
device points at its pty, COM2 to COM9 mapped to a directory (which cannot
be opened), a virtual display, and a persistent wineserver.

From Python:   wine = Wine(); wine.up(); ...; wine.down()
From bash:     eval "$(/usr/bin/python3 tools/wine/wine_env.py up)"   (prints exports)
               /usr/bin/python3 tools/wine/wine_env.py down
               /usr/bin/python3 tools/wine/wine_env.py target LOG [BUILD]
               /usr/bin/python3 tools/wine/wine_env.py target-text LOG
               /usr/bin/python3 tools/wine/wine_env.py await-link LINK PID LOG

Facts this relies on (measured on Debian 12, Wine 8):
- At a cold start Wine maps COM1 to /dev/ttyS0, the kernel console here,
  unless HKLM\\Software\\Wine\\Ports says otherwise; the key takes effect
  only at the next cold start of the wineserver.
- A wineserver that wine starts by itself takes the pty as its controlling
  terminal and floods its stderr when the device side closes: start it
  ourselves, persistent, in its own session, with stderr to a file.
- Wine's helper processes keep the first wine call's standard output open:
  wine's output goes to files, never through a pipe.
- Where 32-bit code does not run, Debian's wine wrapper fails even for
  64-bit programs once wine32 is installed: every Wine command then goes
  through the 64-bit loader, and only the x86-64 build runs.
"""
import functools
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
WORK = Path(os.environ.get("TALLIVER_WINE_DIR", TOP / "build/wine"))
DEVICE_TOOL = TOP / "build/native/tools/device/talliver-device"
LINK_WITHIN_S = 5
STATE_FILE = "wine-env.pids"  # in WORK: the processes a bash caller's `up` left running


class WineError(Exception):
    """Wine could not be set up here; the message says why."""


class Build:
    """One Windows build: the program and the test helpers built with it."""

    def __init__(self, name):
        self.name = name
        folder = TOP / "build" / name
        self.program = folder / "qelmo.exe"
        self.winctl = folder / "tools/win/winctl.exe"
        self.keytarget = folder / "tools/win/keytarget.exe"

    def missing(self):
        """The files of this build that are not there."""
        return [str(p) for p in (self.program, self.winctl, self.keytarget) if not p.exists()]


def why_not_32bit():
    """Why 32-bit Wine cannot run here, or "" when it can. The probe is the
    one tools/setup.sh uses, so that both decide alike."""
    probe = subprocess.run(
        ["bash", "-c", 'source tools/wine-arch.sh && probe_32bit && printf %s "$WINE32_WHY_NOT"'],
        cwd=TOP, capture_output=True, text=True)
    why = probe.stdout
    if not why and not os.access("/usr/lib/wine/wine", os.X_OK):
        why = "32-bit Wine (wine32:i386) is not installed"
    return why


@functools.lru_cache(maxsize=None)
def runnable_builds():
    """The builds this machine can run, the 32-bit release first, and why
    the 32-bit one is left out ("" when it is not)."""
    why = why_not_32bit()
    return (("win64",) if why else ("win32", "win64")), why


class Wine:
    def __init__(self, work=WORK):
        self.work = Path(work)
        self.builds, self.why_not_32bit = runnable_builds()
        self.com_link = self.work / "com1"  # Wine's COM1 leads here; a test points it further
        self.no_port = self.work / "no-port"  # a directory: a port mapped to it cannot be opened
        self.prefix = self.work / ("prefix64" if self.why_not_32bit else "prefix")
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), TMPDIR=str(self.work / "tmp"),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if self.why_not_32bit:
            self.env["PATH"] = str(self._loader_wrappers()) + os.pathsep + self.env["PATH"]
        self.display = None
        self.xvfb = self.wineserver = None  # Popen, or a pid left by an earlier `up`

    # ---- Up and down -----------------------------------------------------

    def up(self, detach=False):
        """Starts the display and the wineserver, creating the prefix the
        first time. detach: the processes outlive this one (for bash)."""
        for folder in (self.work, self.work / "tmp", self.no_port):
            folder.mkdir(parents=True, exist_ok=True)
        code = self.run(["wine", "--version"], self.work / "wine-version.log", timeout=60)
        if code != 0:
            raise WineError(f"Wine cannot start: 'wine --version' exits {code}")
        self._start_display(detach)
        if not (self.prefix / "system.reg").exists():
            log(f"creating the Wine prefix {self.prefix} (about half a minute)")
            code = self.run(["wineboot", "-i"], self.work / "wineboot.log", timeout=300)
            if code != 0:
                raise WineError(f"creating the Wine prefix failed (exit {code}); "
                                f"see {self.work / 'wineboot.log'}")
            self.run(["wineserver", "-w"], self.work / "wineboot.log", timeout=120, append=True)
        self._map_ports()
        self.wineserver = self._spawn(["wineserver", "-p", "-f"], self.work / "wineserver.log",
                                      detach)
        time.sleep(0.3)
        self.run(["wine", "cmd", "/c", "exit"], self.work / "wine-cmd.log", timeout=60)
        com1 = os.readlink(self.prefix / "dosdevices/com1")
        if com1 != str(self.com_link):
            raise WineError(f"Wine's COM1 is {com1}, not {self.com_link}")
        version = (self.work / "wine-version.log").read_text().strip()
        log(f"{version}, display {self.display}, builds {' '.join(self.builds)}")
        if self.why_not_32bit:
            log(f"64-bit Wine only, running the x86-64 build: {self.why_not_32bit}")

    def down(self):
        self.run(["wineserver", "-k"], self.work / "wineserver-stop.log", timeout=30)
        stop(self.wineserver, signal.SIGTERM, wait_s=10)
        stop(self.xvfb, signal.SIGTERM, wait_s=5)
        self.wineserver = self.xvfb = None

    def _loader_wrappers(self):
        """wine, wineboot and winepath that go through the 64-bit loader."""
        folder = self.work / "wine64-bin"
        folder.mkdir(parents=True, exist_ok=True)
        scripts = {"wine": 'WINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"'}
        for tool in ("wineboot", "winepath"):
            scripts[tool] = f'exec "{folder}/wine" {tool} "$@"'
        for name, body in scripts.items():
            path = folder / name
            path.write_text(f"#!/bin/sh\n{body}\n")
            path.chmod(0o755)
        return folder

    def _start_display(self, detach):
        for n in range(90, 121):
            if Path(f"/tmp/.X{n}-lock").exists():
                continue
            xvfb = self._spawn(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                               self.work / "xvfb.log", detach)
            if wait_until(lambda: Path(f"/tmp/.X11-unix/X{n}").exists() or not alive(xvfb), 5) \
                    and alive(xvfb):
                self.xvfb, self.display = xvfb, f":{n}"
                self.env["DISPLAY"] = self.display
                return
            stop(xvfb, signal.SIGTERM, wait_s=2)
        raise WineError(f"no display could be started; see {self.work / 'xvfb.log'}")

    def _map_ports(self):
        ports = {1: self.com_link, **{n: self.no_port for n in range(2, 10)}}
        if self._ports_mapped(ports):
            return
        reg = self.work / "ports.reg"
        reg.write_text("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n" + "".join(
            f'"COM{n}"="{target}"\n' for n, target in ports.items()))
        code = self.run(["wine", "reg", "import", self.windows_path(reg)], self.work / "ports.log",
                        timeout=60)
        if code != 0:
            raise WineError(f"the ports could not be mapped (exit {code}); "
                            f"see {self.work / 'ports.log'}")
        # The key is read at a cold start of the wineserver only.
        self.run(["wineserver", "-k"], self.work / "ports.log", timeout=30, append=True)
        self.run(["wineserver", "-w"], self.work / "ports.log", timeout=30, append=True)

    def _ports_mapped(self, ports):
        """Whether the prefix's registry already maps the ports so."""
        try:
            text = (self.prefix / "system.reg").read_text(errors="replace")
        except FileNotFoundError:
            return False
        start = text.find("\n[Software\\\\Wine\\\\Ports]")
        section = text[start:text.find("\n\n", start)] if start >= 0 else ""
        return all(f'"COM{n}"="{target}"' in section for n, target in ports.items())

    def _spawn(self, args, log_path, detach):
        with open(log_path, "w") as out:
            return subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, start_new_session=detach)

    # ---- Running Windows programs ------------------------------------------

    def start(self, args, out):
        """A Wine command in the background, its output to the file out."""
        with open(out, "w") as f:
            return subprocess.Popen(["wine", *map(str, args)], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)

    def run(self, args, out, timeout, append=False):
        """A command in Wine's environment, its output to the file out; its
        exit code, or None when it did not end within timeout seconds (it is
        then stopped)."""
        with open(out, "a" if append else "w") as f:
            process = subprocess.Popen(list(map(str, args)), env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=f,
                                       stderr=subprocess.STDOUT)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            stop(process, signal.SIGKILL, wait_s=5)
            return None

    def winctl(self, build, *args, timeout=30):
        """Runs the window helper: (exit code or None, its output as plain lines)."""
        with tempfile.NamedTemporaryFile(dir=self.work / "tmp", suffix=".winctl") as out:
            code = self.run(["wine", build.winctl, *args], out.name, timeout)
            # Wine's console ends lines with CR LF.
            return code, Path(out.name).read_text(errors="replace").replace("\r", "").strip()

    def windows_path(self, path):
        """The path as a Windows program in this prefix names it (drive Z: is /)."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def point_port(self, n, target):
        """Points COMn of the prefix at target, from now on."""
        replace_link(self.prefix / f"dosdevices/com{n}", target)

    def reset_ports(self, com1_target):
        """COM1 leads to com1_target; COM2 to COM9 cannot be opened."""
        replace_link(self.com_link, com1_target)
        for n in range(2, 10):
            self.point_port(n, self.no_port)

    def start_key_target(self, build, log_path, within_s=15):
        """Starts the key target window logging to log_path and returns its
        process once it holds the foreground and the keyboard focus. Raises
        KeyTargetError saying why when it does not."""
        process = self.start([build.keytarget, self.windows_path(log_path)],
                             Path(str(log_path) + ".wine"))
        log_file = Path(log_path)

        def settled():
            text = log_file.read_text(errors="replace") if log_file.exists() else ""
            return " READY" in text or "NOFOCUS" in text or not alive(process)
        wait_until(settled, within_s)
        text = log_file.read_text(errors="replace").replace("\r", "") if log_file.exists() else ""
        if " READY" in text:
            # Taking the focus makes Wine bring its lock keys into line with
            # the X server's a moment later, which would undo a lock key
            # that a test switches in that moment.
            time.sleep(LOCK_RESYNC_S)
            return process
        stop(process, signal.SIGKILL, wait_s=5)
        for line in text.splitlines():
            if "NOFOCUS" in line:
                raise KeyTargetError("the key target never got the keyboard focus: "
                                     + line.split(" ", 1)[1])
        raise KeyTargetError(f"the key target did not start within {within_s} s "
                             f"(its log: {text.strip() or 'empty'})")


LOCK_RESYNC_S = 0.5


class KeyTargetError(Exception):
    pass


def typed_text(log_path):
    """The characters a key target received, as one string (CR for Enter)."""
    text = Path(log_path).read_text(errors="replace") if Path(log_path).exists() else ""
    return "".join(chr(int(code, 16)) for code in re.findall(r"^\d+ CHAR (..)\r?$", text, re.M))


# ---- Small helpers ----------------------------------------------------------

def log(text):
    print(f"wine-env: {text}", file=sys.stderr, flush=True)


def wait_until(done, within_s, every_s=0.02):
    """Tries done() until it holds or within_s seconds have passed; whether it held."""
    end = time.monotonic() + within_s
    while not done():
        if time.monotonic() >= end:
            return False
        time.sleep(every_s)
    return True


def alive(process):
    """Whether a Popen, or a pid, is still running."""
    if process is None:
        return False
    if isinstance(process, int):
        # A child that has exited but is not yet reaped (a bash caller's
        # device) is a zombie: no longer running.
        try:
            return Path(f"/proc/{process}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
        except (OSError, IndexError):
            return False
    return process.poll() is None


def stop(process, sig, wait_s):
    """Ends a process this set-up started (a Popen or a pid): the signal,
    then SIGKILL if it is still there after wait_s seconds."""
    if not alive(process):
        if isinstance(process, subprocess.Popen):
            process.wait()
        return
    pid = process if isinstance(process, int) else process.pid
    for s in (sig, signal.SIGKILL):
        try:
            os.kill(pid, s)
        except ProcessLookupError:
            return
        if isinstance(process, subprocess.Popen):
            try:
                process.wait(wait_s)
                return
            except subprocess.TimeoutExpired:
                continue
        if wait_until(lambda: not alive(pid), wait_s):
            return


def await_link(link, process, what, errors):
    """Waits for the link a device or tap makes (process: a Popen or a pid);
    "" once it is there, else why it never came (errors: the process's output)."""
    if wait_until(lambda: os.path.islink(link) or not alive(process), LINK_WITHIN_S) \
            and os.path.islink(link):
        return ""
    why = Path(errors).read_text(errors="replace").strip()
    return (f"expected {what} to make the link {link} within {LINK_WITHIN_S} s; "
            + (f"it exited: {why}" if not alive(process) else "it had not, and still runs"))


def replace_link(link, target):
    link = Path(link)
    if link.is_symlink() or link.exists():
        link.unlink()
    link.symlink_to(target)


# ---- For bash callers ---------------------------------------------------------

def shell_up():
    wine = Wine()
    try:
        wine.up(detach=True)
    except WineError as e:
        log(str(e))
        wine.down()
        return 1
    (wine.work / STATE_FILE).write_text(f"{wine.wineserver.pid} {wine.xvfb.pid}\n")
    exports = {name: wine.env[name] for name in
               ("WINEPREFIX", "TMPDIR", "WINEDEBUG", "WINEDLLOVERRIDES", "DISPLAY", "PATH")}
    exports.update(WORK=str(wine.work), COM_LINK=str(wine.com_link), NO_PORT=str(wine.no_port),
                   WINE_BUILDS=" ".join(wine.builds), WINE32_WHY_NOT=wine.why_not_32bit,
                   WINESERVER_PID=str(wine.wineserver.pid), DEVICE=str(DEVICE_TOOL))
    for name, value in exports.items():
        print(f"export {name}='{value}'")
    return 0


def shell_down():
    wine = Wine()
    state = wine.work / STATE_FILE
    if state.exists():
        wine.wineserver, wine.xvfb = (int(pid) for pid in state.read_text().split())
        state.unlink()
    wine.down()
    return 0


def shell_target(log_path, build_name=None):
    wine = Wine()
    wine.env = dict(os.environ)  # the environment that `up` exported
    build = Build(build_name or wine.builds[0])
    try:
        process = wine.start_key_target(build, log_path)
    except KeyTargetError as e:
        print(e, file=sys.stderr)
        return 1
    print(process.pid)
    return 0


def main(argv):
    if argv[:1] == ["up"] and len(argv) == 1:
        return shell_up()
    if argv[:1] == ["down"] and len(argv) == 1:
        return shell_down()
    if argv[:1] == ["target"] and len(argv) in (2, 3):
        return shell_target(*argv[1:])
    if argv[:1] == ["target-text"] and len(argv) == 2:
        print(typed_text(argv[1]), end="")
        return 0
    if argv[:1] == ["await-link"] and len(argv) == 4:
        why = await_link(argv[1], int(argv[2]), "the device tool", argv[3])
        if why:
            log(why)
        return 1 if why else 0
    print(__doc__.split("\n\n")[1], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
