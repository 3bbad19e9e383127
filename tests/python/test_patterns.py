"""sorrel.zernike, sorrel.compose and sorrel.read_sequence against computations written out
here, as the C++ tests write them: the plain sum of the 20 polynomials, the worked values of
the Zernike phase, the bitmap conversion the long way, and table[(pattern + slm + sys) % 256];
and every argument they cannot take raises."""

import os
import pathlib

import numpy as np
import pytest

import sorrel
from conftest import write_bitmap, write_lut


def reference_phase(c, width, height, radius):
    """The phase the long way: the 20 polynomials as written, summed per pixel, wrapped to one
    wave and quantised to trunc(f x 255); and where the sum lies within rounding of a level."""
    c = list(c) + [0.0] * (20 - len(c))
    col, row = np.meshgrid(np.arange(width), np.arange(height))
    u = (col - width // 2) / radius
    v = (height // 2 - row) / radius
    r2 = u * u + v * v
    z = [np.ones_like(u), u, v, 2 * r2 - 1, u * u - v * v, 2 * u * v, (3 * r2 - 2) * u, (3 * r2 - 2) * v,
         6 * r2 ** 2 - 6 * r2 + 1, u ** 3 - 3 * u * v * v, 3 * u * u * v - v ** 3, (4 * r2 - 3) * (u * u - v * v),
         (4 * r2 - 3) * 2 * u * v, (10 * r2 ** 2 - 12 * r2 + 3) * u, (10 * r2 ** 2 - 12 * r2 + 3) * v,
         20 * r2 ** 3 - 30 * r2 ** 2 + 12 * r2 - 1, u ** 4 - 6 * u * u * v * v + v ** 4, 4 * u ** 3 * v - 4 * u * v ** 3,
         70 * r2 ** 4 - 140 * r2 ** 3 + 90 * r2 ** 2 - 20 * r2 + 1,
         252 * r2 ** 5 - 630 * r2 ** 4 + 560 * r2 ** 3 - 210 * r2 ** 2 + 30 * r2 - 1]
    s = 0.5 * sum(ck * zk for ck, zk in zip(c, z))
    f = np.where(s > 0, s - np.trunc(s), s - np.trunc(s) + 1)
    level = (f * 255).astype(np.int64).astype(np.uint8)
    boundary = np.abs(f * 255 - np.round(f * 255)) < 1e-6
    return level, boundary


class TestZernike:
    def test_worked_piston_values(self):
        for piston, level in [(0.25, 31), (-0.25, 223), (-1.25, 95), (-3, 127), (2, 0), (4.5, 63), (1, 127)]:
            image = sorrel.zernike([piston])
            assert image.dtype == np.uint8 and image.shape == (512, 512)
            assert (image == level).all(), piston
        assert (sorrel.zernike([]) == 255).all()

    def test_every_term_equals_the_plain_sum_on_both_boards(self):
        coefficients = [0.3, -1.1, 0.7, 2.5, -0.4, 0.9, 0.05, -0.6, 0.2, 0.33,
                        -0.21, 0.12, 0.08, -0.03, 0.04, 0.02, -0.015, 0.011, 0.006, -0.002]
        for board, side, radius in [("kite", 512, 300), ("wren", 256, 150)]:
            image = sorrel.zernike(coefficients, board=board)
            level, boundary = reference_phase(coefficients, side, side, radius)
            differs = image != level
            assert not (differs & ~boundary).any(), board
            assert differs.sum() <= boundary.sum()

    def test_terms_by_name_are_the_terms_in_order(self):
        named = sorrel.zernike({"YTilt": 1.0, "Power": 0.5})
        ordered = sorrel.zernike([0, 0, 1.0, 0.5])
        np.testing.assert_array_equal(named, ordered)
        assert sorrel.ZERNIKE_KEYS[2] == "YTilt" and len(sorrel.ZERNIKE_KEYS) == 20

    def test_row_zero_is_the_top(self):
        image = sorrel.zernike({"YTilt": 1.0}, board="wren")
        level, _ = reference_phase([0, 0, 1.0], 256, 256, 150)
        np.testing.assert_array_equal(image[0], level[0])
        assert image[0, 0] != image[255, 0]

    def test_it_is_what_a_zernike_file_of_the_same_coefficients_gives(self, work):
        (work / "z.zrn").write_text("XTilt = 2.5\nComaY 0.75\n")
        np.testing.assert_array_equal(sorrel.compose(str(work / "z.zrn")),
                                      sorrel.zernike({"XTilt": 2.5, "ComaY": 0.75}))

    @pytest.mark.parametrize("coefficients, error", [
        ([0.0] * 21, ValueError), ("Piston", TypeError), (3.0, TypeError), ({"piston": 1}, ValueError),
        ({"Piston": "1"}, TypeError), ([1, None], TypeError), ({1: 1.0}, TypeError), ([True], TypeError)])
    def test_coefficients_it_cannot_take_raise(self, coefficients, error):
        with pytest.raises(error):
            sorrel.zernike(coefficients)

    @pytest.mark.parametrize("board, error", [("Kite", ValueError), ("", ValueError), (512, TypeError),
                                              (None, TypeError)])
    def test_boards_it_does_not_know_raise(self, board, error):
        with pytest.raises(error):
            sorrel.zernike([0.25], board=board)


@pytest.fixture
def pictures(work):
    """Two 512 x 512 pictures, two compensation images and two tables, written as files."""
    y, x = np.mgrid[0:512, 0:512]
    p = {"ramp": ((x + 3 * y) % 256).astype(np.uint8),
         "rings": (((x - 256) ** 2 + (y - 256) ** 2) // 64 % 256).astype(np.uint8),
         "slm": ((x ^ y) & 0x3F).astype(np.uint8),
         "sys": ((x * 7 + y) % 256).astype(np.uint8),
         "linear": np.arange(256, dtype=np.uint8), "scrambled": ((np.arange(256) * 7 + 3) % 256).astype(np.uint8)}
    for name in ("ramp", "rings", "slm", "sys"):
        write_bitmap(work / f"{name}.bmp", p[name])
    write_lut(work / "linear.lut", p["linear"])
    write_lut(work / "scrambled.txt", p["scrambled"])
    return p


def expected_frame(pattern, table, slm=None, sys_=None):
    total = pattern.astype(np.int64)
    if slm is not None:
        total = total + slm + sys_
    return table[total % 256]


class TestCompose:
    def test_files_compose_as_the_program_composes_them(self, work, pictures):
        p = pictures
        frame = sorrel.compose("ramp.bmp", "scrambled.txt")
        np.testing.assert_array_equal(frame, expected_frame(p["ramp"], p["scrambled"]))
        frame = sorrel.compose(work / "rings.bmp", work / "scrambled.txt", compensation=("slm.bmp", "sys.bmp"))
        np.testing.assert_array_equal(frame, expected_frame(p["rings"], p["scrambled"], p["slm"], p["sys"]))

    def test_arrays_compose_alike(self, pictures):
        p = pictures
        frame = sorrel.compose(p["rings"], list(p["scrambled"]), compensation=(p["slm"], np.asfortranarray(p["sys"])))
        np.testing.assert_array_equal(frame, expected_frame(p["rings"], p["scrambled"], p["slm"], p["sys"]))
        np.testing.assert_array_equal(sorrel.compose(p["ramp"]), p["ramp"])

    def test_a_wren_frame_takes_every_second_pixel_of_a_kite_bitmap(self, pictures):
        frame = sorrel.compose("ramp.bmp", "linear.lut", board="wren")
        np.testing.assert_array_equal(frame, pictures["ramp"][::2, ::2])

    def test_a_small_bitmap_is_enlarged_by_whole_blocks(self, work):
        small = np.arange(128 * 128, dtype=np.uint32).reshape(128, 128).astype(np.uint8)
        write_bitmap(work / "small.bmp", small)
        np.testing.assert_array_equal(sorrel.compose("small.bmp"), np.kron(small, np.ones((4, 4), np.uint8)))

    def test_files_that_cannot_be_read_raise_naming_them(self, work, pictures):
        with pytest.raises(sorrel.Error, match="Could not read the pattern file: gone.bmp"):
            sorrel.compose("gone.bmp")
        with pytest.raises(sorrel.Error, match="Could not read the pattern file: ramp.tif"):
            (work / "ramp.tif").write_bytes(b"II*\0")
            sorrel.compose("ramp.tif")
        with pytest.raises(sorrel.Error, match="Could not read the LUT file: short.lut"):
            write_lut(work / "short.lut", range(255))
            sorrel.compose("ramp.bmp", "short.lut")
        with pytest.raises(sorrel.Error, match="Could not read the SLM compensation file: none.bmp"):
            sorrel.compose("ramp.bmp", compensation=("none.bmp", "sys.bmp"))
        (work / "broken.bmp").write_bytes(b"BM" + b"\0" * 20)
        with pytest.raises(sorrel.Error, match="Could not read the pattern file: broken.bmp"):
            sorrel.compose("broken.bmp")

    @pytest.mark.parametrize("pattern, error", [
        (np.zeros((512, 512), np.float64), TypeError), (np.zeros((512, 512), np.int8), TypeError),
        (np.zeros((256, 256), np.uint8), ValueError), (np.zeros((512, 512, 1), np.uint8), ValueError),
        (np.zeros(512 * 512, np.uint8), ValueError), ([[0] * 512] * 512, TypeError), ("ramp.bmp\0.tif", ValueError),
        (None, TypeError)])
    def test_patterns_it_cannot_take_raise(self, pattern, error):
        with pytest.raises(error):
            sorrel.compose(pattern)

    def test_file_names_are_the_systems_bytes(self, work, pictures):
        name = os.fsdecode(b"caf\xe9.bmp")  # not UTF-8: a lone surrogate in the str
        write_bitmap(work / name, pictures["rings"])
        for given in (name, b"caf\xe9.bmp", work / name):
            np.testing.assert_array_equal(sorrel.compose(given, b"linear.lut"), pictures["rings"])
        with pytest.raises(sorrel.Error, match=r"^Could not read the pattern file: gon\\xe9.bmp"):
            sorrel.compose(os.fsdecode(b"gon\xe9.bmp"))

    @pytest.mark.parametrize("lut, error", [(list(range(255)), TypeError), ([300] * 256, ValueError),
                                            ([-1] * 256, ValueError), ([0.5] * 256, TypeError), (7, TypeError)])
    def test_tables_it_cannot_take_raise(self, pictures, lut, error):
        with pytest.raises(error):
            sorrel.compose(pictures["ramp"], lut)

    @pytest.mark.parametrize("compensation, error", [(("slm.bmp",), ValueError), ("slm.bmp", TypeError),
                                                     (("slm.bmp", "sys.bmp", "sys.bmp"), ValueError),
                                                     ((np.zeros((512, 512), np.uint16), "sys.bmp"), TypeError)])
    def test_compensations_it_cannot_take_raise(self, pictures, compensation, error):
        with pytest.raises(error):
            sorrel.compose(pictures["ramp"], compensation=compensation)


class TestReadSequence:
    def test_entries_come_back_with_absolute_paths(self, work):
        # A line that starts with "/" is a comment, even when it names a file.
        (work / "run.sif").write_text("// a comment\n\nramp.bmp, linear.lut\n rings.bmp, x.lut\n"
                                      "a.zrn ,, b.lut ,\n/abs/c.bmp,d.lut\nonly-one.bmp\nsub/e.bmp f.lut\n")
        assert sorrel.read_sequence("run.sif") == [
            (str(work / "ramp.bmp"), str(work / "linear.lut")), (str(work / "a.zrn"), str(work / "b.lut")),
            (str(work / "sub/e.bmp"), str(work / "f.lut"))]
        assert sorrel.read_sequence(pathlib.Path("run.sif")) == sorrel.read_sequence(str(work / "run.sif"))

    def test_entries_come_back_as_names_the_module_takes_back(self, work, pictures):
        write_bitmap(work / os.fsdecode(b"caf\xe9.bmp"), pictures["ramp"])
        (work / os.fsdecode(b"r\xe9.sif")).write_bytes(b"caf\xe9.bmp, linear.lut\n")
        entries = sorrel.read_sequence(b"r\xe9.sif")
        assert entries == [(os.fsdecode(os.fsencode(work) + b"/caf\xe9.bmp"), str(work / "linear.lut"))]
        np.testing.assert_array_equal(sorrel.compose(*entries[0]), pictures["ramp"])

    def test_a_file_without_entries_warns_in_the_systems_words(self, work):
        (work / "empty.sif").write_text("// nothing\n")
        with pytest.warns(sorrel.SorrelWarning, match="^Empty SIF$"):
            assert sorrel.read_sequence("empty.sif") == []

    def test_what_cannot_be_read_raises(self, work):
        (work / "run.Sif").write_text("a.bmp, b.lut\n")
        for path in ("missing.sif", "run.Sif", str(work)):
            with pytest.raises(sorrel.Error, match="^Could not read SIF: "):
                sorrel.read_sequence(path)
        for path in (None, 5):
            with pytest.raises(TypeError):
                sorrel.read_sequence(path)
        with pytest.raises(ValueError, match="NUL"):
            sorrel.read_sequence("run.Sif\0.sif")
