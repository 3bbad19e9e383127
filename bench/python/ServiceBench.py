"""board.write_frame then board.select of one Kite frame through a headless board service
on a local socket (sorrel.connect), against the same two calls on a board this process opened
(sorrel.open_board without a service), in one run. Rounds alternate between the two, so a
machine that slows down meanwhile slows both; the medians and their ratio are printed.
Goal: through the service at most twice the in-process calls. Exit status 1 when missed.

    python3 bench/python/ServiceBench.py [BUILD]      (BUILD: default build/release)
"""

import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = 15
CALLS = 300  # write + select pairs per round and side
FRAME = 5
GOAL = 2.0


def timed_round(board, frame):
    start = time.perf_counter()
    for _ in range(CALLS):
        board.write_frame(FRAME, frame)
        board.select(FRAME)
    return (time.perf_counter() - start) / CALLS


def select_alone(board):
    """Seconds per select alone, median of three rounds: what one call costs besides the frame."""
    rounds = []
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(CALLS):
            board.select(FRAME)
        rounds.append((time.perf_counter() - start) / CALLS)
    return statistics.median(rounds)


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/release").resolve()
    sys.path.insert(0, str(build / "python"))
    work = pathlib.Path(tempfile.mkdtemp(prefix="sorrel-bench-"))
    # The service and this process each hold a simulated card of their own, claimed in
    # runtime folders of their own; the machine's settings store is left alone.
    for name in ("service", "here"):
        (work / name).mkdir(mode=0o700)
    os.environ.update(SORREL_REGISTRY=str(work / "registry"), SORREL_SIM="kite:id=0",
                      XDG_RUNTIME_DIR=str(work / "here"))
    os.environ.pop("SORREL_SIM_TRACE", None)
    socket = work / "board.sock"
    service = subprocess.Popen([build / "bin" / "sorrelctl", "serve", "--socket", socket],
                               env=dict(os.environ, XDG_RUNTIME_DIR=str(work / "service")),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        if not service.stdout.readline().startswith(b"serving "):
            sys.exit("ServiceBench: sorrelctl serve did not start")
        import numpy as np
        import sorrel
        frame = (np.arange(512 * 512, dtype=np.uint32) * 131 % 256).astype(np.uint8).reshape(512, 512)
        with sorrel.open_board(modulator_type=0, true_frames=3) as here, sorrel.connect(socket) as served:
            timed_round(here, frame), timed_round(served, frame)  # warm both paths
            local, remote, ratios = [], [], []
            print("round  in-process     through the service  ratio")
            for r in range(ROUNDS):
                local.append(timed_round(here, frame))
                remote.append(timed_round(served, frame))
                ratios.append(remote[-1] / local[-1])
                print(f"{r + 1:5d}  {local[-1] * 1e6:9.1f} us  {remote[-1] * 1e6:15.1f} us  {ratios[-1]:6.3f}")
            print(f"select alone: in-process {select_alone(here) * 1e6:.1f} us, through the service "
                  f"{select_alone(served) * 1e6:.1f} us")
        ratio = statistics.median(ratios)
        print(f"median {statistics.median(local) * 1e6:9.1f} us  {statistics.median(remote) * 1e6:15.1f} us  "
              f"{ratio:6.3f}")
        print(f"through the service / in-process = {ratio:.3f} (goal: at most {GOAL:.1f})")
        return 0 if ratio <= GOAL else 1
    finally:
        service.terminate()
        service.wait()


if __name__ == "__main__":
    sys.exit(main())
