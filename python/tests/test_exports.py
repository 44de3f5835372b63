"""Exports other programs read: the openPMD mesh read back with h5py, the metadata of npz and vti,
the options they need, and an existing output kept when a write fails."""

import hashlib
import os
import resource
import subprocess
import sys

import numpy as np
import pytest

import kavro_field
from kavro_field.cli import main

h5py = pytest.importorskip("h5py")

# Attributes the standard asks of the root, the extension of the mesh group, and the standard of
# every mesh record and its components.
REQUIRED = {"/": {"openPMD", "openPMDextension", "basePath", "iterationEncoding", "iterationFormat",
                  "externalFieldPath"},
            "mesh": {"eleAnchorPt", "gridGeometry", "gridSpacing", "gridLowerBound", "gridSize", "gridOriginOffset",
                     "harmonic", "axisLabels"},
            "record": {"unitDimension", "timeOffset", "geometry", "axisLabels", "gridSpacing", "gridGlobalOffset"},
            "component": {"unitSI", "position"}}

# field, layout, options, record, SI value of one file unit, metres per length unit, harmonic
OPENPMD_CASES = [
    ("lens", 0, ["--kind", "E", "--length-unit", "cm", "--field-unit", "V/cm"], "electricField", 100.0, 0.01, 0),
    ("cusp", 2, ["--length-unit", "mm", "--field-unit", "G"], "magneticField", 1e-4, 0.001, 0),
    ("pillbox", 1, ["--control", "CONTROL", "--length-unit", "m", "--field-unit", "MV/m", "--frequency", "1.3e9"],
     "electricField", 1e6, 1.0, 1),
]


def _text(value):
    return value.decode() if isinstance(value, bytes) else str(value)


@pytest.mark.parametrize("field, layout, options, record, field_si, length_si, harmonic", OPENPMD_CASES)
def test_openpmd_file_reads_back_with_the_extension_attributes(conversion, tmp_path, capsys, field, layout, options,
                                                               record, field_si, length_si, harmonic):
    path = conversion(field, ksym=(1, 0, 1), kform_3D=layout)
    options = [os.path.dirname(path) if o == "CONTROL" else o for o in options]
    out = tmp_path / "field.h5"
    assert main(["export", path, "--openpmd", str(out), *options]) == 0
    f = kavro_field.load(path)
    with h5py.File(out, "r") as h5:
        assert REQUIRED["/"] <= set(h5.attrs) and _text(h5.attrs["openPMDextension"]) == "BeamPhysics;SpeciesType"
        mesh = h5[_text(h5.attrs["externalFieldPath"])]
        assert REQUIRED["mesh"] <= set(mesh.attrs) and set(mesh) == {record}
        assert (mesh.attrs["harmonic"], _text(mesh.attrs["gridGeometry"])) == (harmonic, "rectangular")
        assert [_text(label) for label in mesh.attrs["axisLabels"]] == ["x", "y", "z"]
        assert list(mesh.attrs["gridSize"]) == [25, 25, 201] and list(mesh.attrs["gridLowerBound"]) == [0, 0, 0]
        nodes = [mesh.attrs["gridOriginOffset"][a] + np.arange(n) * mesh.attrs["gridSpacing"][a]
                 for a, n in enumerate(mesh.attrs["gridSize"])]
        for axis, grid in enumerate(f.grids):
            assert np.allclose(nodes[axis], grid * length_si, rtol=1e-13, atol=1e-15)
        assert REQUIRED["record"] <= set(mesh[record].attrs)
        assert mesh[record].attrs["unitDimension"][3] == -1.0  # both fields go with 1 / current
        for axis, component in zip("xyz", f.components):
            data = mesh[record][axis]
            assert REQUIRED["component"] <= set(data.attrs) and data.attrs["unitSI"] == field_si
            # Where the readers in common use look for the unit: on the component itself.
            assert np.array_equal(data.attrs["unitDimension"], mesh[record].attrs["unitDimension"])
            assert _text(data.attrs["unitSymbol"]) == {"electricField": "V/m", "magneticField": "T"}[record]
            assert data.dtype == (np.complex128 if harmonic else np.float64)
            assert np.array_equal(data[()], component)
        # One known value: the largest |Fz| in SI.
        peak = np.unravel_index(np.argmax(np.abs(f.Fz)), f.Fz.shape)
        assert np.real(mesh[record]["z"][peak]) * data.attrs["unitSI"] == f.Fz[peak] * field_si
        assert _text(mesh.attrs["source_sha256"]) == hashlib.sha256(open(path, "rb").read()).hexdigest()


@pytest.mark.parametrize("options, says", [
    ([], "needs --length-unit, --field-unit, --kind E|B or --control (layout 0"),
    (["--length-unit", "cm", "--kind", "E"], "needs --field-unit; nothing written"),
    (["--length-unit", "cm", "--field-unit", "G", "--kind", "E"], "the field unit G means B, but --kind says E"),
    (["--length-unit", "cm", "--field-unit", "V/cm", "--kind", "B", "--control", "CONTROL"],
     "the field unit V/cm means E, but --kind says B"),
    (["--field-unit", "V/cm", "--control", "CONTROL", "--length-unit", "mm"],
     "--length-unit mm, but lens.txt line 7 heads the columns R(cm) Z(cm)"),
    (["--length-unit", "cm", "--field-unit", "V/cm", "--kind", "E", "--frequency", "-5"], "a frequency in Hz above 0"),
])
def test_openpmd_export_says_what_is_missing_and_writes_nothing(example_files, tmp_path, capsys, options, says):
    options = [os.path.dirname(example_files[0]) if o == "CONTROL" else o for o in options]
    with pytest.raises(SystemExit) as stop:
        main(["export", example_files[0], "--openpmd", str(tmp_path / "f.h5"), *options])
    err = capsys.readouterr().err
    assert stop.value.code == 2 and says in err and err.count("\n") == 1
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("fmt", ["npz", "vtk"])
def test_npz_and_vti_carry_header_units_and_provenance(example_files, example_control, tmp_path, fmt):
    path = example_files[0]
    out = str(tmp_path / f"f.{fmt}")
    assert main(["export", path, f"--{fmt}", out, "--length-unit", "cm", "--field-unit", "V/cm", "--kind", "E"]) == 0
    expected = {**example_control, "kind": "E", "ksym": (0, 0, 0), "length_unit": "cm", "field_unit": "V/cm",
                "source_file": "eh_EMS.#01", "source_sha256": hashlib.sha256(open(path, "rb").read()).hexdigest(),
                "companion_version": f"kavro-field {kavro_field.__version__}"}
    if fmt == "npz":
        archive = np.load(out)
        found = {key: archive[key].item() if archive[key].ndim == 0 else tuple(archive[key]) for key in expected}
    else:
        vtk = pytest.importorskip("vtk")
        reader = vtk.vtkXMLImageDataReader()
        reader.SetFileName(out)
        reader.Update()
        data = reader.GetOutput().GetFieldData()
        found = {}
        for key, value in expected.items():
            array = data.GetAbstractArray(key)
            items = [array.GetVariantValue(n) for n in range(array.GetNumberOfValues())]
            found[key] = (items[0].ToString() if isinstance(value, str) else
                          tuple(v.ToInt() for v in items) if isinstance(value, tuple) else items[0].ToDouble())
    assert found == expected


def test_a_failed_export_leaves_the_old_file(example_files, tmp_path):
    target = tmp_path / "field.h5"
    target.write_bytes(b"the previous export\n")

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
    run = subprocess.run([sys.executable, "-m", "kavro_field", "export", example_files[0], "--openpmd", str(target),
                          "--length-unit", "cm", "--field-unit", "V/cm", "--kind", "E"], preexec_fn=limit,
                         capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(__file__))))
    assert run.returncode == 2 and run.stderr.startswith(f"kavro-field: {target}: cannot be written"), run.stderr
    assert target.read_bytes() == b"the previous export\n" and os.listdir(tmp_path) == ["field.h5"]
