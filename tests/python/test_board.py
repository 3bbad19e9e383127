"""sorrel.open_board on the simulated card, in this interpreter: frames arrive as the card
shows them (read back through the trace), phases as their levels through the wavelength's
LUT, runs, selection and power reach the card, the settings store gives the defaults, and
whatever a script passes wrongly raises."""

import os
import time

import numpy as np
import pytest

import sorrel
from conftest import (CONTROL_SLM_POWER, REG_CONTROL, REG_TIMING_A, REG_TIMING_B, board_writes, last_write,
                      positions_shown, read_pgm, write_settings)


# The LUT of the wavelength 633nm in the fixture's working folder: every level elsewhere.
LUT_633 = (np.arange(256) * 7 + 3) % 256


@pytest.fixture(scope="module")
def traced(tmp_path_factory):
    """One board for the module's tests, its trace in a folder of its own, opened in a working
    folder that holds the LUT of 633nm."""
    folder = tmp_path_factory.mktemp("board")
    write_settings(folder, {"FrameRate": "200", "LaserDuty": "40", "LaserAGain": "120", "LaserBGain": "60",
                            "LC_Type": "0", "TrueFrames": "5"})
    (folder / "LUT_Files").mkdir()
    (folder / "LUT_Files" / "633nm.lut").write_text("".join(f"{i} {v}\n" for i, v in enumerate(LUT_633)))
    saved = {name: os.environ.get(name) for name in ("SORREL_REGISTRY", "SORREL_SIM_TRACE")}
    os.environ["SORREL_REGISTRY"] = str(folder / "registry")
    os.environ["SORREL_SIM_TRACE"] = str(folder / "trace")
    cwd = os.getcwd()
    os.chdir(folder)
    try:
        board = sorrel.open_board()
    finally:
        os.chdir(cwd)
    yield board, folder / "trace"
    board.close()
    for name, value in saved.items():
        if value is None:
            os.environ.pop(name, None)
        else:
            os.environ[name] = value


def picture(seed):
    y, x = np.mgrid[0:512, 0:512]
    return ((x * 131 + y * 7 + seed * 29) % 256).astype(np.uint8)


def test_the_settings_store_gives_the_defaults(traced):
    board, trace = traced
    assert board.spec.BoardName == "Kite_SLM" and board.spec.shape == (512, 512) and board.spec.MaxFrames == 1024
    assert board.run_parameters == {"frame_rate": 200, "laser_duty": 40, "laser_a_gain": 120, "laser_b_gain": 60}
    assert board.true_frames == 5
    writes = board_writes(trace)
    assert last_write(writes, REG_TIMING_A) & 0xFF == 120 and last_write(writes, REG_TIMING_B) & 0xFF == 60


def test_frames_arrive_as_given_in_any_memory_order(traced):
    board, trace = traced
    frame = picture(1)
    board.write_frame(7, frame)
    np.testing.assert_array_equal(read_pgm(trace / "frame-0007.pgm"), frame)
    np.testing.assert_array_equal(frame, picture(1)), "the script's array is not reordered"
    board.write_frame(8, np.asfortranarray(picture(2)))
    np.testing.assert_array_equal(read_pgm(trace / "frame-0008.pgm"), picture(2))
    wide = np.zeros((512, 1024), np.uint8)
    wide[:, ::2] = picture(3)
    board.write_frame(9, wide[:, ::2])
    np.testing.assert_array_equal(read_pgm(trace / "frame-0009.pgm"), picture(3))
    board.write_frame(np.int64(10), picture(4)[::-1, ::-1])
    np.testing.assert_array_equal(read_pgm(trace / "frame-0010.pgm"), picture(4)[::-1, ::-1])
    board.write_frame(1023, picture(5))
    assert (trace / "frame-1023.pgm").exists()


def phases_of(levels):
    """Phases 0.3 of a level above each level, a few waves away, so that every one wraps."""
    waves = np.arange(levels.size).reshape(levels.shape) % 5 - 2
    return 2 * np.pi * (levels + 0.3 + 256 * waves) / 256


def test_phases_arrive_as_their_levels_through_the_lut_of_the_wavelength(traced):
    board, trace = traced
    levels = picture(6)
    phases = phases_of(levels)
    board.set_phase(11, phases)
    np.testing.assert_array_equal(read_pgm(trace / "frame-0011.pgm"), levels)
    board.set_phase(12, np.asfortranarray(phases.astype(np.float32)), wavelength="633nm")
    np.testing.assert_array_equal(read_pgm(trace / "frame-0012.pgm"), LUT_633[levels])
    wide = np.zeros((512, 1024), np.float32)
    wide[:, 1::2] = phases_of(picture(7))[::-1]
    board.set_phase(13, wide[::-1, 1::2], "633nm")
    np.testing.assert_array_equal(read_pgm(trace / "frame-0013.pgm"), LUT_633[picture(7)])
    np.testing.assert_array_equal(phases, phases_of(levels)), "the script's phases stay as they were"
    with pytest.raises(ValueError, match="no LUT file for the wavelength 830nm: .*/LUT_Files/830nm.lut"):
        board.set_phase(13, phases, "830nm")


def test_runs_selection_and_power_reach_the_card(traced):
    board, trace = traced
    board.set_run_parameters(frame_rate=1000, laser_a_gain=255)
    assert board.run_parameters["laser_a_gain"] == 255 and board.run_parameters["laser_duty"] == 40
    assert last_write(board_writes(trace), REG_TIMING_A) & 0xFF == 255
    # Six image frames of 164.1 us: the rate the run reaches, not the one asked.
    assert board.image_frames == 6 and board.reached_frame_rate == pytest.approx(1015.64, abs=0.005)
    board.power = True
    assert board.power is True
    assert last_write(board_writes(trace), REG_CONTROL) & CONTROL_SLM_POWER
    board.select(8)
    board.run([7, 8], loop=True)
    assert positions_shown(board, {0, 1}) == {0, 1}
    board.stop()
    board.run([7], loop=False)
    for _ in range(200):
        if not board.status().running:
            break
        time.sleep(0.005)
    assert not board.status().running
    board.power = False
    assert board.power is False


@pytest.mark.parametrize("call, error", [
    (lambda b: b.write_frame(1024, picture(0)), IndexError),
    (lambda b: b.write_frame(-1, picture(0)), IndexError),
    (lambda b: b.write_frame(2 ** 80, picture(0)), ValueError),
    (lambda b: b.write_frame(1.0, picture(0)), TypeError),
    (lambda b: b.write_frame("1", picture(0)), TypeError),
    (lambda b: b.write_frame(0, picture(0).astype(np.uint16)), TypeError),
    (lambda b: b.write_frame(0, picture(0).astype(np.float32)), TypeError),
    (lambda b: b.write_frame(0, picture(0)[:256]), ValueError),
    (lambda b: b.write_frame(0, picture(0).T[None]), ValueError),
    (lambda b: b.write_frame(0, picture(0).ravel()), ValueError),
    (lambda b: b.write_frame(0, picture(0).tolist()), TypeError),
    (lambda b: b.write_frame(0, bytes(512 * 512)), TypeError),
    (lambda b: b.write_frame(0, None), TypeError),
    (lambda b: b.set_phase(0, np.zeros((512, 511))), ValueError),
    (lambda b: b.set_phase(0, np.zeros((512, 512), np.int32)), TypeError),
    (lambda b: b.set_phase(0, np.zeros((512, 512), np.float16)), TypeError),
    (lambda b: b.set_phase(0, np.zeros((512, 512)).tolist()), TypeError),
    (lambda b: b.set_phase(0, np.where(picture(0) == 9, np.nan, 0.0)), ValueError),
    (lambda b: b.set_phase(0, np.full((512, 512), -np.inf, np.float32)), ValueError),
    (lambda b: b.set_phase(0, np.zeros((512, 512)), "830nm"), ValueError),
    (lambda b: b.set_phase(0, np.zeros((512, 512)), "../LUT_Files/633nm"), ValueError),
    (lambda b: b.set_phase(0, np.zeros((512, 512)), 633), TypeError),
    (lambda b: b.set_phase(1024, np.zeros((512, 512))), IndexError),
    (lambda b: b.set_run_parameters(frame_rate=0), ValueError),
    (lambda b: b.set_run_parameters(frame_rate=1001), ValueError),
    (lambda b: b.set_run_parameters(laser_duty=101), ValueError),
    (lambda b: b.set_run_parameters(laser_a_gain=256), ValueError),
    (lambda b: b.set_run_parameters(laser_b_gain=-1), ValueError),
    (lambda b: b.set_run_parameters(frame_rate="100"), TypeError),
    (lambda b: b.set_run_parameters(laser_duty=50.0), TypeError),
    (lambda b: b.run([]), ValueError),
    (lambda b: b.run([0, 1024]), IndexError),
    (lambda b: b.run("01"), TypeError),
    (lambda b: b.run(5), TypeError),
    (lambda b: b.run([0, None]), TypeError),
    (lambda b: b.run([0] * 65537), ValueError),
    (lambda b: b.select(4096), IndexError),
    (lambda b: b.select(None), TypeError),
    (lambda b: setattr(b, "power", 1), TypeError),
    (lambda b: setattr(b, "power", "on"), TypeError),
    (lambda b: b.close(keep_power="no"), TypeError),
])
def test_what_the_board_cannot_take_raises_and_changes_nothing(traced, call, error):
    board, trace = traced
    before = board_writes(trace)
    with pytest.raises(error):
        call(board)
    assert board_writes(trace) == before
    assert not board.closed


@pytest.mark.parametrize("kwargs, error", [({"modulator_type": "amp"}, ValueError), ({"modulator_type": 2}, ValueError),
                                           ({"true_frames": 2}, ValueError), ({"true_frames": "3"}, TypeError),
                                           ({"true_frames": 3.0}, TypeError), ({"keep_power": "no"}, TypeError),
                                           ({"modulator_type": "\udce9"}, ValueError)])
def test_open_board_refuses_values_it_cannot_take_before_it_opens(kwargs, error):
    with pytest.raises(error):
        sorrel.open_board(**kwargs)


def test_a_second_board_of_this_process_is_refused(traced):
    with pytest.raises(sorrel.CardBusy, match="already open in this process"):
        sorrel.open_board()
    assert not traced[0].closed
