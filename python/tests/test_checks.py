"""`check` passes clean conversions of analytic fields and finds each seeded fault."""

import math
import os
import re

import numpy as np
import pytest

import analytic
from kavro_field.cli import main

# Whole tables and half tables mirrored with the mode of their parity, with and without the
# symmetry flags: electric, RF amplitude and magnetic fields of both parities.
CLEAN = [(name, half, ksym) for name in analytic.FIELDS for half in (0, 1, -1) for ksym in ((0, 0, 0), (1, 1, 1))]


def _check(capsys, path, *options):
    status = main(["check", path, *options])
    return status, capsys.readouterr().out


@pytest.mark.parametrize("name, half, ksym", CLEAN)
def test_clean_conversion_has_no_findings(conversion, capsys, name, half, ksym):
    path = conversion(name, half, half * analytic.FIELDS[name].parity, ksym=ksym)
    status, out = _check(capsys, path, "--control", os.path.dirname(path))
    assert (status, out.splitlines()[-1]) == (0, f"{path}: no findings"), out


@pytest.mark.parametrize("name", analytic.FIELDS)
@pytest.mark.parametrize("half", [1, -1])
def test_wrong_mirror_mode_is_a_jump_across_z_0(conversion, capsys, name, half):
    wrong = half * (3 - analytic.FIELDS[name].parity)
    status, out = _check(capsys, conversion(name, half, wrong))
    jumps = [line for line in out.splitlines() if line.startswith("continuity:") and "along z" in line]
    assert status == 1 and jumps, out
    # The jump lies next to the mirror plane, within the few grid steps of one map cell.
    z = [abs(float(re.search(r"z = (\S+) \(node", line).group(1))) for line in jumps]
    assert min(z) < analytic.FIELDS[name].half_length / 4


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


@pytest.mark.parametrize("name, order, finding", [
    ("lens", (2, 1, 0), "radial:"), ("solenoid", (1, 0, 2), "radial:"), ("pillbox", (2, 1, 0), "symmetry:")])
def test_arrays_in_another_loop_order_fail_the_structure_checks(conversion, capsys, tmp_path, name, order, finding):
    damaged = tmp_path / "reordered"
    damaged.write_bytes(_rewrite_in_loop_order(conversion(name), order))
    status, out = _check(capsys, str(damaged))
    assert status == 1 and finding in out, out


@pytest.mark.parametrize("name, control, finding, fits", [
    ("lens", {"aper": 1.9}, "beyond the map's radius", lambda f: f.r_max / math.sqrt(2)),
    ("solenoid", {"d_elm": 14.0}, "beyond the map's ends", lambda f: 2 * f.half_length),
])
def test_grid_outside_the_map_is_reported_with_the_size_that_fits(conversion, capsys, name, control, finding, fits):
    path = conversion(name, **control)
    status, out = _check(capsys, path, "--control", os.path.dirname(path))
    line = next(line for line in out.splitlines() if finding in line)
    # One finding for the one cause: not also the zero field, jumps or divergence it makes.
    assert status == 1 and out.splitlines()[-1].endswith(": 1 finding"), out
    fit = float(re.search(r"up to (\S+) fits", line).group(1))
    assert fits(analytic.FIELDS[name]) * (1 - 1e-5) <= fit <= fits(analytic.FIELDS[name])
    key = next(iter(control))
    path = conversion(name, **{key: fit})
    status, out = _check(capsys, path, "--control", os.path.dirname(path))
    assert status == 0, out


def test_control_of_another_conversion_is_a_finding(conversion, capsys):
    path = conversion("lens", kform_3D=2)
    other = os.path.dirname(conversion("lens", aper=1.9))
    status, out = _check(capsys, path, "--control", other)
    assert status == 1 and "control: the file's x runs from" in out
