"""`check` passes clean conversions of analytic fields and finds each seeded fault."""

import json
import math
import os
import re

import numpy as np
import pytest

import analytic
import kavro_field
from kavro_field.cli import main

# Whole tables and half tables mirrored with the mode of their parity, with and without the
# symmetry flags: electric, RF amplitude and magnetic fields of both parities.
CLEAN = [(name, half, ksym) for name in analytic.FIELDS for half in (0, 1, -1) for ksym in ((0, 0, 0), (1, 1, 1))]


def _check(capsys, path, *options):
    status = main(["check", path, *options])
    return status, capsys.readouterr().out


def _findings(capsys, path, *options):
    """Exit status and the findings of `check --json`, by code."""
    status = main(["check", path, "--json", *options])
    return status, json.loads(capsys.readouterr().out)["findings"]


@pytest.mark.parametrize("name, half, ksym", CLEAN)
def test_clean_conversion_has_no_findings(conversion, capsys, name, half, ksym):
    """Also the cavity spanning its element and the solenoid between its pole faces, whose field
    meets the element's end planes at right angles: walls, not a cut fringe field."""
    path = conversion(name, half, half * analytic.FIELDS[name].parity, ksym=ksym)
    for options in ((), ("--control", os.path.dirname(path))):
        status, out = _check(capsys, path, *options)
        assert (status, out.splitlines()[-1]) == (0, f"{path}: no findings"), out


@pytest.mark.parametrize("name", analytic.FIELDS)
@pytest.mark.parametrize("half", [1, -1])
def test_wrong_mirror_mode_is_a_jump_across_z_0(conversion, capsys, name, half):
    wrong = half * (3 - analytic.FIELDS[name].parity)
    path = conversion(name, half, wrong)
    status, findings = _findings(capsys, path)
    jumps = [f for f in findings if f["code"] == "continuity" and f["data"]["along"] == "z"]
    assert status == 1 and jumps, findings
    # The jump lies next to the mirror plane, within the few grid steps of one map cell.
    z_grid = kavro_field.load(path).z_grid
    assert min(abs(z_grid[f["node"][2]]) for f in jumps) < analytic.FIELDS[name].half_length / 4


def _rewrite_in_loop_order(path, order):
    """The file with its three component records written in another loop order: (2, 1, 0) puts
    k fastest, the node order of layout 2; (1, 0, 2) trades i and j."""
    data = bytearray(open(path, "rb").read())
    start = 2084
    for _ in range(3):
        values = np.frombuffer(bytes(data[start:start + 1_005_000]), "<f8").reshape((25, 25, 201), order="F")
        data[start:start + 1_005_000] = values.transpose(order).tobytes(order="F")
        start += 1_005_000 + 8
    return bytes(data)


@pytest.mark.parametrize("name, order, code", [
    ("lens", (2, 1, 0), "radial"), ("solenoid", (1, 0, 2), "radial"), ("pillbox", (2, 1, 0), "symmetry")])
def test_arrays_in_another_loop_order_fail_the_structure_checks(conversion, capsys, tmp_path, name, order, code):
    damaged = tmp_path / "reordered"
    damaged.write_bytes(_rewrite_in_loop_order(conversion(name), order))
    status, findings = _findings(capsys, str(damaged))
    assert status == 1 and code in [f["code"] for f in findings], findings


@pytest.mark.parametrize("name, control, code, fits", [
    ("lens", {"aper": 1.9}, "coverage.radius", lambda f: f.r_max / math.sqrt(2)),
    ("solenoid", {"d_elm": 14.0}, "coverage.ends", lambda f: 2 * f.half_length),
])
def test_grid_outside_the_map_is_reported_with_the_size_that_fits(conversion, capsys, name, control, code, fits):
    path = conversion(name, **control)
    status, findings = _findings(capsys, path, "--control", os.path.dirname(path))
    # One finding for the one cause: not also the zero field, jumps or divergence it makes.
    assert status == 1 and [f["code"] for f in findings] == [code], findings
    fit = findings[0]["data"]["fits"]
    assert fits(analytic.FIELDS[name]) * (1 - 1e-5) <= fit <= fits(analytic.FIELDS[name])
    key = next(iter(control))
    path = conversion(name, **{key: fit})
    status, out = _check(capsys, path, "--control", os.path.dirname(path))
    assert status == 0, out


def test_control_of_another_conversion_is_a_finding(conversion, capsys):
    path = conversion("lens", kform_3D=2)
    other = os.path.dirname(conversion("lens", aper=1.9))
    status, findings = _findings(capsys, path, "--control", other)
    # Another conversion's control file is the one finding: the rebuild and the map would restate it.
    assert status == 1 and [(f["code"], f["data"]["what"]) for f in findings] == [("control.mismatch", "x limits")]


def _edited(path, tmp_path, edit):
    """The layout-0 file with its z component changed by edit(Fz), shape (25, 25, 201)."""
    with open(path, "rb") as original:
        data = bytearray(original.read())
    start = 2084 + 2 * (1_005_000 + 8)
    fz = np.frombuffer(bytes(data[start:start + 1_005_000]), "<f8").reshape((25, 25, 201), order="F").copy()
    edit(fz)
    data[start:start + 1_005_000] = fz.tobytes(order="F")
    edited = tmp_path / "edited"
    edited.write_bytes(bytes(data))
    return str(edited)


def _spike(fz):
    fz[12, 12, 100] += 1e-4 * np.abs(fz).max()


def _half_scaled(fz):
    fz[:, :, 101:] *= 1.001


@pytest.mark.parametrize("layout, edit", [(0, _spike), (0, _half_scaled), (0, None), (1, None), (2, None)])
def test_rebuild_finds_edited_nodes_and_passes_every_layout(conversion, capsys, tmp_path, layout, edit):
    path = conversion("lens", kform_3D=layout)
    if edit is not None:
        path = _edited(path, tmp_path, edit)
    status, findings = _findings(capsys, path, "--control", os.path.dirname(conversion("lens", kform_3D=layout)))
    rebuild = [f for f in findings if f["code"] == "rebuild"]
    assert (status, len(rebuild)) == ((0, 0) if edit is None else (1, 1)), findings


@pytest.mark.parametrize("command", [["summary"], ["plot", "-o"], ["export", "--npz"]])
def test_control_file_of_another_conversion_is_refused(conversion, capsys, tmp_path, command):
    """summary, plot and export with a --control that did not make the file: one line, exit 2,
    nothing written; with the file's own control file they run."""
    path = conversion("solenoid", kform_3D=2)
    for control, status in ((os.path.dirname(conversion("pillbox")), 2), (os.path.dirname(path), 0)):
        out = tmp_path / f"out{status}"
        options = [str(out) + (".npz" if command[0] == "export" else ".png")] if len(command) > 1 else []
        assert main([command[0], path, *command[1:], *options, "--control", control]) == status
        err = capsys.readouterr().err
        assert err.count("\n") == (1 if status else 0), err
        if options:
            assert os.path.exists(options[0]) == (status == 0)
