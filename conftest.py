"""How pytest runs the end-to-end tests of tools/e2e (their fixtures are in
tools/e2e/conftest.py): the rounds, where each test's folder goes, and the
third verdict. It sits at the top of the tree because pytest reads command
line options and early hooks only from here when it is run without paths.

  --rounds "win64 win64"   the builds to run, a round each (default: every
                           build this machine runs, the 32-bit release first)
  --min-rounds N           repeat the builds' rounds until there are N

A test ends with one of three verdicts: passed; failed (the program did not
do what the test names); or HARNESS (the test could not be carried out: a
device that never linked, a key target that never held the focus or lost
it), which says nothing about the program and fails the run all the same.
"""
import sys
from pathlib import Path

import pytest

sys.path[:0] = [str(Path(__file__).parent / "tools/e2e"), str(Path(__file__).parent / "tools/wine")]
from harness import HarnessError, KeyTarget  # noqa: E402
from wine_env import WORK, runnable_builds  # noqa: E402


def pytest_addoption(parser):
    group = parser.getgroup("talliver", "end-to-end rounds")
    group.addoption("--rounds", default="",
                    help="the builds to run, one round each, e.g. 'win64 win64' "
                         "(default: every build this machine runs)")
    group.addoption("--min-rounds", type=int, default=1,
                    help="repeat the builds' rounds until there are this many")


SUITE = Path(__file__).parent / "tools/e2e"


def runs_the_suite(config):
    """Whether this run is of the end-to-end tests (other suites in the tree
    run pytest too, and keep its defaults)."""
    paths = [config.invocation_params.dir / a.split("::")[0] for a in config.args]
    return bool(paths) and all(p.resolve().is_relative_to(SUITE) for p in paths)


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    # The tests' folders, a fresh tree for each run, where the logs are looked for.
    if runs_the_suite(config) and not config.option.basetemp:
        config.option.basetemp = str(WORK / "e2e")


def rounds_of(config):
    builds, why_not = runnable_builds()
    wanted = config.getoption("--rounds").split()
    for name in wanted:
        if name not in builds:
            raise pytest.UsageError(f"cannot run a {name} round here: {why_not or 'no such build'}")
    rounds = wanted or list(builds)
    if not wanted:
        while len(rounds) < config.getoption("--min-rounds"):
            rounds += builds
    # The round is the parameter: the first of a build is named for it, a
    # repeat gets its number ("win64", "win64-round2").
    return [(name, name if rounds[:i].count(name) == 0 else f"{name}-round{i + 1}")
            for i, name in enumerate(rounds)]


def pytest_generate_tests(metafunc):
    if "exe" in metafunc.fixturenames:
        rounds = rounds_of(metafunc.config)
        metafunc.parametrize("exe", [name for name, _ in rounds], ids=[i for _, i in rounds],
                             indirect=True, scope="session")


def pytest_report_header(config):
    if not runs_the_suite(config):
        return []
    builds, why_not = runnable_builds()
    lines = ["rounds: " + " ".join(i for _, i in rounds_of(config))]
    if why_not:
        lines.append(f"not run on win32 (the i686 release): {why_not}")
    return lines


# ---- The third verdict -----------------------------------------------------------

@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    if not report.failed or call.excinfo is None:
        return
    if call.excinfo.errisinstance(HarnessError):
        report.harness = True
        report.longrepr = f"HARNESS: {call.excinfo.value}"
        return
    # Keys that went to another window say nothing about the program.
    target = item.funcargs.get("key_target") if hasattr(item, "funcargs") else None
    thief = target.lost_focus_to() if isinstance(target, KeyTarget) else None
    if thief:
        report.harness = True
        report.longrepr = (f"HARNESS: the key target lost the focus to {thief}, so the keys "
                           f"went elsewhere; what failed then:\n{report.longrepr}")


@pytest.hookimpl(tryfirst=True)
def pytest_report_teststatus(report, config):
    if getattr(report, "harness", False):
        return "harness", "H", "HARNESS"
    return None


def pytest_terminal_summary(terminalreporter):
    harness = terminalreporter.stats.get("harness", [])
    if harness:
        terminalreporter.section("harness errors: these tests could not be carried out")
        for report in harness:
            terminalreporter.line(f"{report.nodeid} ({report.when}):")
            terminalreporter.line(str(report.longrepr))
