"""Sorrel from scripts: the system's pattern composition and its SLM board.

    import sorrel
    phase = sorrel.zernike({"Power": 1.5}, board="kite")      # a 512 x 512 uint8 array
    with sorrel.open_board() as board:                       # the card is this process's
        board.write_frame(0, phase)
        board.select(0)
        board.power = True

With a board service running (the window's, or `sorrelctl serve`), the card is the
service's: open_board() then drives it through the service, as connect() does; the script
runs beside the window or the headless service, and every call reaches the board as the
same call would in the service's process.

The board opens as Sorrel opens it, with the settings store's modulator type, true frames
and run parameters. However the script ends (the with block left, an exception, the
interpreter exiting, os._exit, SIGTERM or SIGHUP), the board is closed safely: any run
stopped, both laser gains zero, and the SLM power off unless open_board(keep_power=True) was
asked. SIGTERM and SIGHUP, unless the script handles them itself, close it at once from
whichever thread holds it, and the process then ends by that signal. A process forked while
a board is open never acts on it: its calls raise Error.
"""

import atexit
import os

from ._core import (ZERNIKE_KEYS, Board, BoardSpec, CardBusy, Error, RunStatus, SorrelWarning, compose,
                    read_sequence, zernike)
from ._core import _connect, _end_open_boards, _open_board

__all__ = ["ZERNIKE_KEYS", "Board", "BoardSpec", "CardBusy", "Error", "RunStatus", "SorrelWarning", "compose",
           "connect", "open_board", "read_sequence", "zernike"]

_AT_EXIT = "the board was still open at exit"


def open_board(modulator_type=None, true_frames=None, keep_power=False, card=None):
    """Opens the SLM board. modulator_type ("amplitude", "phase", 0 or 1) and true_frames
    default to the settings store's. keep_power=True leaves the SLM power as it is when the
    board is closed without saying otherwise. card chooses the card by its PCI address
    ("0000:03:00.0" or "03:00.0") or slot number ("1"); by default the first that comes up.
    Raises CardBusy when another process holds the card, Error when no usable board comes up.

    When a board service answers on the user's or the machine's socket (and holds the card
    asked for, there or on a further card's socket beside it), the board is the service's,
    reached as connect() reaches it; modulator_type
    and true_frames then raise Error, since the service opened the board with its own."""
    return _open_board(modulator_type, true_frames, keep_power, card)


def connect(address=None, keep_power=False, tls_dir=None):
    """The board a board service holds, reached through its Unix socket: address is the
    socket's path (str, bytes or os.PathLike), by default $XDG_RUNTIME_DIR/sorrel/board.sock.
    The board has the calls and errors of open_board()'s. Closing it leaves the service, which
    makes the board safe once its last client has left: the SLM power off unless the last
    client to change the lasers or the power asked keep_power. Raises Error when no service
    answers there. A service on another machine is reached with address "tls://HOST:PORT" and
    tls_dir, this machine's folder of `sorrelctl certs` (ca.pem, client.pem, client.key)."""
    return _connect(address, keep_power, tls_dir)


_exit = os._exit


def _exit_safely(status, /):
    # os._exit skips atexit; a forked worker (multiprocessing among them) ends through it.
    _end_open_boards(_AT_EXIT)
    _exit(status)


os._exit = _exit_safely
atexit.register(_end_open_boards, _AT_EXIT)
