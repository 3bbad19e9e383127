"""sorrelctl as a script runs it: help on every command, exit status 0 on success and one
clear line with a non-zero status otherwise, the settings store as every default and left
alone unless --save, a progress line on a terminal, and the safe end, said in one line,
however a board command ends. What compose writes is checked against the program itself
in ComposeTest.cpp; here against what the tool's own download leaves on the card."""

import grp
import os
import pathlib
import pty
import signal
import subprocess
import tempfile
import time

import grpc
import numpy as np
import pytest

from conftest import (BUILD, CONTROL_RUN, CONTROL_SLM_POWER, REG_CONTROL, REG_FRAME_SELECT, REG_TIMING_A, SORRELCTL,
                      assert_left_safe, board_writes, last_write, read_pgm, wait_for_line, write_bitmap, write_lut,
                      write_settings)

COMMANDS = ["cards", "certs", "compose", "download", "run", "select", "power", "status", "watch"]
SAFE = "sorrelctl: lasers at zero gain, SLM power off\n"


def tool(*args, **kwargs):
    return subprocess.run([str(SORRELCTL), *map(str, args)], capture_output=True, text=True, timeout=120, **kwargs)


@pytest.fixture
def lab(work):
    """A working folder with a two-entry sequence, compensation images and stored settings."""
    y, x = np.mgrid[0:512, 0:512]
    write_bitmap(work / "ramp.bmp", ((x + 3 * y) % 256).astype(np.uint8))
    write_bitmap(work / "slm.bmp", ((x ^ y) & 0x3F).astype(np.uint8))
    write_bitmap(work / "sys.bmp", ((x * 7 + y) % 256).astype(np.uint8))
    write_lut(work / "linear.lut", range(256))
    write_lut(work / "invert.lut", [255 - i for i in range(256)])
    (work / "demo.sif").write_text("ramp.bmp, linear.lut\nramp.bmp, invert.lut\n")
    write_settings(work, {"FrameRate": "100", "LaserDuty": "50", "LaserAGain": "200", "LaserBGain": "100",
                          "LC_Type": "1", "TrueFrames": "3", "BoardType": "Kite_SLM",
                          "SequenceFile": str(work / "demo.sif"), "ApplyCorrection": "1", "HideComp": "0",
                          "PhaseCompFileName": str(work / "slm.bmp"), "SysPhaseCompFileName": str(work / "sys.bmp")})
    return work


def store(work):
    return (work / "registry" / "sorrel.reg").read_bytes()


class TestCommandLine:
    def test_every_command_has_help(self):
        overview = tool("--help")
        assert overview.returncode == 0 and overview.stdout.startswith("Usage: sorrelctl COMMAND")
        for command in COMMANDS:
            r = tool(command, "--help")
            assert r.returncode == 0, command
            assert r.stdout.startswith(f"Usage: sorrelctl {command}"), command
            assert "--help" in r.stdout and r.stderr == ""

    @pytest.mark.parametrize("args, line", [
        ([], "no command given (see sorrelctl --help)"),
        (["frobnicate"], "unknown command frobnicate (see sorrelctl --help)"),
        (["compose", "a.sif"], "compose: --out DIR is required (see sorrelctl compose --help)"),
        (["compose", "a.sif", "--out", "o", "--board", "lark"], "compose: --board takes kite or wren, not 'lark'"),
        (["compose", "a.sif", "--out"], "compose: --out needs DIR"),
        (["compose", "a.sif", "--out", "o", "--out", "p"], "compose: --out given twice"),
        (["compose", "a.sif", "b.sif", "--out", "o"], "compose: unexpected argument b.sif"),
        (["download"], "download: missing SEQUENCE.sif"),
        (["run", "--rate", "fast"], "run: --rate takes a whole number, not 'fast'"),
        (["run", "--seconds", "-1"], "run: --seconds takes a number of seconds above 0, not '-1'"),
        (["power", "up"], "power: takes on or off, not 'up'"),
        (["select", "x"], "select: N takes a whole number, not 'x'"),
        (["status", "--modulator", "both"], "--modulator takes amplitude or phase, not 'both'"),
        (["status", "--true-frames", "2"], "status: --true-frames takes 3 to 32767, not 2"),
        (["status", "--card", "1:2"], "--card: '1:2' is neither a PCI address (such as 0000:03:00.0 or 03:00.0) nor a slot number (0 to 31)"),
        (["status", "--card", "0", "--card", "1"], "status: --card given twice"),
        (["serve", "--card", "01:01.0", "--card", "01:00.0", "--card", "0000:01:01.0"],
         "serve: --card 01:01.0 and --card 0000:01:01.0 name the same card"),
        (["serve", "--card", "01:00.0", "--card", "1"],
         "serve: with several cards each --card is a PCI address, which names its socket, not the slot number 1"),
        (["serve", "--card", "01:00.0", "--card", "01:01.0", "--listen", "127.0.0.1:0", "--tls-dir", "lab"],
         "serve: --listen serves one card, not several: start a serve --listen for each card"),
        (["serve", "--card", "01:00.0", "--card", "01:01.0", "--save"],
         "serve: --save stores one board's values, not several: start a serve --save for that card"),
    ])
    def test_a_command_line_it_cannot_take_is_one_line_and_status_2(self, work, args, line):
        r = tool(*args)
        assert r.returncode == 2
        assert r.stderr.startswith(f"sorrelctl: {line}") and r.stderr.count("\n") == 1, r.stderr
        assert r.stdout == ""

    def test_cards_says_what_the_program_says(self):
        r = tool("cards")
        assert r.returncode == 0
        assert r.stdout.startswith("Backend serving this process: simulated (SORREL_SIM is set)\n")
        program = BUILD / "bin" / "Sorrel"
        if program.exists():
            # The program lists before anything else it is asked, and needs no display for it.
            headless = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
            for args in (["--list-cards"], ["--help", "--list-cards"]):
                listed = subprocess.run([program, *args], capture_output=True, text=True, env=headless, timeout=120)
                assert (listed.returncode, listed.stdout) == (0, r.stdout), args


class TestCompose:
    def test_the_stored_compensation_is_the_default_and_the_options_change_it(self, lab):
        assert tool("compose", "demo.sif", "--out", "stored").returncode == 0
        assert tool("compose", "demo.sif", "--out", "given", "--compensation", "slm.bmp", "sys.bmp").returncode == 0
        assert tool("compose", "demo.sif", "--out", "none", "--no-compensation").returncode == 0
        y, x = np.mgrid[0:512, 0:512]
        ramp, slm, sys_ = (x + 3 * y) % 256, (x ^ y) & 0x3F, (x * 7 + y) % 256
        with_both = ((ramp + slm + sys_) % 256).astype(np.uint8)
        np.testing.assert_array_equal(read_pgm(lab / "stored/frame-0000.pgm"), with_both)
        np.testing.assert_array_equal(read_pgm(lab / "given/frame-0001.pgm"), 255 - with_both)
        np.testing.assert_array_equal(read_pgm(lab / "none/frame-0000.pgm"), ramp.astype(np.uint8))

    @pytest.mark.parametrize("sequence, line", [
        ("missing.sif", "Could not read SIF: missing.sif"), ("empty.sif", "Empty SIF: empty.sif")])
    def test_a_sequence_it_cannot_use_is_one_line_and_status_1(self, lab, sequence, line):
        (lab / "empty.sif").write_text("// no entries\n")
        r = tool("compose", sequence, "--out", "o")
        assert (r.returncode, r.stderr) == (1, f"sorrelctl: {line}\n")

    def test_a_compensation_file_it_cannot_read_is_named(self, lab):
        r = tool("compose", "demo.sif", "--out", "o", "--compensation", "slm.bmp", "gone.zrn")
        assert (r.returncode, r.stderr) == (1, "sorrelctl: Could not read the compensation file: gone.zrn\n")


class TestBoard:
    def test_download_writes_what_compose_writes_and_leaves_the_settings_alone(self, lab, monkeypatch):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        before = store(lab)
        assert tool("compose", "demo.sif", "--out", "composed", "--raw").returncode == 0
        r = tool("download", "demo.sif")
        assert r.returncode == 0, r.stderr
        assert r.stdout == "2 frames downloaded to Kite_SLM\n"
        assert r.stderr == SAFE
        for i in range(2):
            for kind in ("pgm", "raw"):
                name = f"frame-000{i}.{kind}"
                assert (lab / "trace" / name).read_bytes() == (lab / "composed" / name).read_bytes(), name
        assert store(lab) == before

    def test_save_stores_what_the_command_used(self, lab):
        (lab / "other.sif").write_text("ramp.bmp, linear.lut\n")
        r = tool("run", "--sequence", "other.sif", "--rate", "250", "--gain-a", "17", "--seconds", "0.2", "--save")
        assert r.returncode == 0, r.stderr
        text = store(lab).decode()
        for line in ('"FrameRate"="250"', '"LaserAGain"="17"', '"LaserBGain"="100"', '"LaserDuty"="50"',
                     f'"SequenceFile"="{lab / "other.sif"}"', '"BoardType"="Kite_SLM"', '"ApplyCorrection"="1"'):
            assert line in text, line

    def test_a_run_reaches_the_board_and_ends_safe(self, lab, monkeypatch):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        r = tool("run", "--loop", "--gain-a", "90", "--gain-b", "80", "--seconds", "0.5")
        assert r.returncode == 0, r.stderr
        assert r.stdout == "stopped a run of 2 entries at 100 frames per second\n"
        writes = board_writes(lab / "trace")
        assert any(o == REG_CONTROL and v & CONTROL_RUN for o, v in writes), "the run bit was never set"
        assert any(o == 0x10 and v & 0xFF == 90 for o, v in writes)
        assert_left_safe(lab / "trace")
        assert r.stderr == SAFE

    def test_a_run_that_ends_by_itself_says_so(self, lab):
        r = tool("run", "--rate", "1000")
        assert (r.returncode, r.stdout) == (0, "ran 2 entries at 1000 frames per second\n"), r.stderr

    @pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
    def test_a_signal_ends_a_looped_run_safe_and_by_that_signal(self, lab, signum, monkeypatch):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        p = subprocess.Popen([SORRELCTL, "run", "--loop", "--gain-a", "60"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        while not (lab / "trace" / "frame-0001.pgm").exists():
            assert p.poll() is None, p.stderr.read()
        p.send_signal(signum)
        out, err = p.communicate(timeout=60)
        assert p.returncode == -signum
        assert err.decode().endswith(f"sorrelctl: ended by {signal.Signals(signum).name}\n{SAFE}")
        assert_left_safe(lab / "trace")

    @pytest.mark.parametrize("args", [["power", "on", "--seconds", "30"],
                                      ["run", "--gain-a", "255", "--loop", "--seconds", "0.3"],
                                      ["select", "3", "--seconds", "30"]])
    def test_a_reader_that_went_away_is_an_error_after_the_safe_end(self, lab, monkeypatch, args):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        reader, writer = os.pipe()
        os.close(reader)  # the first result line meets a pipe nobody reads
        try:
            r = subprocess.run([SORRELCTL, *args], stdout=writer, stderr=subprocess.PIPE, text=True, timeout=120)
        finally:
            os.close(writer)
        assert (r.returncode, r.stderr) == (1, f"sorrelctl: cannot write to standard output: Broken pipe\n{SAFE}")
        writes = board_writes(lab / "trace")
        assert any(o == REG_TIMING_A and v & 0xFF for o, v in writes), "the lasers were never on"
        assert_left_safe(lab / "trace")

    def test_keep_power_leaves_the_power_on_and_the_lasers_off(self, lab, monkeypatch):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        r = tool("power", "on", "--keep-power")
        assert (r.returncode, r.stdout) == (0, "SLM power on\n")
        assert r.stderr == "sorrelctl: lasers at zero gain, SLM power left on\n"
        assert_left_safe(lab / "trace", power_left_on=True)
        r = tool("power", "on")
        assert r.stderr == SAFE

    @pytest.mark.parametrize("bus, line", [
        ("none", "Could not locate PCI board, is the PCI board plugged into computer?"),
        ("kite:3v3-low", "3.3 Volt Status Low; INIT Bits 0 0 0 0; SDRAM Bits 19 0 0 0"),
        ("other", "The hardware found was not 256 or 512 hardware")])
    def test_a_board_that_does_not_come_up_is_one_line_and_nothing_is_switched(self, lab, monkeypatch, bus, line):
        monkeypatch.setenv("SORREL_SIM", bus)
        r = tool("status")
        assert (r.returncode, r.stdout, r.stderr) == (1, "", f"sorrelctl: {line}\n")

    @pytest.mark.parametrize("args, line", [
        (["run", "--gain-a", "300"], "laser A gain 300 is not within 0..255"),
        (["run", "--rate", "0"], "frame rate 0 is not within 1..1000 frames per second"),
        (["select", "1024"], "frame 1024 is not one of the board's frame buffers 0..1023")])
    def test_a_value_the_board_does_not_take_is_one_line_then_the_safe_end(self, lab, args, line):
        r = tool(*args)
        assert (r.returncode, r.stderr) == (1, f"sorrelctl: {line}\n{SAFE}")

    def test_status_reports_the_board_and_the_values_it_was_opened_with(self, lab):
        r = tool("status", "--modulator", "amplitude", "--true-frames", "7")
        assert r.returncode == 0, r.stderr
        assert r.stdout.splitlines() == [
            "board         Kite_SLM, 512 x 512, 1024 frame buffers", "card          0000:01:00.0", "backend       simulated",
            "modulator     amplitude", "true frames   7", "image frames  62", "SLM power     off", "run           idle",
            "frame rate    100", "reached rate  98.29", "laser duty    50", "laser gains   200, 100"]
        # A phase modulator's period is an even multiple of its true frames: 61 image frames become 72.
        lines = tool("status", "--modulator", "phase", "--true-frames", "12").stdout.splitlines()
        assert "image frames  72" in lines and "frame rate    100" in lines and "reached rate  84.64" in lines

    def test_a_terminal_gets_a_progress_line_and_a_pipe_does_not(self, lab):
        reader, writer = pty.openpty()
        p = subprocess.Popen([SORRELCTL, "download", "demo.sif"], stdout=subprocess.PIPE, stderr=writer)
        os.close(writer)
        said = b""
        while True:
            try:
                chunk = os.read(reader, 4096)
            except OSError:
                break
            if not chunk:
                break
            said += chunk
        p.wait(timeout=60)
        os.close(reader)
        assert p.returncode == 0
        assert b"\rdownload: entry 1 of 2\x1b[K\rdownload: entry 2 of 2\x1b[K" in said
        r = tool("download", "demo.sif")
        assert "\r" not in r.stderr and r.stderr == SAFE


def processes_naming(path):
    """The processes whose command line holds path."""
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and os.fsencode(path) in (entry / "cmdline").read_bytes():
                found.append(int(entry.name))
        except OSError:
            pass  # gone meanwhile
    return found


class TestService:
    """sorrelctl serve holding the board for the commands after it (label service)."""

    def test_commands_chain_through_the_service_and_sigterm_leaves_the_board_safe(self, lab, monkeypatch, serve):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(lab))
        socket = lab / "sorrel" / "board.sock"
        p = serve()
        assert (socket.stat().st_mode & 0o777, socket.parent.stat().st_mode & 0o777) == (0o600, 0o700)
        r = tool("status")
        assert r.returncode == 0, r.stderr
        assert "laser gains   200, 100" in r.stdout.splitlines()
        r = tool("power", "on")
        assert (r.returncode, r.stdout, r.stderr) == (0, "SLM power on\n", "")
        # Once its last client has left, the service makes the board safe: the power too, unless kept.
        lines = tool("status").stdout.splitlines()
        assert "SLM power     off" in lines and "laser gains   0, 0" in lines
        assert tool("power", "on", "--keep-power").returncode == 0
        lines = tool("status").stdout.splitlines()
        assert "SLM power     on" in lines and "laser gains   0, 0" in lines
        r = tool("select", "1024")
        assert (r.returncode, r.stderr) == (1, "sorrelctl: frame 1024 is not one of the board's frame buffers 0..1023\n")
        assert last_write(board_writes(lab / "trace"), REG_CONTROL) & CONTROL_SLM_POWER, "the power went off"
        p.send_signal(signal.SIGTERM)
        out, err = p.communicate(timeout=60)
        assert p.returncode == -signal.SIGTERM
        assert err.decode().endswith(f"sorrelctl: ended by SIGTERM\n{SAFE}")
        assert_left_safe(lab / "trace")
        assert not socket.exists()
        # With no service the command opens the card itself again.
        assert tool("status").stderr == SAFE

    def test_download_and_run_go_through_the_service_with_their_own_texts(self, lab, monkeypatch, serve):
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(lab))
        assert tool("compose", "demo.sif", "--out", "composed", "--raw").returncode == 0
        serve()
        r = tool("download", "demo.sif")
        assert (r.returncode, r.stdout, r.stderr) == (0, "2 frames downloaded to Kite_SLM\n", "")
        for i in range(2):
            name = f"frame-000{i}.raw"
            assert (lab / "trace" / name).read_bytes() == (lab / "composed" / name).read_bytes(), name
        r = tool("run", "--loop", "--gain-a", "90", "--seconds", "0.5")
        assert (r.returncode, r.stdout, r.stderr) == (0, "stopped a run of 2 entries at 100 frames per second\n", "")
        assert "laser gains   0, 0" in tool("status").stdout.splitlines(), "the service made the board safe"
        r = tool("run", "--rate", "1000")
        assert (r.returncode, r.stdout) == (0, "ran 2 entries at 1000 frames per second\n"), r.stderr
        r = tool("download", "missing.sif")
        assert r.returncode == 1 and r.stderr.startswith("sorrelctl: ") and "missing.sif" in r.stderr
        r = tool("run", "--duty", "101")
        assert (r.returncode, r.stdout) == (1, "") and r.stderr.count("\n") == 1, r.stderr
        r = tool("download", "demo.sif", "--true-frames", "5")
        assert r.returncode == 1 and "--true-frames does not apply" in r.stderr

    def test_watch_shows_a_run_frame_by_frame_or_every_nth(self, lab, serve):
        serve("--socket", lab / "board.sock")
        run = subprocess.Popen([SORRELCTL, "run", "--loop", "--rate", "1000", "--seconds", "20", "--service",
                                lab / "board.sock"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            for every in (1, 10):
                deadline = 50
                while deadline:
                    lines = tool("watch", "--count", "40", "--every", every, "--service", lab / "board.sock").stdout
                    if lines.splitlines()[-1].split()[7] == "active":
                        break
                    deadline -= 1  # the run had not started yet
                passed = [int(line.split()[2].strip("(+)")) for line in lines.splitlines()[1:]]
                assert len(passed) == 39 and min(passed) >= every, lines
        finally:
            run.send_signal(signal.SIGINT)
            run.wait(timeout=60)

    def test_a_client_killed_in_a_call_leaves_its_place_and_the_rate_is_per_client(self, lab, serve):
        serve("--socket", lab / "board.sock", "--max-clients", "1", "--max-rate", "1")
        watch = subprocess.Popen([SORRELCTL, "watch", "--service", lab / "board.sock"], stdout=subprocess.PIPE)
        wait_for_line(watch, "frames ")
        watch.kill()
        watch.wait()
        for _ in range(100):  # until the service has noticed; the limit only stops a hang
            r = tool("select", "1", "--service", lab / "board.sock")
            if r.returncode == 0:
                break
        assert (r.returncode, r.stdout) == (0, "frame 1 selected\n"), r.stderr
        r = tool("download", "demo.sif", "--service", lab / "board.sock")
        assert (r.returncode, r.stderr) == (1, "sorrelctl: the board service takes at most 1 calls a second from one "
                                               "client; this one called faster\n")

    def test_a_killed_services_socket_is_replaced_and_a_live_one_is_not(self, lab, serve):
        first = serve("--socket", lab / "board.sock")
        r = tool("serve", "--socket", lab / "board.sock")
        assert (r.returncode, r.stderr) == (1, f"sorrelctl: a board service already answers on {lab / 'board.sock'}\n")
        first.kill()
        first.wait()
        second = serve("--socket", lab / "board.sock")
        assert tool("select", "2", "--service", lab / "board.sock").stdout == "frame 2 selected\n"
        second.send_signal(signal.SIGINT)
        assert second.wait(timeout=60) == -signal.SIGINT

    def test_a_card_is_chosen_by_address_or_slot_and_another_is_opened_beside_the_service(self, lab, monkeypatch, serve):
        monkeypatch.setenv("SORREL_SIM", "kite,wren")
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(lab))
        board = lambda *args: tool("status", *args).stdout.splitlines()[:2]
        assert board("--card", "1") == ["board         Wren_SLM, 256 x 256, 4096 frame buffers", "card          0000:01:01.0"]
        p = serve("--card", "0000:01:00.0")
        assert board() == ["board         Kite_SLM, 512 x 512, 1024 frame buffers", "card          0000:01:00.0"]
        assert board("--card", "1") == ["board         Wren_SLM, 256 x 256, 4096 frame buffers", "card          0000:01:01.0"]
        assert board("--card", "01:00.0")[1] == "card          0000:01:00.0"
        r = tool("status", "--card", "01:01.0", "--service", lab / "sorrel" / "board.sock")
        assert (r.returncode, r.stderr) == (1, f"sorrelctl: --card 01:01.0: the board service on {lab / 'sorrel' / 'board.sock'} holds the card at 0000:01:00.0\n")
        p.send_signal(signal.SIGTERM)
        p.wait(timeout=60)

    def test_one_serve_serves_several_cards_each_on_its_socket_and_sigterm_ends_them_all_safe(self, lab, monkeypatch,
                                                                                             serve):
        monkeypatch.setenv("SORREL_SIM", "kite,kite")
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(lab))
        first, second = lab / "sorrel" / "board.sock", lab / "sorrel" / "board-0000:01:01.0.sock"
        p = serve("--card", "01:00.0", "--card", "1:01.0", cards=2)
        assert sorted(p.serving.splitlines()) == [f"serving Kite_SLM at 0000:01:00.0 on {first}",
                                                  f"serving Kite_SLM at 0000:01:01.0 on {second}"]
        assert [s.stat().st_mode & 0o777 for s in (first, second)] == [0o600, 0o600]
        r = tool("select", "3", "--card", "01:01.0")
        assert (r.returncode, r.stdout, r.stderr) == (0, "frame 3 selected\n", "")
        assert tool("power", "on", "--keep-power", "--card", "1").returncode == 0
        assert tool("power", "on", "--keep-power").returncode == 0
        lines = tool("status", "--card", "1").stdout.splitlines()
        assert "card          0000:01:01.0" in lines and "SLM power     on" in lines
        assert "card          0000:01:00.0" in tool("status").stdout.splitlines(), "no --card: the first card"
        assert last_write(board_writes(lab / "trace" / "slot-1"), REG_FRAME_SELECT) & 0xFFFF == 3
        assert (REG_FRAME_SELECT, 3) not in board_writes(lab / "trace" / "slot-0")
        p.send_signal(signal.SIGTERM)
        out, err = p.communicate(timeout=60)
        assert p.returncode == 0
        assert all(line.startswith("Board service: ") for line in out.decode().splitlines()), out
        assert err.decode().count("sorrelctl: ended by SIGTERM\n") == 2 and err.decode().count(SAFE) == 2, err
        for slot in ("slot-0", "slot-1"):
            assert_left_safe(lab / "trace" / slot)
        assert not first.exists() and not second.exists()

    def test_a_card_not_served_leaves_the_others_served_until_the_serve_ends_however_it_ends(self, lab, monkeypatch,
                                                                                          serve):
        monkeypatch.setenv("SORREL_SIM", "kite,kite")
        monkeypatch.setenv("SORREL_SIM_TRACE", str(lab / "trace"))
        socket = lab / "board.sock"
        p = serve("--card", "01:01.0", "--card", "01:05.0", "--socket", socket)
        wait_for_line(p, "sorrelctl: serve: card 0000:01:05.0 is not served: its worker ended with status 1; the other "
                         "cards are still served", stream=p.stderr)
        r = tool("power", "on", "--keep-power", "--service", socket)
        assert (r.returncode, r.stdout) == (0, "SLM power on\n"), r.stderr
        # The workers end with the serve, even killed; each removes its socket before it ends
        # its board safely.
        p.kill()
        p.wait()
        for _ in range(600):  # the limit only stops a hang
            if not processes_naming(socket):
                break
            time.sleep(0.05)
        assert not processes_naming(socket) and not socket.exists()
        assert_left_safe(lab / "trace" / "slot-1")

    def test_another_user_is_refused_even_through_a_loosened_socket(self, lab, serve):
        if os.geteuid() != 0:
            pytest.skip("needs root to call as another user")
        folder = pathlib.Path(tempfile.mkdtemp(prefix="sorrel-service-"))
        folder.chmod(0o755)
        socket = folder / "board.sock"
        p = serve("--socket", socket)
        try:
            socket.chmod(0o666)
            r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", SORRELCTL, "power",
                                "on", "--service", socket], capture_output=True, text=True, timeout=120)
            assert r.returncode == 1 and r.stdout == ""
            assert r.stderr.startswith("sorrelctl: the board service serves only the processes of user 0, not process ")
            assert r.stderr.endswith(" of user 65534\n")
            assert "SLM power     off" in tool("status", "--service", socket).stdout.splitlines()
        finally:
            p.send_signal(signal.SIGTERM)
            p.wait(timeout=60)
            folder.rmdir()

    def test_another_machine_is_served_through_tls_with_the_labs_certificates_only(self, lab, serve):
        certs = lab / "certs"
        r = tool("certs", certs, "--server", "127.0.0.1,localhost", "--client", "analysis")
        assert r.returncode == 0, r.stderr
        for machine, key in [("server", "server.key"), ("analysis", "client.key")]:
            assert (certs / machine / key).stat().st_mode & 0o777 == 0o600
            assert (certs / machine).stat().st_mode & 0o777 == 0o700
        socket = lab / "board.sock"
        r = tool("serve", "--socket", socket, "--listen", "127.0.0.1:0")
        assert (r.returncode, r.stderr) == (2, "sorrelctl: serve: --listen needs --tls-dir DIR: the board service listens "
                                               "on a network only with mutual TLS (sorrelctl certs makes the files) "
                                               "(see sorrelctl serve --help)\n")
        r = tool("serve", "--socket", socket, "--listen", "127.0.0.1:0", "--tls-dir", certs / "analysis")
        assert (r.returncode, r.stderr) == (
            1, f"sorrelctl: cannot read the TLS file {certs}/analysis/server.pem: No such file or directory\n")
        p = serve("--socket", socket, "--listen", "127.0.0.1:0", "--tls-dir", certs / "server")
        address = p.serving.split(" and tls://")[1]
        r = tool("power", "on", "--keep-power", "--service", f"tls://{address}", "--tls-dir", certs / "analysis")
        assert (r.returncode, r.stdout, r.stderr) == (0, "SLM power on\n", "")
        # The serve names its clients as they come, one over TCP by its certificate and address;
        # one that stays, since a line not yet printed gives way to a newer one.
        watch = subprocess.Popen([SORRELCTL, "watch", "--service", f"tls://{address}", "--tls-dir", certs / "analysis"],
                                 stdout=subprocess.DEVNULL)
        try:
            assert wait_for_line(p, " at 127.0.0.1:").startswith("Board service: 1 client (analysis at 127.0.0.1:")
        finally:
            watch.kill()
            watch.wait()
        assert "SLM power     on" in tool("status", "--service", socket).stdout.splitlines()
        # Another lab's machine: neither side takes the other's certificate.
        assert tool("certs", lab / "other", "--server", "127.0.0.1", "--client", "analysis").returncode == 0
        r = tool("status", "--service", f"tls://{address}", "--tls-dir", lab / "other" / "analysis")
        assert (r.returncode, r.stdout, r.stderr) == (
            1, "", f"sorrelctl: the board service on {address} shows a certificate this client does not take: not one "
                   f"of the authority in {lab}/other/analysis/ca.pem, or not made for that name\n")
        stranger = lab / "stranger"
        stranger.mkdir()
        (stranger / "ca.pem").write_bytes((certs / "analysis" / "ca.pem").read_bytes())
        for name in ["client.pem", "client.key"]:
            (stranger / name).write_bytes((lab / "other" / "analysis" / name).read_bytes())
        r = tool("power", "off", "--service", f"tls://{address}", "--tls-dir", stranger)
        assert (r.returncode, r.stdout, r.stderr) == (
            1, "", f"sorrelctl: the board service on {address} did not take this client's certificate "
                   f"({stranger}/client.pem)\n")
        assert "SLM power     on" in tool("status", "--service", socket).stdout.splitlines()
        # A gRPC client of its own: served with the lab's certificate, not without one nor without TLS.
        authority = (certs / "analysis" / "ca.pem").read_bytes()
        own = grpc.ssl_channel_credentials(authority, (certs / "analysis" / "client.key").read_bytes(),
                                           (certs / "analysis" / "client.pem").read_bytes())
        with grpc.secure_channel(address, own) as channel:
            assert channel.unary_unary("/sorrel.v1.Board/GetStatus")(b"", timeout=60)
        for channel in [grpc.secure_channel(address, grpc.ssl_channel_credentials(authority)),
                        grpc.insecure_channel(address)]:
            with channel, pytest.raises(grpc.RpcError) as refused:
                channel.unary_unary("/sorrel.v1.Board/GetStatus")(b"", timeout=60)
            assert refused.value.code() == grpc.StatusCode.UNAVAILABLE
        p.send_signal(signal.SIGTERM)
        assert p.wait(timeout=60) == -signal.SIGTERM

    def test_the_members_of_the_sockets_group_are_served_and_no_one_else(self, lab, serve):
        if os.geteuid() != 0:
            pytest.skip("needs root to call as another user")
        group = grp.getgrgid(100)
        folder = pathlib.Path(tempfile.mkdtemp(prefix="sorrel-service-"))
        folder.chmod(0o755)
        socket = folder / "board.sock"
        p = serve("--socket", socket, "--group", group.gr_name)
        try:
            assert (socket.stat().st_mode & 0o777, socket.stat().st_gid) == (0o660, 100)
            # A member by a supplementary group, then by its own.
            for ids in (["--regid=65534", "--groups=100"], ["--regid=100", "--clear-groups"]):
                r = subprocess.run(["setpriv", "--reuid=65534", *ids, SORRELCTL, "power", "on", "--keep-power",
                                    "--service", socket], capture_output=True, text=True, timeout=120)
                assert (r.returncode, r.stdout, r.stderr) == (0, "SLM power on\n", ""), ids
            socket.chmod(0o666)
            r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", SORRELCTL, "power",
                                "off", "--service", socket], capture_output=True, text=True, timeout=120)
            assert r.returncode == 1 and r.stdout == ""
            assert r.stderr.startswith("sorrelctl: the board service serves only the processes of user 0 and of the "
                                       "members of group 100, not process ")
            assert "SLM power     on" in tool("status", "--service", socket).stdout.splitlines()
        finally:
            p.send_signal(signal.SIGTERM)
            p.wait(timeout=60)
            folder.rmdir()
