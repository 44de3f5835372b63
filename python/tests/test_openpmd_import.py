"""KAVRO field files from openPMD external field meshes: round trips through the export, a linear
field that trilinear interpolation must give exactly, a cylindrical mesh against the converter on
the same table, and the meshes an import refuses."""

import os
import shutil
import subprocess

import numpy as np
import pytest

import analytic
from conftest import SOURCE_DIR
from kavro_field import DamagedFileError, UnreadableInputError, export_openpmd, load
from kavro_field.fieldfiles.grid import node_coordinates
from kavro_field.exchange.openpmd_import import find_converter, import_openpmd, read_control_grid

h5py = pytest.importorskip("h5py")


def write_mesh(path, values, spacing, offset, *, geometry="rectangular", kind="B", version="2.0.0",
               anchor="center", unit_si=1.0, mesh_attrs=None, record_attrs=None, pattern="/ExternalFieldMesh/%T/",
               name="1", reverse=False):
    """An external field mesh file; `values` maps a component to an array, or to a number for a
    constant component."""
    with h5py.File(path, "w") as out:
        out.attrs.update(openPMD=np.bytes_(version), openPMDextension=np.bytes_("BeamPhysics"),
                         externalFieldPath=np.bytes_(pattern))
        group = out.create_group(pattern.replace("%T", name).strip("/"))
        size = next(np.shape(v) for v in values.values() if np.ndim(v) == 3)
        group.attrs.update(gridGeometry=np.bytes_(geometry), eleAnchorPt=np.bytes_(anchor), harmonic=0,
                           gridSize=np.array(size), gridSpacing=np.array(spacing, dtype=float),
                           gridOriginOffset=np.array(offset, dtype=float), gridLowerBound=np.zeros(3, dtype=int))
        group.attrs.update(mesh_attrs or {})
        record = group.create_group({"E": "electricField", "B": "magneticField"}[kind])
        record.attrs.update(record_attrs or {})
        if reverse:  # the arrays with z slowest, as axisLabels say
            record.attrs["axisLabels"] = np.array([b"z", b"y", b"x"])
        for component, v in values.items():
            if np.ndim(v) == 0:
                node = record.create_group(component)
                node.attrs.update(value=v, shape=np.array(size))
            else:
                node = record.create_dataset(component, data=np.transpose(v) if reverse else v)
            if unit_si is not None:
                node.attrs["unitSI"] = unit_si
    return path


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_export_then_import_gives_the_original_file(example_files, example_control, layout, tmp_path):
    original = load(example_files[layout])
    exported = str(tmp_path / "lens.h5")
    export_openpmd(original, exported, "cm", "V/cm", "E")
    result = import_openpmd(exported, length_unit="cm", field_unit="V/cm", layout=layout,
                            output_dir=str(tmp_path), **example_control)
    with open(result.path, "rb") as mine, open(example_files[layout], "rb") as theirs:
        assert mine.read() == theirs.read()
    assert (result.kind, result.outside, result.warnings) == ("E", 0, [])


def test_export_then_import_of_a_symmetric_file(converter_path, tmp_path):
    folder = tmp_path / "octant"
    shutil.copytree(os.path.join(SOURCE_DIR, "examples", "lens"), folder)
    control = folder / "poisson_to_kavro.dat"
    lines = control.read_text().splitlines()
    lines[7] = "1 1 1    ksym"
    control.write_text("\n".join(lines) + "\n")
    subprocess.run([converter_path], cwd=folder, check=True, capture_output=True)
    original = str(folder / "eh_EMS.#01")
    export_openpmd(load(original), str(tmp_path / "octant.h5"), "cm", "V/cm", "E")
    grid = read_control_grid(str(folder))
    assert grid["ksym"] == (1, 1, 1)
    out = tmp_path / "out"
    out.mkdir()
    result = import_openpmd(str(tmp_path / "octant.h5"), length_unit="cm", field_unit="V/cm", output_dir=str(out),
                            d_elm=grid["d_elm"], aper=grid["aper"], ksym=grid["ksym"], layout=grid["layout"],
                            kfile_num=grid["kfile_num"])
    with open(result.path, "rb") as mine, open(original, "rb") as theirs:
        assert mine.read() == theirs.read()


LINEAR = {"x": (0.2, 3.0, -1.5, 0.25), "y": (-0.1, 0.5, 2.0, -0.75)}  # a + b x + c y + d z, T and m
CONSTANT_Z = 0.125


@pytest.mark.parametrize("anchor, shift, version, pattern, grid_unit, reverse", [
    ("center", 0.0, "2.0.0", "/ExternalFieldMesh/%T/", None, False),
    ("beginning", 0.05, "1.1.0", "/ExternalFieldMesh/", 1e-3, False),  # 1.x: one gridUnitSI
    ("end", -0.05, "2.0.0", "/fields/%T/", [1e-3, 1e-3, 1e-3], True),  # 2.x: one per axis
])
def test_linear_field_is_interpolated_exactly(tmp_path, anchor, shift, version, pattern, grid_unit, reverse):
    # The mesh (metres or mm by gridUnitSI, T) neither meets the KAVRO nodes (mm, G) nor shares
    # their spacing; a linear field is still exact to rounding at every node, placed by the anchor.
    spacing, offset, size = np.array([0.0013, 0.0011, 0.0017]), np.array([-0.0131, -0.0127, -0.0523]), (21, 24, 63)
    axes = [offset[a] + np.arange(size[a]) * spacing[a] for a in range(3)]
    x, y, z = np.meshgrid(*axes, indexing="ij")
    values = {c: a + b * x + cc * y + d * z for c, (a, b, cc, d) in LINEAR.items()}
    values["z"] = CONSTANT_Z
    to_grid = 1.0 if grid_unit is None else 1e3
    path = write_mesh(str(tmp_path / "linear.h5"), values, spacing * to_grid, (offset + [0, 0, shift]) * to_grid,
                      anchor=anchor, version=version, pattern=pattern, reverse=reverse,
                      record_attrs={} if grid_unit is None else {"gridUnitSI": grid_unit})
    result = import_openpmd(path, length_unit="mm", field_unit="G", d_elm=100.0, aper=10.0, ksym=(0, 1, 0),
                            layout=0, output_dir=str(tmp_path))
    f = load(result.path)
    xm, ym, zm = np.meshgrid(*(g * 1e-3 for g in f.grids), indexing="ij")
    for component, got in (("x", f.Fx), ("y", f.Fy)):
        a, b, c, d = LINEAR[component]
        np.testing.assert_allclose(got, 1e4 * (a + b * xm + c * ym + d * zm), rtol=0, atol=1e-9)
    np.testing.assert_allclose(f.Fz, CONSTANT_Z * 1e4, rtol=1e-15)


def cylindrical_field():
    # Powers of two throughout: the header limits the import writes are then the table's own.
    return analytic.Field("lens on a binary grid", 0, 1, analytic._lens, 2.0, 4.0, 16, 64, 1.3, 7.6, 1.0)


@pytest.mark.parametrize("layout, ksym, theta_points", [(0, (0, 0, 0), 1), (2, (1, 0, 1), 1), (1, (0, 0, 0), 3)])
def test_cylindrical_mesh_is_the_converters_file(tmp_path, layout, ksym, theta_points):
    field = cylindrical_field()
    made = analytic.convert(str(tmp_path / "table"), field, kform_3D=layout, ksym=ksym)
    # The table of analytic.write_table, as a mesh: the same doubles at the same nodes.
    r = np.linspace(0.0, field.r_max, field.r_intervals + 1)
    z = np.linspace(10.0, 10.0 + 2 * field.half_length, field.z_intervals + 1)
    rr, zz = np.meshgrid(r, z)
    radial, axial = field.components(rr, zz - 10.0 - field.half_length)
    # The series leaves object arrays of Python floats (its factorials outgrow int64).
    planes = {"r": np.asarray(radial, dtype=float).T[:, None, :], "z": np.asarray(axial, dtype=float).T[:, None, :]}
    planes = {c: np.repeat(v, theta_points, axis=1) for c, v in planes.items()}
    planes["theta"] = np.zeros_like(planes["r"])
    path = write_mesh(str(tmp_path / "cyl.h5"), planes, [0.125, 2 * np.pi / theta_points, 0.125],
                      [0.0, 0.0, -field.half_length], geometry="cylindrical", kind="E")
    out = tmp_path / "out"
    out.mkdir()
    result = import_openpmd(path, length_unit="m", field_unit="V/m", d_elm=field.d_elm, aper=field.aper,
                            ksym=ksym, layout=layout, output_dir=str(out))
    with open(result.path, "rb") as mine, open(made, "rb") as theirs:
        assert mine.read() == theirs.read()


@pytest.mark.parametrize("anchor, offset, shift_nodes", [("center", -3.0, 25), ("beginning", 1.0, 25),
                                                         ("end", -11.0, -75)])
def test_cylindrical_mesh_off_centre_keeps_its_place(tmp_path, anchor, offset, shift_nodes):
    # The same mesh centred and moved along z by a whole number of its steps (1 = 8 steps, which
    # is also 25 steps of the KAVRO grid of d_elm 8): the field moves with it, node for node.
    field = cylindrical_field()
    r = np.linspace(0.0, field.r_max, field.r_intervals + 1)
    z = np.linspace(-field.half_length, field.half_length, field.z_intervals + 1)
    rr, zz = np.meshgrid(r, z)
    radial, axial = (np.asarray(v, dtype=float).T[:, None, :] for v in field.components(rr, zz))
    common = dict(geometry="cylindrical", kind="E")
    options = dict(length_unit="m", field_unit="V/m", d_elm=8.0, aper=1.0)
    centred = write_mesh(str(tmp_path / "c.h5"), {"r": radial, "z": axial}, [0.125, 1.0, 0.125],
                         [0.0, 0.0, -field.half_length], **common)
    moved = write_mesh(str(tmp_path / "m.h5"), {"r": radial, "z": axial}, [0.125, 1.0, 0.125],
                       [0.0, 0.0, offset], anchor=anchor, **common)
    a = load(import_openpmd(centred, output_dir=str(tmp_path), kfile_num=1, **options).path)
    moved_result = import_openpmd(moved, output_dir=str(tmp_path), kfile_num=2, **options)
    b = load(moved_result.path)
    assert "rows of zeros added" in moved_result.warnings[0]
    # Away from the mesh's ends, where the converter's stencil meets only the mesh's rows.
    lo, hi = (shift_nodes, 201) if shift_nodes > 0 else (0, 201 + shift_nodes)
    inner = slice(lo + 10, hi - 10)
    source = slice(inner.start - shift_nodes, inner.stop - shift_nodes)
    for got, want in ((b.Fx, a.Fx), (b.Fz, a.Fz)):
        np.testing.assert_allclose(got[:, :, inner], want[:, :, source], rtol=1e-9, atol=1e-9 * np.abs(want).max())


def test_phase_of_a_harmonic_mesh(tmp_path):
    # Z = i F: at 90 degrees Re(Z exp(-i pi / 2)) = F, at 0 degrees the real part 0.
    f = np.ones((3, 3, 3))
    path = write_mesh(str(tmp_path / "rf.h5"), {"z": 1j * f}, [1.0, 1.0, 1.0], [-1.0, -1.0, -1.0],
                      kind="E", mesh_attrs={"harmonic": 1, "RFphase": 0.0})
    common = dict(length_unit="m", field_unit="V/m", d_elm=2.0, aper=1.0, output_dir=str(tmp_path))
    at_90 = load(import_openpmd(path, phase=90.0, kfile_num=2, **common).path)
    np.testing.assert_allclose(at_90.Fz, 1.0, rtol=1e-15)
    at_0 = load(import_openpmd(path, phase=0.0, kfile_num=3, **common).path)
    assert np.all(at_0.Fz == 0.0)


def refusal_mesh(tmp_path, **change):
    f = np.ones((5, 5, 5))
    args = dict(values={"x": f, "y": f, "z": f}, spacing=[0.5, 0.5, 0.5], offset=[-1.0, -1.0, -1.0])
    args.update(change)
    return write_mesh(str(tmp_path / "m.h5"), args.pop("values"), args.pop("spacing"), args.pop("offset"), **args)


@pytest.mark.parametrize("change, options, cause, message", [
    ({"mesh_attrs": {"harmonic": 2}}, {}, DamagedFileError, "harmonic 2 oscillates: give the phase"),
    ({"unit_si": None}, {}, DamagedFileError, "no unitSI"),
    ({}, {"length_unit": None}, ValueError, "units are needed"),
    ({}, {"field_unit": "V/m"}, DamagedFileError, "the field unit V/m is one of E"),
    ({}, {"aper": 1.5}, DamagedFileError, "lie outside the mesh, the first at"),
    ({"geometry": "cylindrical", "values": {"r": np.arange(125.0).reshape(5, 5, 5)}, "offset": [0.0, 0.0, -1.0]}, {},
     DamagedFileError, "depends on theta"),
    ({"geometry": "cylindrical", "offset": [0.0, 0.0, -1.1]}, {}, DamagedFileError, "by no whole number of its z steps"),
    ({"geometry": "cylindrical", "values": {"theta": np.ones((5, 1, 5))}, "offset": [0.0, 0.0, -1.0]}, {},
     DamagedFileError, "an azimuthal component"),
    ({"geometry": "spherical"}, {}, DamagedFileError, "gridGeometry 'spherical'"),
    ({"mesh_attrs": {"eleAnchorPt": np.bytes_("middle")}}, {}, DamagedFileError, "eleAnchorPt 'middle'"),
    ({}, {"mesh": "7"}, DamagedFileError, "no mesh '7'"),
])
def test_refusals(tmp_path, change, options, cause, message):
    path = refusal_mesh(tmp_path, **change)
    kwargs = dict(length_unit="m", field_unit="T", d_elm=2.0, aper=1.0, output_dir=str(tmp_path))
    kwargs.update(options)
    with pytest.raises(cause, match=message):
        import_openpmd(path, **kwargs)
    assert not os.path.exists(tmp_path / "eh_EMS.#01")


def test_nodes_outside_set_to_zero_on_request(tmp_path):
    path = refusal_mesh(tmp_path)
    result = import_openpmd(path, length_unit="m", field_unit="T", d_elm=2.0, aper=1.5, outside="zero",
                            output_dir=str(tmp_path))
    f = load(result.path)
    x = node_coordinates(-1.5, 1.5, 25)
    inside = np.abs(x) <= 1.0
    expected = inside[:, None] & inside[None, :]
    assert result.outside == 25 * 25 * 201 - int(expected.sum()) * 201
    expected = np.broadcast_to(expected[:, :, None], f.Fz.shape)
    assert np.all(f.Fz[~expected] == 0.0)
    np.testing.assert_allclose(f.Fz[expected], 1.0, rtol=1e-15)
    assert result.warnings and result.first_outside == (-1.5, -1.5, -1.0)


@pytest.mark.parametrize("lines", [["title", "", "table.txt", "0", "0", "1", "0", "0 0 0", "16.0"], []])
def test_control_file_that_stops_before_aper(tmp_path, lines):
    (tmp_path / "poisson_to_kavro.dat").write_text("\n".join(lines) + "\n" if lines else "")
    with pytest.raises(DamagedFileError, match="up to its aper"):
        read_control_grid(str(tmp_path))


def test_missing_converter_is_a_clear_error(monkeypatch):
    monkeypatch.setenv("PATH", "/nonexistent")
    monkeypatch.delenv("P2K_CONVERTER", raising=False)
    with pytest.raises(UnreadableInputError, match="not found beside the companion nor on PATH"):
        find_converter()


@pytest.mark.parametrize("module", ["kavro_field.fieldfiles.writer", "kavro_field.exchange.openpmd_import"])
def test_docstring_examples_run(module, tmp_path, monkeypatch):
    import doctest
    import importlib
    monkeypatch.chdir(tmp_path)  # what the examples write stays there
    failed, tried = doctest.testmod(importlib.import_module(module))
    assert tried > 0 and failed == 0
