"""The openPMD exchange through the command line: converter files exported and imported back
byte for byte, the whole element unfolded from a stored half, the field kind the unit names, the
kind every archive states, and the imports refused with one line and exit status 2."""

import os
import re

import numpy as np
import pytest

import kavro_field
from kavro_field.cli import main
from test_openpmd_import import write_mesh

h5py = pytest.importorskip("h5py")

FIELD_UNITS = {0: "V/cm", 1: "G"}  # by iflag_EH


def run(argv):
    """The exit status of a command, usage errors included."""
    try:
        return main(argv)
    except SystemExit as stop:
        return stop.code


# field, layout, ksym, whether the grid is given by --control (else by the options)
ROUND_TRIPS = [
    ("lens", 0, (0, 0, 0), True),
    ("lens", 1, (0, 0, 0), False),
    ("lens", 2, (0, 0, 0), True),
    ("solenoid", 0, (0, 0, 1), False),
    ("cusp", 2, (1, 1, 1), True),
]


@pytest.mark.parametrize("name, layout, ksym, by_control", ROUND_TRIPS)
def test_export_then_import_gives_the_converters_bytes(conversion, tmp_path, capsys, name, layout, ksym, by_control):
    import analytic
    field = analytic.FIELDS[name]
    original = conversion(name, kform_3D=layout, ksym=ksym)
    unit = FIELD_UNITS[field.iflag_EH]
    mesh = str(tmp_path / "field.h5")
    assert main(["export", original, "--openpmd", mesh, "--length-unit", "cm", "--field-unit", unit]) == 0
    said = capsys.readouterr().out
    assert ("readers must mirror it" in said) == any(ksym)
    if by_control:
        grid = ["--control", os.path.dirname(original)]
    else:
        grid = ["--d-elm", repr(field.d_elm), "--aper", repr(field.aper), "--ksym", *map(str, ksym),
                "--layout", str(layout)]
    out = tmp_path / "out"
    out.mkdir()
    assert main(["import", mesh, "--length-unit", "cm", "--field-unit", unit, "--output", str(out), *grid]) == 0
    assert f"written: {out / 'eh_EMS.#01'}" in capsys.readouterr().out
    with open(out / "eh_EMS.#01", "rb") as mine, open(original, "rb") as theirs:
        assert mine.read() == theirs.read()


# field, ksym, the components odd across each unfolded plane (by the field's symmetry), node counts
UNFOLDINGS = [
    # A solenoid's Bz is even in z; Bx, By odd.
    ("solenoid", (0, 0, 1), {"z": "Bx By"}, (25, 25, 401)),
    # A cusp's Bz is odd in z; across x = 0 and y = 0 an axially symmetric field's normal component is odd.
    ("cusp", (1, 1, 1), {"x": "Bx", "y": "By", "z": "Bz"}, (49, 49, 401)),
    ("lens", (1, 0, 0), {"x": "Ex"}, (49, 25, 201)),
]


@pytest.mark.parametrize("name, ksym, odd, shape", UNFOLDINGS)
def test_unfold_exports_the_whole_element_with_its_parity(conversion, tmp_path, capsys, name, ksym, odd, shape):
    import analytic
    half = conversion(name, ksym=ksym)
    unit = FIELD_UNITS[analytic.FIELDS[name].iflag_EH]
    h5, npz = str(tmp_path / "whole.h5"), str(tmp_path / "whole.npz")
    options = ["--unfold", "--length-unit", "cm", "--field-unit", unit]
    assert main(["export", half, "--openpmd", h5, *options]) == 0
    said = capsys.readouterr().out
    assert "whole element: " in said and "readers must mirror it" not in said
    assert main(["export", half, "--npz", npz, *options]) == 0
    stored = kavro_field.load(half)
    with h5py.File(h5, "r") as f:
        mesh = f["ExternalFieldMesh"]
        assert tuple(mesh.attrs["gridSize"]) == shape
        assert {key[-1]: value.decode() for key, value in mesh.attrs.items() if key.startswith("odd_across_")} == odd
        assert list(mesh.attrs["ksym"]) == [0, 0, 0]
        # The grid is the element's, -upper .. upper along each unfolded axis, the plane at its middle.
        for axis, grid in enumerate(stored.grids):
            lower = mesh.attrs["gridOriginOffset"][axis]
            upper = lower + (shape[axis] - 1) * mesh.attrs["gridSpacing"][axis]
            assert upper == pytest.approx(grid[-1] * 0.01, rel=1e-14) and lower == pytest.approx(-upper, rel=1e-14)
    archive = np.load(npz)
    assert archive["Fx"].shape == shape and str(archive["unfolding"]).startswith("whole element")
    # The stored nodes come back unchanged in the upper half.
    upper_half = tuple(slice(n - m, None) for n, m in zip(shape, stored.Fx.shape))
    for component in ("Fx", "Fy", "Fz"):
        assert np.array_equal(archive[component][upper_half], getattr(stored, component))


# layout, options, exit status, what the export's record is or what standard error says
KINDS = [
    (0, ["--field-unit", "V/cm"], 0, "electricField"),  # the unit says E: no --kind needed
    (1, ["--field-unit", "kV/cm"], 0, "electricField"),
    (0, ["--field-unit", "G", "--kind", "E"], 2, "the field unit G means B, but --kind says E"),
    (2, ["--field-unit", "T"], 2, "the field unit T means B, but the file says E"),  # layout 2 says E
    (0, ["--field-unit", "T", "--kind", "B"], 0, "magneticField"),  # the file does not say: the user does
]


@pytest.mark.parametrize("layout, options, status, says", KINDS)
def test_field_kind_follows_from_the_unit(example_files, tmp_path, capsys, layout, options, status, says):
    out = str(tmp_path / "f.h5")
    assert run(["export", example_files[layout], "--openpmd", out, "--length-unit", "cm", *options]) == status
    if status:
        err = capsys.readouterr().err
        assert says in err and err.count("\n") == 1 and not os.path.exists(out)
        return
    with h5py.File(out, "r") as h5:
        assert list(h5["ExternalFieldMesh"]) == [says]


def _vti_kind(path):
    """The text of the field data array "kind" of a VTK file (byte codes ended by 0)."""
    text = open(path).read()
    codes = re.search(r'<DataArray type="String" Name="kind"[^>]*>([^<]*)</DataArray>', text).group(1)
    return bytes(int(c) for c in codes.split()[:-1]).decode()


@pytest.mark.parametrize("layout, options, kind", [
    (0, [], "unknown"), (1, [], "unknown"), (2, [], "E"), (0, ["--field-unit", "V/m"], "E"), (1, ["--kind", "B"], "B"),
])
def test_archives_always_state_the_kind(example_files, tmp_path, layout, options, kind):
    npz, vti = str(tmp_path / "f.npz"), str(tmp_path / "f.vti")
    assert main(["export", example_files[layout], "--npz", npz, *options]) == 0
    assert main(["export", example_files[layout], "--vtk", vti, *options]) == 0
    assert str(np.load(npz)["kind"]) == kind and _vti_kind(vti) == kind


def test_negative_phase_is_a_value(tmp_path, capsys):
    # Z = 0.3 + 0.7i T; at -90 degrees Re(Z exp(i pi / 2)) = -0.7 T.
    path = write_mesh(str(tmp_path / "rf.h5"), {"z": (0.3 + 0.7j) * np.ones((3, 3, 3))}, [1.0, 1.0, 1.0],
                      [-1.0, -1.0, -1.0], mesh_attrs={"harmonic": 1})
    assert main(["import", path, "--phase", "-90", "--length-unit", "m", "--field-unit", "T", "--d-elm", "2",
                 "--aper", "1", "--output", str(tmp_path)]) == 0
    np.testing.assert_allclose(kavro_field.load(str(tmp_path / "eh_EMS.#01")).Fz, -0.7, rtol=1e-15)


def _box(tmp_path, **change):
    args = dict(values={"z": np.ones((5, 5, 5))}, spacing=[0.5, 0.5, 0.5], offset=[-1.0, -1.0, -1.0])
    args.update(change)
    return write_mesh(str(tmp_path / "m.h5"), args.pop("values"), args.pop("spacing"), args.pop("offset"), **args)


GRID = ["--length-unit", "m", "--field-unit", "T", "--d-elm", "2", "--aper", "1"]

# how the mesh differs, the command's arguments after the mesh, what standard error says
REFUSALS = [
    ({"mesh_attrs": {"harmonic": 1}}, GRID, "harmonic 1 oscillates: give the phase"),
    ({}, ["--length-unit", "m", "--field-unit", "T", "--d-elm", "2", "--aper", "1.5"],
     "lie outside the mesh, the first at (x, y, z) = (-1.5, -1.5, -1.0)"),
    ({}, ["--length-unit", "m", "--field-unit", "V/m", "--d-elm", "2", "--aper", "1"],
     "the field unit V/m is one of E"),
    ({}, ["--length-unit", "m", "--d-elm", "2", "--aper", "1"], "the following arguments are required: --field-unit"),
    ({}, ["--length-unit", "m", "--field-unit", "T", "--aper", "1"], "import needs --d-elm (or --control CONTROL)"),
    ({}, [*GRID, "--control", "."], "--control gives the grid and the file"),
    ({"values": {"z": np.ones((5, 3, 5))}, "geometry": "cylindrical", "offset": [0.0, 0.0, -1.0]},
     [*GRID, "--kind", "B"], "not an executable converter"),
    ({"values": {"r": np.arange(75.0).reshape(5, 3, 5)}, "geometry": "cylindrical", "offset": [0.0, 0.0, -1.0]}, GRID,
     "r depends on theta"),
    ("not HDF5", GRID, "cannot be read as HDF5"),
]


@pytest.mark.parametrize("change, arguments, says", REFUSALS)
def test_import_refusals_are_one_line_and_status_2(tmp_path, capsys, monkeypatch, change, arguments, says):
    monkeypatch.setenv("P2K_CONVERTER", str(tmp_path / "no converter"))
    if change == "not HDF5":
        path = str(tmp_path / "m.h5")
        with open(path, "w") as text:
            text.write("x y z Bx By Bz\n")
    else:
        path = _box(tmp_path, **change)
    assert run(["import", path, "--output", str(tmp_path), *arguments]) == 2
    err = capsys.readouterr().err
    assert says in err and err.count("\n") == 1 and err.startswith("kavro-field: ")
    assert not os.path.exists(tmp_path / "eh_EMS.#01")
