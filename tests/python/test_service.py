"""The module through a board service: sorrel.connect and open_board beside a headless
`sorrelctl serve` reach the service's board with the calls, checks and errors of a board
this process opened, and the service's end honours keep_power; and the contract,
sorrel_board.proto, drives the service from stubs generated now with plain gRPC."""

import os
import shutil
import subprocess
import sys
import time

import numpy as np
import pytest

import sorrel
from conftest import (CONTROL_SLM_POWER, REG_CONTROL, REG_TIMING_A, ROOT, SORRELCTL, assert_left_safe, board_writes,
                      last_write, positions_shown, python, read_pgm, wait_for_line, write_settings)

SETTINGS = {"FrameRate": "200", "LaserDuty": "40", "LaserAGain": "120", "LaserBGain": "60", "LC_Type": "0",
            "TrueFrames": "5"}


def picture(seed):
    y, x = np.mgrid[0:512, 0:512]
    return ((x * 131 + y * 7 + seed * 29) % 256).astype(np.uint8)


@pytest.fixture
def served(work, serve):
    """A headless service on a socket of its own, holding the card with the test's stored
    settings in a runtime folder of its own, traced; the test's default socket left empty."""
    write_settings(work, SETTINGS)
    runtime = work / "service-runtime"
    runtime.mkdir(mode=0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=str(runtime), SORREL_SIM_TRACE=str(work / "trace"))
    socket = work / "board.sock"
    serve("--socket", socket, env=env)
    return socket, work / "trace"


def status_of(socket):
    """The service's board as a second client sees it."""
    board = sorrel.connect(socket)
    try:
        return board.power, board.run_parameters
    finally:
        board.close()


class TestServiceClient:
    def test_every_call_reaches_the_services_board(self, served):
        socket, trace = served
        with sorrel.connect(os.fsencode(socket)) as board:
            assert board.spec.BoardName == "Kite_SLM" and board.spec.shape == (512, 512)
            assert board.spec.MaxFrames == 1024 and board.spec.MaxFrameRate == 1000
            assert board.run_parameters == {"frame_rate": 200, "laser_duty": 40, "laser_a_gain": 120,
                                            "laser_b_gain": 60}
            assert board.true_frames == 5
            board.write_frame(7, picture(1))
            board.write_frame(8, np.asfortranarray(picture(2)))
            np.testing.assert_array_equal(read_pgm(trace / "frame-0007.pgm"), picture(1))
            np.testing.assert_array_equal(read_pgm(trace / "frame-0008.pgm"), picture(2))
            board.set_phase(9, picture(3) * (2 * np.pi / 256) - 2 * np.pi)
            np.testing.assert_array_equal(read_pgm(trace / "frame-0009.pgm"), picture(3))
            board.set_run_parameters(frame_rate=1000, laser_a_gain=255)
            assert board.run_parameters == {"frame_rate": 1000, "laser_duty": 40, "laser_a_gain": 255,
                                            "laser_b_gain": 60}
            assert last_write(board_writes(trace), REG_TIMING_A) & 0xFF == 255
            assert board.image_frames == 6 and board.reached_frame_rate == pytest.approx(1015.64, abs=0.005)
            board.power = True
            assert board.power is True and last_write(board_writes(trace), REG_CONTROL) & CONTROL_SLM_POWER
            board.select(8)
            board.run([7, 8], loop=True)
            assert board.status().LastIndex == 1
            assert positions_shown(board, {0, 1}) == {0, 1}
            board.stop()
            assert not board.status().running
        assert board.closed
        # The last client has left: the service made the board safe.
        power, parameters = status_of(socket)
        assert not power and parameters["laser_a_gain"] == parameters["laser_b_gain"] == 0

    @pytest.mark.parametrize("call, error", [
        (lambda b: b.select(4096), IndexError),
        (lambda b: b.write_frame(1024, picture(0)), IndexError),
        (lambda b: b.set_run_parameters(frame_rate=1001), ValueError),
        (lambda b: b.run([]), ValueError),
        (lambda b: b.run([0, 1024]), IndexError),
        (lambda b: b.set_phase(0, np.full((512, 512), np.inf)), ValueError),
        (lambda b: b.set_phase(0, np.zeros((512, 512)), wavelength="830nm"), ValueError),
    ])
    def test_refusals_are_the_ones_of_a_board_this_process_opened(self, served, work, call, error):
        said = []
        with sorrel.connect(served[0]) as remote:
            for _ in range(2):  # the first as a message, the second through the frame channel
                with pytest.raises(error) as through_service:
                    call(remote)
                said.append(str(through_service.value))
        with sorrel.open_board() as local, pytest.raises(error) as here:
            call(local)
        assert said == [str(here.value)] * 2

    def test_a_closed_board_or_no_service_raises_error(self, served, work, serve):
        board = sorrel.connect(served[0])
        board.close()
        assert board.close() == ""
        with pytest.raises(sorrel.Error, match="^The board is closed$"):
            board.select(0)
        with pytest.raises(sorrel.Error, match=f"^no board service answers on {work / 'none.sock'}$"):
            sorrel.connect(work / "none.sock")
        with pytest.raises(TypeError):
            sorrel.connect(5)
        ending = serve("--socket", work / "ending.sock", env=dict(os.environ, XDG_RUNTIME_DIR=str(work)))
        board = sorrel.connect(work / "ending.sock")
        board.select(1)
        board.select(2)  # through the frame channel from here on
        ending.terminate()
        ending.wait(timeout=60)
        with pytest.raises(sorrel.Error, match=f"^the board service on {work / 'ending.sock'} no longer answers$"):
            board.select(0)

    def test_open_board_goes_through_the_service_on_the_default_socket(self, work, serve, monkeypatch):
        write_settings(work, SETTINGS)
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(work))
        serve()
        socket = work / "sorrel" / "board.sock"
        for options in ({"true_frames": 3}, {"modulator_type": "phase"}):
            name = next(iter(options))
            with pytest.raises(sorrel.Error, match=f"^{name} does not apply: the board service on {socket} holds "
                                                   "the board as it opened it$"):
                sorrel.open_board(**options)
        # The card is the service's, so a board opened here would be refused as busy.
        with sorrel.open_board(keep_power=True) as board:
            board.power = True
            board.set_run_parameters(laser_a_gain=99)
            assert status_of(socket) == (True, {"frame_rate": 200, "laser_duty": 40, "laser_a_gain": 99,
                                                "laser_b_gain": 60})
        power, parameters = status_of(socket)
        assert power and parameters["laser_a_gain"] == 0, "keep_power kept the power, and only the power"
        with sorrel.open_board() as board:
            board.power = True
        assert status_of(socket)[0] is False

    def test_close_keep_power_overrides_the_one_connected_with(self, served):
        socket = served[0]
        board = sorrel.connect(socket)
        board.power = True
        assert board.close(keep_power=True).endswith(", the SLM power kept")
        assert status_of(socket)[0] is True
        board = sorrel.connect(socket, keep_power=True)
        board.set_run_parameters(laser_a_gain=1)
        board.close(keep_power=False)
        # The service ends the board once it has seen the client go; the limit only keeps a
        # service that never does from hanging the test.
        deadline = time.monotonic() + 30
        while status_of(socket)[0] and time.monotonic() < deadline:
            time.sleep(0.01)
        assert status_of(socket)[0] is False

    def test_a_client_killed_in_a_call_leaves_the_others_served_and_the_board_safe_at_the_end(self, served):
        socket, trace = served
        writer = python(f"""
import numpy as np, sorrel
board = sorrel.connect({str(socket)!r})
board.power = True
board.set_run_parameters(laser_a_gain=200, laser_b_gain=150)
frame = np.zeros((512, 512), np.uint8)
print("writing", flush=True)
while True:
    board.write_frame(5, frame)
""")
        with sorrel.connect(socket) as other:
            wait_for_line(writer, "writing")
            writer.kill()  # almost always inside a write: the loop does nothing else
            writer.wait()
            other.select(3)
            assert other.power is True, "another client still holds a session: nothing was switched"
            assert other.run_parameters["laser_a_gain"] == 200
        deadline = time.monotonic() + 30
        while status_of(socket)[0] and time.monotonic() < deadline:
            time.sleep(0.01)
        assert_left_safe(trace)

    def test_two_clients_racing_for_the_one_place_are_served_one_after_the_other(self, work, serve):
        socket = work / "one.sock"
        serve("--socket", socket, "--max-clients", "1", env=dict(os.environ, XDG_RUNTIME_DIR=str(work)))
        racer = f"""
import time, sorrel
try:
    board = sorrel.connect({str(socket)!r})
    board.select(2)
    print("served", flush=True)
    time.sleep(120)
except sorrel.Error as e:
    print(e, flush=True)
"""
        racers = [python(racer) for _ in range(2)]
        said = {wait_for_line(r, ""): r for r in racers}
        assert sorted(said) == ["served",
                                "the board service serves at most 1 clients at once; try again when one has ended"]
        said["served"].kill()
        said["served"].wait()
        # The place is free once the service has seen the winner go.
        deadline = time.monotonic() + 30
        while True:
            try:
                with sorrel.connect(socket) as board:
                    board.select(3)
                break
            except sorrel.Error:
                assert time.monotonic() < deadline, "the place of a killed client was never freed"
                time.sleep(0.01)

    def test_a_card_is_chosen_and_a_service_elsewhere_is_reached_through_tls(self, work, serve, monkeypatch):
        monkeypatch.setenv("SORREL_SIM", "kite,wren")
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(work))
        with sorrel.open_board(card="1") as board:
            assert board.spec.BoardName == "Wren_SLM"
        with sorrel.open_board() as board:
            assert board.spec.BoardName == "Kite_SLM", "each open chooses again"
        with pytest.raises(ValueError, match="^card: '1:2' is neither a PCI address"):
            sorrel.open_board(card="1:2")
        subprocess.run([SORRELCTL, "certs", work / "lab", "--server", "127.0.0.1", "--client", "analysis"], check=True,
                       capture_output=True)
        p = serve("--listen", "127.0.0.1:0", "--tls-dir", work / "lab" / "server")
        address = "tls://" + p.serving.split(" and tls://")[1].strip()
        with pytest.raises(ValueError, match="tls_dir"):
            sorrel.connect(address)
        with sorrel.connect(address, tls_dir=work / "lab" / "analysis") as board:
            assert board.spec.BoardName == "Kite_SLM"
            board.write_frame(3, picture(4))
        # The service on the default socket holds the Kite card: a script for it goes through the
        # service, one for the Wren card opens that beside it.
        with sorrel.open_board(card="0") as board:
            assert board.spec.BoardName == "Kite_SLM"
        with sorrel.open_board(card="0000:01:01.0") as board:
            assert board.spec.BoardName == "Wren_SLM"

    def test_open_board_reaches_the_worker_of_the_card_chosen(self, work, serve, monkeypatch):
        monkeypatch.setenv("SORREL_SIM", "kite,wren")
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(work))
        serve("--card", "0000:01:00.0", "--card", "0000:01:01.0", cards=2)
        # Each card is a worker's, so a board opened here would be refused as busy.
        with sorrel.open_board(card="1", keep_power=True) as board:
            assert board.spec.BoardName == "Wren_SLM"
            board.power = True
        assert status_of(work / "sorrel" / "board-0000:01:01.0.sock")[0] is True
        with sorrel.open_board() as board:
            assert board.spec.BoardName == "Kite_SLM" and board.power is False


def python_stubs(folder):
    """sorrel_board_pb2 and sorrel_board_pb2_grpc from the contract, made into folder."""
    proto = ROOT / "service"
    try:
        import grpc_tools  # noqa: F401
        command = [sys.executable, "-m", "grpc_tools.protoc"]
    except ImportError:
        plugin = shutil.which("grpc_python_plugin")
        if plugin is None or shutil.which("protoc") is None:
            pytest.skip("neither grpc_tools nor protoc with grpc_python_plugin (protobuf-compiler-grpc)")
        command = ["protoc", f"--plugin=protoc-gen-grpc_python={plugin}"]
    subprocess.run([*command, f"--proto_path={proto}", f"--python_out={folder}", f"--grpc_python_out={folder}",
                    proto / "sorrel_board.proto"], check=True)


class TestServiceContract:
    def test_plain_grpc_stubs_from_the_proto_drive_the_service(self, served, tmp_path):
        socket, trace = served
        stubs = tmp_path / "stubs"
        stubs.mkdir()
        python_stubs(stubs)
        # In a child of its own: the module under test links the system's gRPC, the stubs
        # use grpcio's.
        script = f"""
import sys
sys.path.insert(0, {str(stubs)!r})
import grpc, numpy as np
import sorrel_board_pb2 as pb, sorrel_board_pb2_grpc as rpc
board = rpc.BoardStub(grpc.insecure_channel("unix:" + {str(socket)!r}))
s = board.GetStatus(pb.StatusRequest())
print(s.board_name, s.width, s.height, s.frame_buffers, s.true_frames, s.parameters.laser_a_gain, s.selected_frame)
pixels = (np.arange(s.width * s.height) % 251).astype(np.uint8).tobytes()
board.WriteFrame(pb.WriteFrameRequest(frame=3, pixels=pixels))
board.Select(pb.SelectRequest(frame=3))
print(board.GetStatus(pb.StatusRequest()).selected_frame)
try:
    board.Select(pb.SelectRequest(frame=1024))
except grpc.RpcError as e:
    print(e.code().name, e.details())
"""
        r = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
        assert r.returncode == 0, r.stderr
        assert r.stdout.splitlines() == ["Kite_SLM 512 512 1024 5 120 -1", "3",
                                         "OUT_OF_RANGE frame 1024 is not one of the board's frame buffers 0..1023"]
        np.testing.assert_array_equal(read_pgm(trace / "frame-0003.pgm").ravel(),
                                      np.arange(512 * 512) % 251)
