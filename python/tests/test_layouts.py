"""Reading the three layouts, and what damaged or foreign files give."""

import os
import shutil

import numpy as np
import pytest

import kavro_field
from kavro_field.cli import main


def _components(f):
    return [*f.grids, *f.components]


@pytest.mark.parametrize("layout", [1, 2])
def test_text_layouts_give_the_binary_arrays_within_their_rounding(example_files, layout):
    binary, text = kavro_field.load(example_files[0]), kavro_field.load(example_files[layout])
    assert (binary.layout, text.layout) == (0, layout)
    assert text.ksym == binary.ksym and text.Fx.shape == (25, 25, 201)
    for exact, rounded in zip(_components(binary), _components(text)):
        # 15 significant digits at least: within 5e-15 of each value.
        assert np.all(np.abs(exact - rounded) <= 5e-15 * np.abs(exact))
    assert np.allclose(text.limits["z"], binary.limits["z"], rtol=1e-15, atol=0)
    assert (text.kind, text.d_elm is None) == (("E", True) if layout == 2 else (None, False))


@pytest.mark.parametrize("field, layout, kind", [("lens", 2, "E"), ("cusp", 2, "B"), ("cusp", 0, None)])
def test_field_kind_is_what_the_layout_says(conversion, field, layout, kind):
    assert kavro_field.load(conversion(field, kform_3D=layout)).kind == kind


def test_diff_agrees_for_the_layouts_of_one_run_and_not_for_another_run(example_files, conversion, capsys):
    assert main(["diff", example_files[0], example_files[1]]) == 0
    assert main(["diff", example_files[1], example_files[2]]) == 0
    assert main(["diff", example_files[0], example_files[2], "--rtol", "0"]) == 1
    other = conversion("lens", ksym=(0, 0, 0), aper=1.0, d_elm=8.0)
    assert main(["diff", example_files[0], other]) == 1
    assert "differs" in capsys.readouterr().out


def _truncate(data):
    return data[:2_000_000], "2,000,000 bytes, where a field file has 3,017,116 bytes"


def _corrupt_length(data):
    return data[:2080] + (1234).to_bytes(4, "little") + data[2084:], "byte 2080"


def _extra_record(data):
    return data + (4).to_bytes(4, "little") * 2 + (4).to_bytes(4, "little"), "3,017,128 bytes, where"


def _remove_line(line, noticed):
    """Remove a line; a layout of equal lines notices it where the lines run out."""
    def damage(data):
        lines = data.split(b"\r\n")
        return b"\r\n".join(lines[:line - 1] + lines[line:]), f"line {noticed}:"
    return damage


def _not_a_number(data):
    return data.replace(b"0.000000000000000E+000", b"0.000000000000000X+000", 1), "line"


@pytest.mark.parametrize("layout, damage", [
    (0, _truncate), (0, _corrupt_length), (0, _extra_record), (1, _remove_line(2, 10)),
    (1, _remove_line(40, 125712)), (2, _remove_line(7, 125630)), (2, _not_a_number), (1, _not_a_number)])
def test_damaged_file_names_where_it_departs(example_files, tmp_path, capsys, layout, damage):
    damaged, where = damage(open(example_files[layout], "rb").read())
    path = tmp_path / "damaged"
    path.write_bytes(damaged)
    with pytest.raises(kavro_field.FieldFileError, match=where):
        kavro_field.load(path)
    assert main(["info", str(path)]) == 2
    err = capsys.readouterr().err
    assert err.startswith(f"kavro-field: {path}: ") and err.count("\n") == 1


@pytest.mark.parametrize("make", [
    lambda p: p.write_bytes(b""),
    lambda p: p.mkdir(),
    lambda p: p.write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 8),
    lambda p: shutil.copy(os.path.join(os.path.dirname(__file__), "analytic.py"), p),
    lambda p: None,
], ids=["empty", "directory", "png", "python source", "missing"])
def test_foreign_input_gives_one_line_and_status_2_on_every_command(tmp_path, capsys, make):
    path = tmp_path / "input"
    make(path)
    for argv in (["info", str(path)], ["check", str(path)], ["export", str(path), "--npz", str(tmp_path / "o")]):
        assert main(argv) == 2
        err = capsys.readouterr().err
        assert err.startswith(f"kavro-field: {path}: ") and err.count("\n") == 1 and "Traceback" not in err
