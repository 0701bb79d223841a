"""Unplugging, in real time: the harness closes its pty and removes the
link in the middle of typing, the program's stand-in loses its port and
tries it again once a second, and after the harness plugs in again the
firmware identifies and typing resumes."""
from simulator import NUM_LOCK, Program, Simulator, buttons_for

TEXT = "Hello, World!"


def test_typing_resumes_after_the_adapter_is_unplugged(tmp_path):
    sim = Simulator(str(tmp_path), paced=True)
    try:
        program = Program(sim)
        program.run(2400, buttons_for(TEXT[:7]))
        sim.step("unplug")
        program.run(1000, buttons_for(TEXT[7:10]))
        sim.step("plug")
        program.run(6000, buttons_for(TEXT[10:]))
        assert program.fd is not None, "the program has its port again"
        # The keystroke under way when the line went may be lost; never typed twice.
        assert program.typed in [TEXT] + [TEXT[:i] + TEXT[i + 1:] for i in range(len(TEXT))]
        assert program.typed.endswith("ld!"), "typing resumed"
        assert program.flags() == NUM_LOCK
        lost = [ms for ms, kind, _ in sim.trace if kind == "x"]
        assert lost, "the firmware kept sending while unplugged, and that was lost"
    finally:
        sim.kill()
