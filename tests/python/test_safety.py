"""However a script ends, the board ends safe: both laser gains zero and the SLM power off
(or left on when the script asked to keep it), seen in what the simulated card was last
told (its register log). And the card is one process's at a time: a second process is
refused with the holder's process id and program."""

import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import sorrel
from conftest import SORRELCTL, assert_left_safe, board_writes, python, wait_for_line

SCRIPT_PROGRAM = os.path.basename(sys.executable)

# A child that opens the board, powers it, runs a looped sequence with both lasers on, says
# so, and waits to be ended.
RUNNING = """
import sys, time, numpy as np, sorrel
board = sorrel.open_board({args})
board.set_run_parameters(frame_rate=100, laser_a_gain=200, laser_b_gain=150)
board.write_frame(0, np.full(board.spec.shape, 9, np.uint8))
board.power = True
board.run([0], loop=True)
{body}
"""


def child(trace, body="print('ready', flush=True); time.sleep(60)", args=""):
    env = dict(os.environ, SORREL_SIM_TRACE=str(trace))
    return python(RUNNING.format(body=body, args=args), env=env)


def assert_lasers_were_on(trace):
    writes = board_writes(trace)
    assert any(o == 0x10 and v & 0xFF == 200 for o, v in writes), "the lasers were never on: the test shows nothing"


def test_leaving_a_with_block_by_an_exception_ends_safely(work, monkeypatch):
    monkeypatch.setenv("SORREL_SIM_TRACE", str(work / "trace"))
    with pytest.raises(ZeroDivisionError):
        with sorrel.open_board() as board:
            board.set_run_parameters(laser_a_gain=200, laser_b_gain=150)
            board.power = True
            board.run([0], loop=True)
            1 / 0
    assert board.closed
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


def test_a_closed_board_raises_on_every_call(work):
    with sorrel.open_board() as board:
        pass
    assert board.closed
    assert board.close() == ""
    frame = np.zeros(board.spec.shape, np.uint8)
    for call in (lambda: board.write_frame(0, frame), lambda: board.select(0), lambda: board.run([0]),
                 lambda: board.status(), lambda: board.power, lambda: board.set_run_parameters(frame_rate=10),
                 lambda: board.stop(), lambda: board.true_frames):
        with pytest.raises(sorrel.Error, match="^The board is closed$"):
            call()
    assert board.spec.Width == 512


def test_an_interpreter_that_ends_with_the_board_open_closes_it_and_says_so(work):
    p = child(work / "trace", body="print('ending', flush=True)")
    out, err = p.communicate(timeout=60)
    assert p.returncode == 0, err
    assert b"sorrel: the board was still open at exit: lasers at zero gain, SLM power off" in err
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


@pytest.mark.parametrize("where", ["in a with block", "held in a variable"])
def test_sigterm_ends_the_interpreter_through_the_safe_end(work, where):
    body = ("print('ready', flush=True); time.sleep(60)" if where == "held in a variable" else
            "board.close()\nwith sorrel.open_board() as b:\n"
            "    b.set_run_parameters(laser_a_gain=200); b.power = True; b.run([0], loop=True)\n"
            "    print('ready', flush=True); time.sleep(60)")
    p = child(work / "trace", body=body)
    wait_for_line(p, "ready")
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 128 + signal.SIGTERM, err
    assert b"sorrel: ended by SIGTERM: lasers at zero gain, SLM power off" in err
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


def test_sighup_and_keep_power_leave_the_power_on_and_the_lasers_off(work):
    p = child(work / "trace", args="keep_power=True")
    wait_for_line(p, "ready")
    p.send_signal(signal.SIGHUP)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 128 + signal.SIGHUP, err
    assert b"sorrel: ended by SIGHUP: lasers at zero gain, SLM power left on" in err
    assert_left_safe(work / "trace", power_left_on=True)


def test_a_scripts_own_sigterm_handler_stays_its_own(work):
    code = ("import signal, time, sorrel\n"
            "seen = []\n"
            "signal.signal(signal.SIGTERM, lambda *a: seen.append(1))\n"
            "board = sorrel.open_board()\n"
            "board.power = True\n"
            "print('ready', flush=True)\n"
            "while not seen: time.sleep(0.01)\n"
            "print('handled', board.power, flush=True)\n")
    p = python(code, env=dict(os.environ, SORREL_SIM_TRACE=str(work / "trace")))
    wait_for_line(p, "ready")
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 0, err
    assert b"handled True" in out
    assert_left_safe(work / "trace")  # at exit, as any board left open


def test_a_forked_child_leaves_its_parents_board_alone(work):
    body = ("import os\n"
            "pid = os.fork()\n"
            "if pid == 0:\n"
            "    sys.exit(0)\n"
            "os.waitpid(pid, 0)\n"
            "print('after', board.power, board.status().running, flush=True)")
    p = child(work / "trace", body=body)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 0, err
    assert b"after True True" in out
    assert b"still open at exit" in err and err.count(b"still open at exit") == 1, "only the parent closes it"


def test_a_second_process_is_refused_naming_the_holder(work):
    holder = child(work / "trace")
    wait_for_line(holder, "ready")
    try:
        with pytest.raises(sorrel.CardBusy) as refused:
            sorrel.open_board()
        assert str(refused.value) == f"The card is held by process {holder.pid} ({SCRIPT_PROGRAM})"
        tool = subprocess.run([SORRELCTL, "status"], capture_output=True, text=True, timeout=60)
        assert tool.returncode == 1
        assert tool.stderr == f"sorrelctl: The card is held by process {holder.pid} ({SCRIPT_PROGRAM})\n"
    finally:
        holder.send_signal(signal.SIGTERM)
        holder.communicate(timeout=60)
    with sorrel.open_board() as board:  # free again once the holder has gone
        assert not board.closed


def test_a_script_is_refused_while_the_tool_holds_the_card(work):
    tool = subprocess.Popen([SORRELCTL, "power", "on", "--seconds", "30"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        wait_for_line(tool, "SLM power on")
        with pytest.raises(sorrel.CardBusy, match=rf"^The card is held by process {tool.pid} \(sorrelctl\)$"):
            sorrel.open_board()
    finally:
        tool.send_signal(signal.SIGINT)
        out, err = tool.communicate(timeout=60)
    assert tool.returncode == -signal.SIGINT
    assert err.endswith(b"sorrelctl: ended by SIGINT\nsorrelctl: lasers at zero gain, SLM power off\n")
