"""Sorrel from scripts: the system's pattern composition and its SLM board.

    import sorrel
    phase = sorrel.zernike({"Power": 1.5}, board="kite")      # a 512 x 512 uint8 array
    with sorrel.open_board() as board:                       # the card is this process's
        board.write_frame(0, phase)
        board.select(0)
        board.power = True

The board opens as Sorrel opens it, with the settings store's modulator type, true frames
and run parameters. However the script ends (the with block left, an exception, the
interpreter exiting, SIGTERM or SIGHUP), the board is closed safely: any run stopped, both
laser gains zero, and the SLM power off unless open_board(keep_power=True) was asked.
"""

import atexit
import signal
import sys
import threading
import weakref

from ._core import (ZERNIKE_KEYS, Board, BoardSpec, CardBusy, Error, RunStatus, SorrelWarning, compose,
                    read_sequence, zernike)
from ._core import _open_board

__all__ = ["ZERNIKE_KEYS", "Board", "BoardSpec", "CardBusy", "Error", "RunStatus", "SorrelWarning", "compose",
           "open_board", "read_sequence", "zernike"]

_boards = weakref.WeakSet()  # boards opened and maybe not closed yet


def open_board(modulator_type=None, true_frames=None, keep_power=False):
    """Opens the SLM board. modulator_type ("amplitude", "phase", 0 or 1) and true_frames
    default to the settings store's. keep_power=True leaves the SLM power as it is when the
    board is closed without saying otherwise. Raises CardBusy when another process holds
    the card, Error when no usable board comes up."""
    _end_safely_on_signals()
    board = _open_board(modulator_type, true_frames, keep_power)
    _boards.add(board)
    return board


def _close_open_boards(why):
    for board in list(_boards):
        left = board.close()
        if left:
            print(f"sorrel: {why}: {left}", file=sys.stderr)


def _end_by_signal(signum, frame):
    # The boards are made safe first; SystemExit then unwinds the script as a normal end.
    _close_open_boards(f"ended by {signal.Signals(signum).name}")
    raise SystemExit(128 + signum)


def _end_safely_on_signals():
    # A signal whose default would end the interpreter without a word ends it through the
    # safe end instead; handlers the script chose stay its own. Python lets only the main
    # thread set handlers.
    if threading.current_thread() is not threading.main_thread():
        return
    for signum in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(signum) == signal.SIG_DFL:
            signal.signal(signum, _end_by_signal)


atexit.register(_close_open_boards, "the board was still open at exit")
