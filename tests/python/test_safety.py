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
from conftest import REG_TIMING_A, SORRELCTL, assert_left_safe, board_writes, python, wait_for_line

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
    assert p.returncode == -signal.SIGTERM, err
    assert b"sorrel: ended by SIGTERM: lasers at zero gain, SLM power off" in err
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


# The board opened, powered and run with both lasers on by a thread of the script, which
# then holds it; the main thread does what main says.
THREADED = """
import threading, time, numpy as np, sorrel
def hold():
    board = sorrel.open_board()
    board.set_run_parameters(frame_rate=100, laser_a_gain=200, laser_b_gain=150)
    board.power = True
    board.run([0], loop=True)
    print('ready', flush=True)
    while True:
        time.sleep(0.05)
thread = threading.Thread(target=hold)
thread.start()
{main}
"""


@pytest.mark.parametrize("main", ["thread.join()", "pass  # the interpreter waits for the thread as it ends"])
def test_sigterm_makes_a_board_a_thread_holds_safe(work, main):
    p = python(THREADED.format(main=main), env=dict(os.environ, SORREL_SIM_TRACE=str(work / "trace")))
    wait_for_line(p, "ready")
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=60)
    assert p.returncode == -signal.SIGTERM, err
    assert err == b"sorrel: ended by SIGTERM: lasers at zero gain, SLM power off\n"
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


def test_a_forked_worker_that_ends_by_os_exit_leaves_its_board_safe(work):
    code = ("import multiprocessing, sorrel\n"
            "def work():\n"
            "    global board  # still open when the worker ends\n"
            "    board = sorrel.open_board()\n"
            "    board.set_run_parameters(laser_a_gain=200)\n"
            "    board.power = True\n"
            "worker = multiprocessing.get_context('fork').Process(target=work)\n"
            "worker.start()\n"
            "worker.join()\n"
            "print('worker', worker.exitcode, flush=True)\n")
    p = python(code, env=dict(os.environ, SORREL_SIM_TRACE=str(work / "trace")))
    out, err = p.communicate(timeout=60)
    assert (p.returncode, out) == (0, b"worker 0\n"), err
    assert err == b"sorrel: the board was still open at exit: lasers at zero gain, SLM power off\n"
    assert_lasers_were_on(work / "trace")
    assert_left_safe(work / "trace")


def test_sighup_and_keep_power_leave_the_power_on_and_the_lasers_off(work):
    p = child(work / "trace", args="keep_power=True")
    wait_for_line(p, "ready")
    p.send_signal(signal.SIGHUP)
    out, err = p.communicate(timeout=60)
    assert p.returncode == -signal.SIGHUP, err
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


def test_a_forked_child_neither_uses_nor_keeps_its_parents_board(work):
    code = f"""
import multiprocessing, os, subprocess, sorrel
board = sorrel.open_board()
board.set_run_parameters(laser_a_gain=200)
board.power = True

def tries(_=None):
    said = []
    for call in (lambda: board.set_run_parameters(laser_a_gain=77), sorrel.open_board):
        try:
            call()
            said.append('acted')
        except sorrel.Error as e:
            said.append(str(e).replace(str(os.getppid()), 'PARENT'))
    return said

with multiprocessing.get_context('fork').Pool(1) as pool:
    print(*pool.map(tries, [0])[0], sep='\\n', flush=True)
    board.close(keep_power=True)  # parked, and still this process's
    reader, writer = os.pipe()
    if os.fork() == 0:
        os.write(writer, tries()[1].encode())
        os._exit(0)
    os.close(writer)
    print(os.read(reader, 4096).decode(), flush=True)
    sorrel.open_board().close()
    untraced = {{k: v for k, v in os.environ.items() if k != 'SORREL_SIM_TRACE'}}
    status = subprocess.run([{str(SORRELCTL)!r}, 'status'], capture_output=True, text=True, env=untraced)
    print('another process:', status.returncode, status.stderr.strip(), flush=True)
"""
    p = python(code, env=dict(os.environ, SORREL_SIM_TRACE=str(work / "trace")))
    out, err = p.communicate(timeout=60)
    assert p.returncode == 0, err
    opened = ("The board was opened by process PARENT, from which this process was forked; "
              "a forked process cannot use it")
    held = "The card was open in process PARENT when this process was forked from it; a forked process cannot use it"
    assert out.decode().splitlines() == [opened, held, held,
                                         "another process: 0 sorrelctl: lasers at zero gain, SLM power off"]
    assert not any(o == REG_TIMING_A and v & 0xFF == 77 for o, v in board_writes(work / "trace"))
    assert_lasers_were_on(work / "trace")


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
