"""What the Python tests share: the build they test (SORREL_BUILD, default build/release),
a process environment of their own (claims, settings store, the simulated bus), and the
files and traces the tests write and read, written here independently of the system."""

import os
import pathlib
import re
import select
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("SORREL_BUILD", ROOT / "build" / "release")).resolve()
SORRELCTL = BUILD / "bin" / "sorrelctl"
PYTHONPATH = str(BUILD / "python")
sys.path.insert(0, PYTHONPATH)

# Claims are per user, so test processes running beside others would contend for the same
# simulated cards; this session keeps its own, and never touches the machine's settings.
_PRIVATE = pathlib.Path(tempfile.mkdtemp(prefix="sorrel-pytest-"))
_PRIVATE.chmod(0o700)
os.environ["XDG_RUNTIME_DIR"] = str(_PRIVATE)
os.environ["SORREL_REGISTRY"] = str(_PRIVATE / "registry")
os.environ["SORREL_SIM"] = "kite"
os.environ.pop("SORREL_SIM_TRACE", None)

REG_CONTROL, REG_FRAME_SELECT, REG_TIMING_A, REG_TIMING_B = 0x00, 0x08, 0x10, 0x14
CONTROL_RUN, CONTROL_SLM_POWER = 1 << 3, 1 << 10


@pytest.fixture
def work(tmp_path, monkeypatch):
    """A working folder of the test's own, its settings store and trace folder inside it."""
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("SORREL_REGISTRY", str(tmp_path / "registry"))
    monkeypatch.setenv("SORREL_SIM", "kite")
    monkeypatch.delenv("SORREL_SIM_TRACE", raising=False)
    return tmp_path


def write_bitmap(path, picture):
    """An 8-bit grey bitmap of a square uint8 picture, row 0 at the top."""
    height, width = picture.shape
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    pad = b"\0" * ((4 - width % 4) % 4)
    rows = b"".join(picture[height - 1 - r].tobytes() + pad for r in range(height))
    offset = 14 + 40 + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 0, 0, 256, 0)
    pathlib.Path(path).write_bytes(header + info + palette + rows)


def write_lut(path, table):
    pathlib.Path(path).write_text("".join(f"{i} {v}\n" for i, v in enumerate(table)))


def write_settings(folder, values):
    """The settings store's file as an administrator would write it."""
    lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]"]
    for name, value in values.items():
        quoted = str(value).replace("\\", "\\\\").replace('"', '\\"')
        lines.append(f'"{name}"="{quoted}"')
    store = pathlib.Path(folder) / "registry"
    store.mkdir(exist_ok=True)
    (store / "sorrel.reg").write_text("\n".join(lines) + "\n\n")


def read_pgm(path):
    data = pathlib.Path(path).read_bytes()
    match = re.match(rb"P5\n(\d+) (\d+)\n255\n", data)
    assert match, path
    width, height = int(match[1]), int(match[2])
    return np.frombuffer(data[match.end():], np.uint8).reshape(height, width)


def board_writes(trace):
    """The board register writes (space 2) of a trace, as (offset, value) in order."""
    writes = []
    for line in (pathlib.Path(trace) / "registers.log").read_text().splitlines():
        parts = line.split()
        if len(parts) == 5 and parts[1] == "W" and parts[2] == "2":
            writes.append((int(parts[3], 16), int(parts[4], 16)))
    return writes


def last_write(writes, offset):
    values = [v for o, v in writes if o == offset]
    assert values, f"no write to {offset:#x}"
    return values[-1]


def assert_left_safe(trace, power_left_on=False):
    """What the card was last told: both gains zero, and the SLM power off (or left on)."""
    writes = board_writes(trace)
    assert last_write(writes, REG_TIMING_A) & 0xFF == 0
    assert last_write(writes, REG_TIMING_B) & 0xFF == 0
    assert bool(last_write(writes, REG_CONTROL) & CONTROL_SLM_POWER) == power_left_on


def positions_shown(board, wanted):
    """The positions of the run's frame list a running board showed, polled until it had shown
    all of wanted (or a while has passed)."""
    seen = set()
    for _ in range(400):
        status = board.status()
        assert status.running
        seen.add(status.CurrentIndex)
        if seen >= wanted:
            break
        time.sleep(0.005)
    return seen


def python(code, env=None):
    """A child interpreter running code, with the module of the build under test."""
    env = dict(env if env is not None else os.environ, PYTHONPATH=PYTHONPATH)
    return subprocess.Popen([sys.executable, "-c", code], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def wait_for_line(process, text, timeout=30, count=1, stream=None):
    """Reads the child's standard output (or stream) until count lines hold text; those lines."""
    deadline = time.monotonic() + timeout
    seen = ""
    fd = (stream or process.stdout).fileno()
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], deadline - time.monotonic())
        if not ready:
            break
        chunk = os.read(fd, 4096).decode()
        if not chunk:
            break
        seen += chunk
        lines = [line for line in seen.splitlines() if text in line]
        if len(lines) >= count:
            return "\n".join(lines[:count])
    process.kill()
    raise AssertionError(f"the child did not say {text!r}; it said {seen!r} and {process.stderr.read()!r}")


@pytest.fixture
def serve():
    """Starts sorrelctl serve with these arguments (and env, when given) once it serves each of
    its cards; kills what a test left."""
    started = []

    def start(*args, env=None, cards=1):
        p = subprocess.Popen([SORRELCTL, "serve", *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=env)
        started.append(p)
        p.serving = wait_for_line(p, "serving ", count=cards)
        return p

    yield start
    for p in started:
        if p.poll() is None:
            p.kill()
            p.wait()
