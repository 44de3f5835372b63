"""info --json, plot, export and the launcher, against what `load` reads."""

import json
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import kavro_field
from conftest import SOURCE_DIR
from kavro_field.cli import main

LAUNCHER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "kavro-field")


def test_version_agrees_with_the_build(capsys):
    cmake = open(os.path.join(SOURCE_DIR, "CMakeLists.txt")).read()
    assert re.search(r"project\(poisson_to_kavro VERSION (\S+)", cmake).group(1) == kavro_field.__version__
    with pytest.raises(SystemExit):
        main(["--version"])
    assert capsys.readouterr().out == f"kavro-field {kavro_field.__version__}\n"


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_info_json_describes_the_file(example_files, capsys, layout):
    assert main(["info", example_files[layout], "--json"]) == 0
    info = json.loads(capsys.readouterr().out)
    f = kavro_field.load(example_files[layout])
    assert (info["format"], info["field"], info["nodes"], info["ksym"]) == (layout, f.kind, [25, 25, 201], list(f.ksym))
    assert info["limits"] == {axis: list(pair) for axis, pair in f.limits.items()}
    assert (info["d_elm"], info["aper"]) == (f.d_elm, f.aper)
    for axis, component in zip("xyz", f.components):
        assert info["components"][axis] == {"min": component.min(), "max": component.max(),
                                            "max_abs": np.abs(component).max()}
    on_axis_zero = (f.Fz[12, 12, :] == 0).sum()  # the only zero nodes of the lens lie on its axis
    assert info["zero_share"] * f.Fz.size == pytest.approx(on_axis_zero)


def test_plot_writes_a_png_beside_the_file(example_files, capsys):
    assert main(["plot", example_files[2]]) == 0
    assert open(example_files[2] + ".png", "rb").read(8) == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("field, name", [("lens", "field"), ("cusp", "B")])
def test_exports_give_back_the_arrays(conversion, tmp_path, field, name):
    path = conversion(field, ksym=(1, 0, 1), kform_3D=2 if name == "B" else 0)
    f = kavro_field.load(path)
    assert main(["export", path, "--npz", str(tmp_path / "f.npz")]) == 0
    archive = np.load(tmp_path / "f.npz")
    for key in ("x_grid", "y_grid", "z_grid", "Fx", "Fy", "Fz"):
        assert np.array_equal(archive[key], getattr(f, key))
    assert tuple(archive["ksym"]) == f.ksym

    vtk = pytest.importorskip("vtk")
    from vtk.util.numpy_support import vtk_to_numpy
    assert main(["export", path, "--vtk", str(tmp_path / "f.vti")]) == 0
    reader = vtk.vtkXMLImageDataReader()
    reader.SetFileName(str(tmp_path / "f.vti"))
    reader.Update()
    image = reader.GetOutput()
    assert image.GetDimensions() == (25, 25, 201)
    nodes = np.array([image.GetPoint(n) for n in (0, 1, 25, 625, 125624)])
    assert np.allclose(nodes, [[f.x_grid[i], f.y_grid[j], f.z_grid[k]]
                               for i, j, k in ((0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1), (24, 24, 200))])
    values = vtk_to_numpy(image.GetPointData().GetArray(name)).reshape(201, 25, 25, 3)
    for c, component in enumerate(f.components):
        assert np.array_equal(values[..., c], component.transpose(2, 1, 0))


def test_launcher_runs_from_any_python_or_says_what_is_missing(example_files):
    ok = subprocess.run(["python3", LAUNCHER, "info", example_files[0]], capture_output=True, text=True)
    assert ok.returncode == 0 and ok.stdout.startswith("file"), ok.stderr
    # Without site the interpreter sees neither numpy nor matplotlib; the mark forbids the re-exec.
    missing = subprocess.run([sys.executable, "-S", LAUNCHER, "--version"], capture_output=True,
                             text=True, env={**os.environ, "KAVRO_FIELD_REEXEC": "1"})
    assert missing.returncode == 2 and missing.stderr.count("\n") == 1 and "numpy" in missing.stderr
