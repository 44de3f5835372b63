"""The detectors behind `lint`'s and `check`'s named mistakes, on tables of exact fields converted
by the converter: where a field is cut and where it meets a wall, the approximation's step against
its closed form and the finer mesh that passes, a split at the end planes, a half table's symmetry
plane, a control file's missing or extra line, inputs that are not text, a field file against
another control file."""

import dataclasses
import os

import numpy as np
import pytest

import analytic
from kavro_field.analysis import ends, mesh, shape
from kavro_field.analysis.checks import check_file
from kavro_field.analysis.crosscheck import file_control_mismatch
from kavro_field.inputs.nottext import not_text
from kavro_field.inputs import trace
from kavro_field.inputs.prepared import output_grid
from kavro_field.fieldfiles.layouts import load

GAUSS = analytic.FIELDS["gaussian"]


def _trace(folder, field, half=0, kmirror_z=0, **control):
    analytic.convert(str(folder), field, half, kmirror_z, **control)
    return trace(str(folder))


def _map_codes(t):
    """Codes of the detectors over a traced conversion's map."""
    m = t.inputs
    (lower, upper), _ = output_grid(t.control)["z"]
    element = (upper,) if t.control["ksym_z"] != 0 else (lower, upper)
    return ([d.code for d in ends.table_end_cuts(m.r_node, m.z_node, m.radial, m.axial)]
            + [d.code for d in ends.element_end_cuts(m.r_node, m.z_node, m.axial, element)])


# name: field, half, kmirror_z, control, codes of the map; file codes of plain check's end rule.
CUTS = {
    "table stops at 43 % of its peak": (dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52), 0, 0,
                                        {"d_elm": 2.6}, ["fringe.table-end"], []),  # end planes a hair beyond the map
    "the same table, element a step shorter": (dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52), 0, 0,
                                               {"d_elm": 2.5}, ["fringe.table-end"] + ["fringe.element-end"] * 2,
                                               ["fringe.beyond-end", "fringe.beyond-end"]),
    "its clean twin solved longer": (GAUSS, 0, 0, {"d_elm": 10.0}, [], []),
    "element end 0.1 inside a strong map end": (dataclasses.replace(GAUSS, half_length=2.0, z_intervals=80), 0, 0,
                                                {"d_elm": 3.8}, ["fringe.table-end"] + ["fringe.element-end"] * 2,
                                                ["fringe.beyond-end", "fringe.beyond-end"]),
    "element end inside, map end weak": (dataclasses.replace(GAUSS, half_length=3.5, z_intervals=140), 0, 0,
                                         {"d_elm": 4.0}, ["fringe.element-end"] * 2, ["fringe.beyond-end", "fringe.beyond-end"]),
    "its clean twin longer": (dataclasses.replace(GAUSS, half_length=3.5, z_intervals=140), 0, 0,
                              {"d_elm": 6.0}, [], []),
    "lens 7.6 long in a table of 8": (analytic.FIELDS["lens"], 0, 0, {"d_elm": 7.6}, ["fringe.element-end"] * 2,
                                      ["fringe.beyond-end", "fringe.beyond-end"]),
    "pillbox spanning its element": (analytic.FIELDS["pillbox"], 0, 0, {"d_elm": 3.0}, [], ["fringe.wall", "fringe.wall"]),
    "pole faces at both ends": (analytic.FIELDS["solenoid"], 0, 0, {"d_elm": 12.0}, [], ["fringe.wall", "fringe.wall"]),
    "pole face at the upper end, grid from 0": (analytic.FIELDS["solenoid"], 0, 0,
                                                {"d_elm": 12.0, "ksym": (0, 0, 1)}, [], ["fringe.wall"]),
}


@pytest.mark.parametrize("name", CUTS)
def test_cut_ends_and_walls(tmp_path, name):
    field, half, kmirror_z, control, map_codes, file_codes = CUTS[name]
    t = _trace(tmp_path, field, half, kmirror_z, **control)
    assert _map_codes(t) == map_codes
    found = ends.element_end_planes_of(load(str(tmp_path / "eh_EMS.#01")))
    assert [d.code for d in found] == file_codes


def test_approximation_step_of_a_cubic_is_three_quarters_of_h_cubed(tmp_path):
    """F_z = z^3: the quadratics through nodes (m - 1, m, m + 1) and (m, m + 1, m + 2) miss it by
    -3/8 h^3 and +3/8 h^3 halfway between m and m + 1, so the approximation steps by 3/4 h^3
    there; along r, where the field does not change, it does not step."""
    cubic = analytic.Field("cubic", 0, 1, lambda r, z: (0.0 * r * z, z ** 3 + 0.0 * r), 1.0, 2.0, 4, 16, 0.5, 4.0)
    t = _trace(tmp_path, cubic)
    steps = mesh.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    h = 0.25
    assert steps["z"][0] == pytest.approx(0.75 * h ** 3, rel=1e-6)
    assert steps["r"][0] < 1e-12


def test_coarse_mesh_names_a_finer_mesh_that_passes(tmp_path):
    coarse = dataclasses.replace(analytic.FIELDS["lens"], r_intervals=3, z_intervals=12)
    t = _trace(tmp_path / "coarse", coarse)
    steps = mesh.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    peak = mesh.sampled_peak(t.inputs)
    # The scale is the file's largest |F|, as check --control measures it.
    f = load(str(tmp_path / "coarse" / "eh_EMS.#01"))
    assert peak == max(float(np.abs(c).max()) for c in f.components)
    found = mesh.coarse_mesh(steps, peak, 3, 12)
    assert [d.code for d in found] == ["mesh.coarse"] and found[0].data["counts"] == (3, 12)
    r_count, z_count = found[0].data["finer"]
    assert z_count > 12
    fine = dataclasses.replace(coarse, r_intervals=r_count, z_intervals=z_count)
    t = _trace(tmp_path / "fine", fine)
    steps = mesh.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    assert mesh.coarse_mesh(steps, mesh.sampled_peak(t.inputs), r_count, z_count) == []
    assert max(s[0] for s in steps.values()) / mesh.sampled_peak(t.inputs) < mesh.MESH_SHARE


def _split(path, tmp_path):
    """The layout-0 file with its first plane taken from the other half of a mirrored element:
    the odd component's sign flipped there, as the two halves meet at the element's end."""
    data = bytearray(open(path, "rb").read())
    start = 2084 + 2 * (1_005_000 + 8)
    fz = np.frombuffer(bytes(data[start:start + 1_005_000]), "<f8").reshape((25, 25, 201), order="F").copy()
    fz[:, :, 0] = -fz[:, :, 0]
    data[start:start + 1_005_000] = fz.tobytes(order="F")
    split = tmp_path / "split"
    split.write_bytes(bytes(data))
    return str(split)


@pytest.mark.parametrize("name, half, kmirror_z, control", [
    ("gaussian", 0, 0, {"d_elm": 4.0}), ("lens", 0, 0, {}), ("solenoid", 1, 2, {}), ("two_lenses", -1, -2, {}),
    ("pillbox", 0, 0, {"d_elm": 3.0}), ("cusp", 1, 1, {"ksym": (1, 1, 1)})])
def test_end_plane_jump_found_and_clean_files_pass(conversion, tmp_path, name, half, kmirror_z, control):
    path = conversion(name, half, kmirror_z, **control)
    f = load(path)
    assert ends.end_plane_jumps(f.Fx, f.Fy, f.Fz, f.z_grid) == []
    if abs(f.Fz[12, 12, 0]) > 0.05 * np.abs(f.Fz).max():
        g = load(_split(path, tmp_path))
        assert {d.code for d in ends.end_plane_jumps(g.Fx, g.Fy, g.Fz, g.z_grid)} == {"continuity.split-by-mirror"}
        assert "continuity.split-by-mirror" in [d.code for d in check_file(g)]


def _table_columns(t):
    h = t.header
    nr, nz = h["r_intervals"] + 1, h["z_intervals"] + 1
    radial, axial = (t.rows[:, c].reshape(nz, nr).T for c in (2, 3))
    return radial, axial, np.linspace(h["Zmin"], h["Zmax"], nz)


# field, half, kmirror_z, shift of the table (the field's plane lies this far inside), codes.
PLANES = [
    ("solenoid", 1, 2, 0.3, ["mirror.plane-offset"]), ("solenoid", 1, 2, 0.0, []),
    ("solenoid", 1, 1, 0.0, ["mirror.parity"]), ("solenoid", 1, 1, 0.3, ["mirror.plane-offset"]),
    ("lens", 1, 1, 0.3, ["mirror.plane-offset"]), ("lens", 1, 1, 0.0, []), ("lens", -1, -2, 0.0, ["mirror.parity"]),
    ("gaussian", -1, -2, 0.25, ["mirror.plane-offset"]), ("gaussian", -1, -2, 0.0, []),
    ("gaussian", 1, -1, 0.0, []),  # the mirrored row is the far end, where the field has died out
]


@pytest.mark.parametrize("name, half, kmirror_z, shift, codes", PLANES)
def test_half_table_against_its_symmetry_plane(tmp_path, name, half, kmirror_z, shift, codes):
    base = analytic.FIELDS[name]
    shifted = dataclasses.replace(base, components=lambda r, z: base.components(r, z - half * shift))
    t = _trace(tmp_path, shifted, half, kmirror_z)
    found = shape.symmetry_plane(*_table_columns(t), kmirror_z, length_unit="cm")
    assert [d.code for d in found] == codes
    if shift:
        assert found[0].value == pytest.approx(shift, abs=1e-3)


GOOD = ["control", "", "table.txt", "0 iflag_EH", "1 kmirror_z", "1 kfile_num", "0 kform_3D", "0 0 0", "7.6",
        "1.3", "1000.0", "1.0"]


@pytest.mark.parametrize("lines, code, line", [
    (GOOD, None, None),
    (GOOD + ["remarks after the values"], None, None),
    (GOOD[:8] + [""] + GOOD[8:], None, None),  # a blank line among the values is passed over
    (GOOD[:1] + GOOD[2:], "control.line-missing", 2),
    (GOOD[:5] + GOOD[6:], "control.line-missing", 6),
    (GOOD[:1] + ["second title"] + GOOD[1:], "control.line-extra", None),
    ([line.split()[0] if line[:1].isdigit() else line for line in GOOD[:4] + GOOD[5:]], "control.line-missing", None),
])
def test_control_file_with_a_line_missing_or_extra(lines, code, line):
    found = shape.control_line_count(lines)
    assert [d.code for d in found] == ([code] if code else [])
    if line is not None:
        assert found[0].line == line


EXAMPLE_CONTROL = os.path.join(os.environ.get("P2K_SOURCE_DIR", os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__))))), "examples", "lens", "poisson_to_kavro.dat")


@pytest.mark.parametrize("line", range(4, 12))
def test_each_labelled_value_line_missing_or_doubled_is_named(line):
    """The bundled control file labels its values: the line missing or doubled is told exactly."""
    lines = open(EXAMPLE_CONTROL).read().splitlines()
    missing = shape.control_line_count(lines[:line - 1] + lines[line:])
    doubled = shape.control_line_count(lines[:line] + lines[line - 1:])
    assert [(d.code, d.line) for d in missing] == [("control.line-missing", line)]
    assert [(d.code, d.data["candidates"][-1]) for d in doubled] == [("control.line-extra", line + 1)]


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_field_file_given_as_control_file_or_table(conversion, layout):
    path = conversion("lens", kform_3D=layout)
    data = open(path, "rb").read()
    for role in ("control file", "table"):
        found = not_text(data, path, role)
        assert [(d.code, d.data.get("layout")) for d in found] == [("input.not-text", layout)]
    control = open(os.path.join(os.path.dirname(path), "poisson_to_kavro.dat"), "rb").read()
    assert not_text(control, "poisson_to_kavro.dat") == []
    assert [d.code for d in not_text(control + b"\0", "poisson_to_kavro.dat")] == ["input.not-text"]


@pytest.mark.parametrize("layout, other, what", [
    (0, {"aper": 1.9}, "aper"), (1, {"d_elm": 6.0}, "d_elm"), (2, {"ksym": (1, 1, 1)}, "ksym"),
    (2, {"aper": 1.9}, "x limits"), (0, {}, None), (1, {}, None), (2, {}, None)])
def test_field_file_against_another_control_file(conversion, layout, other, what):
    path = conversion("lens", kform_3D=layout)
    control = trace(os.path.dirname(conversion("lens", kform_3D=layout, **other))).control
    found = file_control_mismatch(load(path), control, path, "../rf/poisson_to_kavro.dat")
    assert [d.data["what"] for d in found] == ([what] if what else [])


def test_magnetic_file_against_an_electric_control_file(conversion):
    path = conversion("solenoid", kform_3D=2)
    electric = trace(os.path.dirname(conversion("lens", kform_3D=2, d_elm=12.0, aper=1.0))).control
    found = file_control_mismatch(load(path), electric, path, "poisson_to_kavro.dat")
    assert [(d.data["what"], d.data["file"], d.data["control"]) for d in found] == [("field", "B", "E")]


