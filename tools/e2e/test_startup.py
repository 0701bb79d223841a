"""Start-up: which port the program takes, what it says when it cannot, and
how it ends."""
import re
import sys
import time

from harness import copy_program
from wine_env import TOP

sys.path.insert(0, str(TOP / "tests"))
from program_texts import text  # noqa: E402


def test_no_free_port_shows_one_box_and_exits_4(wine, program, link):
    link.symlink_to(wine.no_port)  # a directory: COM1 cannot be opened
    run = program.start(skip_notice=False)
    code, box = program.winctl("msgbox")
    assert (box, run.exit_code()) == (text("no free port"), 4), \
        f"expected the box {text('no free port')!r} and exit code 4"


def test_port_that_cannot_be_set_up_exits_3(program, link):
    link.symlink_to("/dev/null")  # opens, but takes no line settings
    run = program.start(skip_notice=False)
    assert run.exit_code() == 3, "expected exit code 3"


def test_command_tail_picks_com9_and_the_notice_names_it(wine, device, program):
    wine.point_port(9, wine.com_link)
    d = device()
    run = program.start("port9", skip_notice=False)
    time.sleep(3)  # into the countdown, which the notice runs alone
    code, notice = program.winctl("notice-text")
    lines = notice.splitlines()
    first = text("notice").split("\n")[0].replace("#", "9")
    assert lines[:1] == [first], f"expected the notice to begin {first!r}, it read {notice!r}"
    assert re.fullmatch(r"\[0:0\d\]", lines[-1]), \
        f"expected a countdown between [0:00] and [0:09] last, it read {notice!r}"
    d.step("identify 40000", within_s=45)
    program.end(run)


def test_a_digit_in_the_programs_path_picks_no_port(wine, exe, device, program, tmp_path):
    # COM9 opens but cannot be set up: picking it from the path would exit 3.
    wine.point_port(9, "/dev/null")
    copy = copy_program(exe, tmp_path / "copy 9")
    d = device()
    run = program.start(executable=copy)
    d.step("identify 40000", within_s=45)
    program.end(run)


def test_end_of_session_is_answered_1_and_ends_the_program(polling, program):
    d, run = polling
    code, answer = program.winctl("endsession")
    assert answer == "1", f"expected WM_QUERYENDSESSION answered 1, got {answer!r}"
    assert run.exit_code() == 0, "expected exit code 0 at the end of the session"


def test_a_new_device_behind_the_same_port_is_answered(device, program):
    # The first device goes (its pty closes, as an unplugged adapter's port
    # fails) and a new one appears behind the same COM port.
    first = device("first")
    run = program.start()
    first.steps("identify 40000", "listen 300", within_s=45)
    first.finish()
    time.sleep(1)
    again = device("again")
    again.step("identify 10000", within_s=15)
    program.end(run)
