"""The inputs read by the converter's rules: the list-directed case table shared with the
converter's unit tests, the rows' two paths, and the rebuilt field against the converter's file."""

import os
import re

import numpy as np
import pytest

from conftest import SOURCE_DIR
from kavro_field.inputs import read_inputs, trace
from kavro_field.inputs.names import shortest_text
from kavro_field.fieldfiles.layouts import load
from kavro_field.inputs.listread import Lines, ReadFailure, read_list

_ESCAPE = re.compile(r"\\(x[0-9a-fA-F]{2}|.)")


def _unescape(text):
    return _ESCAPE.sub(lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), chr(int(m.group(1)[1:], 16))
                                                                       if m.group(1)[0] == "x" else m.group(1)), text)


def _table():
    with open(os.path.join(SOURCE_DIR, "tests", "data", "list_directed_cases.tsv"), encoding="latin-1") as table:
        rows = [line.rstrip("\n").split("\t") for line in table if line.strip() and not line.startswith("#")]
    return [pytest.param(items, _unescape(text), expected, _unescape(next_line), id=f"{items}:{text}")
            for items, text, expected, next_line in rows]


@pytest.mark.parametrize("items, text, expected, next_line", _table())
def test_list_directed_case(items, text, expected, next_line):
    src = Lines(text.encode("latin-1"), 1, "input.txt")
    values = [7 if kind == "i" else 0.5 for kind in items]
    try:
        read_list(src, values, [kind == "i" for kind in items])
        got = values
    except ReadFailure as failure:
        got = f"fail {failure.number}"
    if expected.startswith("fail"):
        assert got == expected
        return
    want = [int(v) if kind == "i" else float(v) for kind, v in zip(items, expected.split())]
    assert [repr(v) for v in got] == [repr(v) for v in want]
    assert (src.text(src.next) if src.next < src.count else "EOF") == next_line


def _write_inputs(folder, r_intervals, z_intervals, body):
    (folder / "t.txt").write_text(f"title\n{'(Rmin,Zmin) :':15}0 0\n{'(Rmax,Zmax) :':15}1 2\n"
                                  f"{'Intervals (r,z) :':22}{r_intervals} {z_intervals}\n\n\n\n" + body)
    (folder / "poisson_to_kavro.dat").write_text("c\nc\nt.txt\n0\n0\n1\n0\n0 0 0\n1\n0.5\n1\n1\n")


ROW_FORMS = ["{:.8E}", "{:.9E}", "{!r}", "{:.3f}", "{:.17g}", "{:.8E}"]


@pytest.mark.parametrize("odd_every", [0, 7, 3])
def test_rows_plain_and_general_read_alike(tmp_path, odd_every):
    """A table read by the plain path, and the same with every so many rows spread, commented,
    comma-separated or in D form, gives the same map bit for bit."""
    rng = np.random.default_rng(odd_every)
    values = rng.normal(size=(11 * 9, 4)) * 10.0 ** rng.integers(-30, 30, size=(11 * 9, 4))
    rows, written = [], []
    for n, row in enumerate(values):
        texts = [ROW_FORMS[(n + c) % len(ROW_FORMS)].format(v) for c, v in enumerate(row)]
        written.append([float(t) for t in texts])
        if odd_every and n % odd_every == 1:
            style = n // odd_every % 3
            line = (" ".join(texts[:2]) + "\n  " + " ".join(texts[2:]) if style == 0 else
                    ", ".join(t.replace("E", "D") for t in texts) if style == 1 else " ".join(texts) + " remark")
        else:
            line = "  ".join(texts) + " 1.0"
        rows.append(line)
    _write_inputs(tmp_path, 10, 8, "\n".join(rows) + "\n")
    inputs = read_inputs(tmp_path)
    written = np.array(written)
    assert np.array_equal(inputs.radial.T.ravel().view(np.int64), written[:, 2].view(np.int64))
    assert np.array_equal(inputs.axial.T.ravel().view(np.int64), written[:, 3].view(np.int64))


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_rebuilt_field_is_the_converters(example_files, layout):
    f = load(example_files[layout])
    rebuilt = read_inputs(os.path.dirname(example_files[layout])).field3d()
    for mine, theirs in zip((rebuilt.Fx, rebuilt.Fy, rebuilt.Fz), (f.Fx, f.Fy, f.Fz)):
        if layout == 0:
            assert np.array_equal(mine.view(np.int64), theirs.view(np.int64))
        else:
            assert np.allclose(mine, theirs, rtol=1e-14, atol=1e-300)


@pytest.mark.parametrize("value, text", [(-0.0, "-0.0"), (2.059, "2.059"), (1e-4, "1e-04"), (100.0, "100.0"),
                                         (1.5, "1.5"), (1e22, "1e+22"), (123456789.0, "123456789.0"),
                                         (0.001234, "0.001234"), (float("inf"), "inf")])
def test_shortest_text(value, text):
    assert shortest_text(value) == text


@pytest.mark.parametrize("text, number, unit", [("1e400", 64, 2), ("nan", 59, 2), ("--", 59, 2), ("", 24, 2)])
def test_row_failure_is_the_converters(tmp_path, text, number, unit):
    _write_inputs(tmp_path, 2, 2, "0 0 1 1\n" * 4 + f"0 0 1 {text}\n" + "0 0 1 1\n" * 4)
    outcome = trace(tmp_path).outcome
    assert (outcome.outcome, outcome.message, outcome.unit) == ("failure", number, unit)
