"""Each common mistake found by its cause on tables of exact fields converted by the converter,
while its clean twin passes; the wall rule on a cavity and a pole face; the coarse mesh and the
finer mesh that passes."""

import dataclasses
import doctest
import os

import numpy as np
import pytest

import analytic
from kavro_field.analysis import diagnosis
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
    ends = (upper,) if t.control["ksym_z"] != 0 else (lower, upper)
    return ([d.code for d in diagnosis.table_end_cuts(m.r_node, m.z_node, m.radial, m.axial)]
            + [d.code for d in diagnosis.element_end_cuts(m.r_node, m.z_node, m.axial, ends)])


def test_doctests():
    assert doctest.testmod(diagnosis).failed == 0


# name: field, half, kmirror_z, control, codes of the map; file codes of plain check's end rule.
CUTS = {
    "table stops at 43 % of its peak": (dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52), 0, 0,
                                        {"d_elm": 2.6}, ["table-end-cut"], []),  # end planes a hair beyond the map
    "the same table, element a step shorter": (dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52), 0, 0,
                                               {"d_elm": 2.5}, ["table-end-cut"] + ["element-end-cut"] * 2,
                                               ["fringe-cut", "fringe-cut"]),
    "its clean twin solved longer": (GAUSS, 0, 0, {"d_elm": 10.0}, [], []),
    "element end 0.1 inside a strong map end": (dataclasses.replace(GAUSS, half_length=2.0, z_intervals=80), 0, 0,
                                                {"d_elm": 3.8}, ["table-end-cut"] + ["element-end-cut"] * 2,
                                                ["fringe-cut", "fringe-cut"]),
    "element end inside, map end weak": (dataclasses.replace(GAUSS, half_length=3.5, z_intervals=140), 0, 0,
                                         {"d_elm": 4.0}, ["element-end-cut"] * 2, ["fringe-cut", "fringe-cut"]),
    "its clean twin longer": (dataclasses.replace(GAUSS, half_length=3.5, z_intervals=140), 0, 0,
                              {"d_elm": 6.0}, [], []),
    "lens 7.6 long in a table of 8": (analytic.FIELDS["lens"], 0, 0, {}, ["element-end-cut"] * 2,
                                      ["fringe-cut", "fringe-cut"]),
    "pillbox spanning its element": (analytic.FIELDS["pillbox"], 0, 0, {"d_elm": 3.0}, [], ["wall", "wall"]),
    "pole faces at both ends": (analytic.FIELDS["solenoid"], 0, 0, {"d_elm": 12.0}, [], ["wall", "wall"]),
    "pole face at the upper end, grid from 0": (analytic.FIELDS["solenoid"], 0, 0,
                                                {"d_elm": 12.0, "ksym": (0, 0, 1)}, [], ["wall"]),
}


@pytest.mark.parametrize("name", CUTS)
def test_cut_ends_and_walls(tmp_path, name):
    field, half, kmirror_z, control, map_codes, file_codes = CUTS[name]
    t = _trace(tmp_path, field, half, kmirror_z, **control)
    assert _map_codes(t) == map_codes
    found = diagnosis.element_end_planes_of(load(str(tmp_path / "eh_EMS.#01")))
    assert [d.code for d in found] == file_codes


@pytest.mark.parametrize("name", analytic.FIELDS)
@pytest.mark.parametrize("half", [0, 1])
def test_elements_spanning_their_tables_are_clean(tmp_path, name, half):
    """Every analytic table converted over its whole length: nothing cut, no jump; the ends of
    the cavity and of the solenoid's period are walls."""
    field = analytic.FIELDS[name]
    t = _trace(tmp_path, field, half, half * field.parity, d_elm=2 * field.half_length)
    f = load(str(tmp_path / "eh_EMS.#01"))
    assert _map_codes(t) == [] and diagnosis.end_plane_jumps(f.Fx, f.Fy, f.Fz, f.z_grid) == []
    walls = ["wall", "wall"] if name in ("pillbox", "solenoid") else []
    assert [d.code for d in diagnosis.element_end_planes_of(f)] == walls


def test_approximation_step_of_a_cubic_is_three_quarters_of_h_cubed(tmp_path):
    """F_z = z^3: the quadratics through nodes (m - 1, m, m + 1) and (m, m + 1, m + 2) miss it by
    -3/8 h^3 and +3/8 h^3 halfway between m and m + 1, so the approximation steps by 3/4 h^3
    there; along r, where the field does not change, it does not step."""
    cubic = analytic.Field("cubic", 0, 1, lambda r, z: (0.0 * r * z, z ** 3 + 0.0 * r), 1.0, 2.0, 4, 16, 0.5, 4.0)
    t = _trace(tmp_path, cubic)
    steps = diagnosis.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    h = 0.25
    assert steps["z"][0] == pytest.approx(0.75 * h ** 3, rel=1e-6)
    assert steps["r"][0] < 1e-12


def test_coarse_mesh_names_a_finer_mesh_that_passes(tmp_path):
    coarse = dataclasses.replace(analytic.FIELDS["lens"], r_intervals=3, z_intervals=12)
    t = _trace(tmp_path / "coarse", coarse)
    steps = diagnosis.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    peak = diagnosis.sampled_peak(t.inputs)
    # The scale is the file's largest |F|, as check --control measures it.
    f = load(str(tmp_path / "coarse" / "eh_EMS.#01"))
    assert peak == max(float(np.abs(c).max()) for c in f.components)
    found = diagnosis.coarse_mesh(steps, peak, 3, 12)
    assert [d.code for d in found] == ["coarse-mesh"] and found[0].data["counts"] == (3, 12)
    r_count, z_count = found[0].data["finer"]
    assert z_count > 12
    fine = dataclasses.replace(coarse, r_intervals=r_count, z_intervals=z_count)
    t = _trace(tmp_path / "fine", fine)
    steps = diagnosis.approximation_steps_by_axis(t.inputs, t.inputs.grid())
    assert diagnosis.coarse_mesh(steps, diagnosis.sampled_peak(t.inputs), r_count, z_count) == []
    assert max(s[0] for s in steps.values()) / diagnosis.sampled_peak(t.inputs) < diagnosis.MESH_SHARE


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
    assert diagnosis.end_plane_jumps(f.Fx, f.Fy, f.Fz, f.z_grid) == []
    if abs(f.Fz[12, 12, 0]) > 0.05 * np.abs(f.Fz).max():
        g = load(_split(path, tmp_path))
        assert {d.code for d in diagnosis.end_plane_jumps(g.Fx, g.Fy, g.Fz, g.z_grid)} == {"split-by-mirror"}
        assert "split-by-mirror" in [d.code for d in diagnosis.file_diagnoses(g)]


def _reorder_rows_z_fastest(table, nr, nz):
    lines = open(table).read().splitlines()
    head, rows = lines[:7], lines[7:7 + nr * nz]
    reordered = [rows[iz * nr + ir] for ir in range(nr) for iz in range(nz)]
    with open(table, "w") as out:
        out.write("\n".join(head + reordered) + "\n")


@pytest.mark.parametrize("z_fastest", [True, False])
def test_rows_in_z_fastest_order(tmp_path, z_fastest):
    lens = analytic.FIELDS["lens"]
    analytic.write_table(str(tmp_path / "table.txt"), lens)
    analytic.write_control(str(tmp_path), lens)
    if z_fastest:
        _reorder_rows_z_fastest(str(tmp_path / "table.txt"), lens.r_intervals + 1, lens.z_intervals + 1)
    t = trace(str(tmp_path))
    found = diagnosis.z_fastest_rows(t.rows[:, 0], t.rows[:, 1], lens.r_intervals + 1, lens.z_intervals + 1,
                                     t.first_row_line)
    assert [d.code for d in found] == (["z-fastest-rows"] if z_fastest else [])


def _table_columns(t):
    h = t.header
    nr, nz = h["r_intervals"] + 1, h["z_intervals"] + 1
    radial, axial = (t.rows[:, c].reshape(nz, nr).T for c in (2, 3))
    return radial, axial, np.linspace(h["Zmin"], h["Zmax"], nz)


# field, half, kmirror_z, shift of the table (the field's plane lies this far inside), codes.
PLANES = [
    ("solenoid", 1, 2, 0.3, ["symmetry-plane-offset"]), ("solenoid", 1, 2, 0.0, []),
    ("solenoid", 1, 1, 0.0, ["wrong-parity"]), ("solenoid", 1, 1, 0.3, ["symmetry-plane-offset"]),
    ("lens", 1, 1, 0.3, ["symmetry-plane-offset"]), ("lens", 1, 1, 0.0, []), ("lens", -1, -2, 0.0, ["wrong-parity"]),
    ("gaussian", -1, -2, 0.25, ["symmetry-plane-offset"]), ("gaussian", -1, -2, 0.0, []),
    ("gaussian", 1, -1, 0.0, []),  # the mirrored row is the far end, where the field has died out
]


@pytest.mark.parametrize("name, half, kmirror_z, shift, codes", PLANES)
def test_half_table_against_its_symmetry_plane(tmp_path, name, half, kmirror_z, shift, codes):
    base = analytic.FIELDS[name]
    shifted = dataclasses.replace(base, components=lambda r, z: base.components(r, z - half * shift))
    t = _trace(tmp_path, shifted, half, kmirror_z)
    found = diagnosis.symmetry_plane(*_table_columns(t), kmirror_z, length_unit="cm")
    assert [d.code for d in found] == codes
    if shift:
        assert found[0].value == pytest.approx(shift, abs=1e-3)


GOOD = ["control", "", "table.txt", "0 iflag_EH", "1 kmirror_z", "1 kfile_num", "0 kform_3D", "0 0 0", "7.6",
        "1.3", "1000.0", "1.0"]


@pytest.mark.parametrize("lines, code, line", [
    (GOOD, None, None),
    (GOOD + ["remarks after the values"], None, None),
    (GOOD[:8] + [""] + GOOD[8:], None, None),  # a blank line among the values is passed over
    (GOOD[:1] + GOOD[2:], "control-line-missing", 2),
    (GOOD[:5] + GOOD[6:], "control-line-missing", 6),
    (GOOD[:1] + ["second title"] + GOOD[1:], "control-line-extra", None),
    ([line.split()[0] if line[:1].isdigit() else line for line in GOOD[:4] + GOOD[5:]], "control-line-missing", None),
])
def test_control_file_with_a_line_missing_or_extra(lines, code, line):
    found = diagnosis.control_line_count(lines)
    assert [d.code for d in found] == ([code] if code else [])
    if line is not None:
        assert found[0].line == line


EXAMPLE_CONTROL = os.path.join(os.environ.get("P2K_SOURCE_DIR", os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__))))), "examples", "lens", "poisson_to_kavro.dat")


@pytest.mark.parametrize("line", range(4, 12))
def test_each_labelled_value_line_missing_or_doubled_is_named(line):
    """The bundled control file labels its values: the line missing or doubled is told exactly."""
    lines = open(EXAMPLE_CONTROL).read().splitlines()
    missing = diagnosis.control_line_count(lines[:line - 1] + lines[line:])
    doubled = diagnosis.control_line_count(lines[:line] + lines[line - 1:])
    assert [(d.code, d.line) for d in missing] == [("control-line-missing", line)]
    assert [(d.code, d.data["candidates"][-1]) for d in doubled] == [("control-line-extra", line + 1)]


@pytest.mark.parametrize("kfile_num, code", [(100, "kfile-num-range"), (-1, "kfile-num-range"), (99, None),
                                             (0, None)])
def test_kfile_num_range(kfile_num, code):
    assert [d.code for d in diagnosis.kfile_num_range(kfile_num)] == ([code] if code else [])


@pytest.mark.parametrize("iflag_EH, scales, name", [(1, (1.5, 1.0), "scale_E"), (0, (1.0, 0.0), "scale_B"),
                                                    (1, (1.0, 1e-4), None), (0, (1000.0, 1.0), None)])
def test_scale_for_the_other_kind(iflag_EH, scales, name):
    found = diagnosis.scale_other_kind(iflag_EH, *scales)
    assert [d.data["name"] for d in found] == ([name] if name else [])


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_field_file_given_as_control_file_or_table(conversion, layout):
    path = conversion("lens", kform_3D=layout)
    data = open(path, "rb").read()
    for role in ("control file", "table"):
        found = diagnosis.not_text(data, path, role)
        assert [(d.code, d.data.get("layout")) for d in found] == [("not-text", layout)]
    control = open(os.path.join(os.path.dirname(path), "poisson_to_kavro.dat"), "rb").read()
    assert diagnosis.not_text(control, "poisson_to_kavro.dat") == []
    assert [d.code for d in diagnosis.not_text(control + b"\0", "poisson_to_kavro.dat")] == ["not-text"]


@pytest.mark.parametrize("layout, other, what", [
    (0, {"aper": 1.9}, "aper"), (1, {"d_elm": 6.0}, "d_elm"), (2, {"ksym": (1, 1, 1)}, "ksym"),
    (2, {"aper": 1.9}, "x limits"), (0, {}, None), (1, {}, None), (2, {}, None)])
def test_field_file_against_another_control_file(conversion, layout, other, what):
    path = conversion("lens", kform_3D=layout)
    control = trace(os.path.dirname(conversion("lens", kform_3D=layout, **other))).control
    found = diagnosis.file_control_mismatch(load(path), control, path, "../rf/poisson_to_kavro.dat")
    assert [d.data["what"] for d in found] == ([what] if what else [])


def test_magnetic_file_against_an_electric_control_file(conversion):
    path = conversion("solenoid", kform_3D=2)
    electric = trace(os.path.dirname(conversion("lens", kform_3D=2, d_elm=11.5, aper=1.0))).control
    found = diagnosis.file_control_mismatch(load(path), electric, path, "poisson_to_kavro.dat")
    assert [(d.data["what"], d.data["file"], d.data["control"]) for d in found] == [("field", "B", "E")]


@pytest.mark.parametrize("headings, units", [
    ("R(cm)  Z(cm)  Br(T)  Bz(T)", {"length": "cm", "field": "T", "kind": "B"}),
    ("R(mm)  Z(mm)  Er(kV/cm)  Ez(kV/cm)", {"length": "mm", "field": "kV/cm", "kind": "E"}),
    ("R  Z  Fr  Fz", {"length": None, "field": None, "kind": None})])
def test_units_the_table_states(tmp_path, headings, units):
    field = analytic.FIELDS["gaussian"]
    analytic.write_table(str(tmp_path / "table.txt"), field)
    analytic.write_control(str(tmp_path), field)
    text = (tmp_path / "table.txt").read_text().replace("R  Z  Fr  Fz", headings)
    (tmp_path / "table.txt").write_text(text)
    h = trace(str(tmp_path)).header
    assert diagnosis.stated_units([h["A_text"], h["B_text"]] + h["separator_text"]) == units


def _edit(folder, name, old, new):
    path = os.path.join(folder, name)
    text = open(path).read()
    assert old in text
    with open(path, "w") as out:
        out.write(text.replace(old, new, 1))


LENS, SOLENOID = analytic.FIELDS["lens"], analytic.FIELDS["solenoid"]
# name: field, half, kmirror_z, control, edits ((file, old, new), ...), codes in order.
INPUT_CASES = {
    "clean lens over its whole table": (LENS, 0, 0, {"d_elm": 8.0}, [], []),
    "clean solenoid between its pole faces": (SOLENOID, 0, 0, {"d_elm": 12.0}, [], []),
    "table cut at 43 %": (dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52), 0, 0, {"d_elm": 2.59}, [],
                          ["table-end-cut"]),
    "coarse mesh": (dataclasses.replace(LENS, r_intervals=3, z_intervals=12), 0, 0, {"d_elm": 8.0}, [],
                    ["coarse-mesh"]),
    "free-text line missing": (LENS, 0, 0, {"d_elm": 8.0}, [("poisson_to_kavro.dat", "tests\n\n", "tests\n")],
                               ["control-line-missing"]),
    "kfile_num 100, scale_E 1.5 with B": (SOLENOID, 0, 0, {"d_elm": 12.0},
                                          [("poisson_to_kavro.dat", "1 kfile_num", "100 kfile_num"),
                                           ("poisson_to_kavro.dat", "1.0\n0.0001", "1.5\n0.0001")],
                                          ["kfile-num-range", "scale-other-kind"]),
    "half table 0.3 off its plane": (dataclasses.replace(SOLENOID, components=lambda r, z: SOLENOID.components(r, z - 0.3)),
                                     1, 2, {"d_elm": 11.6}, [], ["symmetry-plane-offset", "table-end-cut"]),
}


@pytest.mark.parametrize("name", INPUT_CASES)
def test_input_diagnoses_name_each_cause_once_at_its_line(tmp_path, name):
    field, half, kmirror_z, control, edits, codes = INPUT_CASES[name]
    analytic.write_table(str(tmp_path / "table.txt"), field, half)
    analytic.write_control(str(tmp_path), field, kmirror_z, **control)
    for file, old, new in edits:
        _edit(str(tmp_path), file, old, new)
    found = diagnosis.input_diagnoses(trace(str(tmp_path)))
    assert [d.code for d in found] == codes
    assert all(d.file and d.line for d in found)


def test_input_diagnoses_of_rows_z_fastest_name_only_their_order(tmp_path):
    analytic.write_table(str(tmp_path / "table.txt"), LENS)
    analytic.write_control(str(tmp_path), LENS, d_elm=8.0)
    _reorder_rows_z_fastest(str(tmp_path / "table.txt"), LENS.r_intervals + 1, LENS.z_intervals + 1)
    found = diagnosis.input_diagnoses(trace(str(tmp_path)))
    assert [(d.code, d.line) for d in found] == [("z-fastest-rows", 8)]
