"""The library a physicist imports: description, the field at any point, the axis, xarray."""

import dataclasses
import sys

import numpy as np
import pytest

import kavro_field

# Coefficients (constant, d/dx, d/dy, d/dz) of the three components of linear test fields.
LINEAR = [((1.0, 0.0, 0.0, 0.0),) * 3,
          ((0.5, 2.0, -3.0, 0.25), (-1.0, 0.0, 7.0, -0.5), (3.0, -4.0, 1.0, 11.0)),
          ((0.0, 1e3, 0.0, 0.0), (0.0, 0.0, 1e3, 0.0), (250.0, 0.0, 0.0, -1e-3))]


def _linear(coefficients, x, y, z):
    return [c0 + cx * x + cy * y + cz * z for c0, cx, cy, cz in coefficients]


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_at_gives_back_every_node_exactly(example_files, layout):
    f = kavro_field.load(example_files[layout])
    values = f.at(*np.meshgrid(*f.grids, indexing="ij"))
    assert values.shape == (3, 25, 25, 201)
    assert all(np.array_equal(v, c) for v, c in zip(values, f.components))


@pytest.mark.parametrize("coefficients", LINEAR)
@pytest.mark.parametrize("ksym", [(0, 0, 0), (1, 1, 1)])
def test_at_is_exact_between_nodes_on_a_linear_field(conversion, coefficients, ksym):
    f = kavro_field.load(conversion("lens", ksym=ksym))
    nodes = np.meshgrid(*f.grids, indexing="ij")
    f = dataclasses.replace(f, **dict(zip(("Fx", "Fy", "Fz"), _linear(coefficients, *nodes))))
    rng = np.random.default_rng(17)
    points = [rng.uniform(lo, hi, 2000) for lo, hi in f.limits.values()]
    expected = np.array(_linear(coefficients, *points))
    assert np.allclose(f.at(*points), expected, rtol=1e-12, atol=1e-12 * np.abs(expected).max())


# Points in units of the grid's half extents (aper, aper, d_elm / 2).
@pytest.mark.parametrize("point", [(1.01, 0.0, 0.0), (0.0, -1.3, 0.0), (0.0, 0.0, 1.125), (np.nan, 0.0, 0.0)])
def test_at_is_nan_outside_the_grid(example_files, example_control, point):
    f = kavro_field.load(example_files[0])
    aper, half = example_control["aper"], example_control["d_elm"] / 2
    point = (point[0] * aper, point[1] * aper, point[2] * half)
    inside = f.at(0.5, -0.5, 1.0)
    both = f.at([point[0], 0.5], [point[1], -0.5], [point[2], 1.0])
    assert np.isnan(both[:, 0]).all() and np.array_equal(both[:, 1], inside)


@pytest.mark.parametrize("ksym, axis_node", [((0, 0, 0), (12, 12)), ((1, 1, 0), (0, 0)), ((1, 0, 1), (0, 12))])
def test_on_axis_takes_the_nodes_at_x_y_0(conversion, ksym, axis_node):
    f = kavro_field.load(conversion("solenoid", ksym=ksym))
    z, fx, fy, fz = f.on_axis()
    i, j = axis_node
    assert abs(f.x_grid[i]) < 1e-12 and abs(f.y_grid[j]) < 1e-12
    assert np.array_equal(z, f.z_grid) and np.array_equal(fz, f.Fz[i, j]) and np.array_equal(fx, f.Fx[i, j])
    assert np.abs(fy).max() < 1e-9 * np.abs(fz).max()


@pytest.mark.parametrize("layout, shows", [(0, "layout 0, field kind not stated"), (2, "layout 2, E field")])
def test_repr_is_one_short_line(example_files, example_control, layout, shows):
    f = kavro_field.load(example_files[layout])
    text = repr(f)
    assert "\n" not in text and len(text) < 240 and shows in text
    half = example_control["d_elm"] / 2
    assert f"z {-half:g} .. {half:g}" in text and f"Fz {np.abs(f.Fz).max():.4g}" in text


def test_to_xarray_holds_the_arrays_and_the_header(example_files, example_control, monkeypatch):
    pytest.importorskip("xarray")
    f = kavro_field.load(example_files[0])
    ds = f.to_xarray()
    assert all(np.array_equal(ds[name].values, c) for name, c in zip(("Fx", "Fy", "Fz"), f.components))
    assert all(np.array_equal(ds[axis].values, g) for axis, g in zip("xyz", f.grids))
    assert {key: ds.attrs[key] for key in ("d_elm", "aper")} == example_control and ds.attrs["ksym"] == [0, 0, 0]
    monkeypatch.setitem(sys.modules, "xarray", None)
    with pytest.raises(ImportError, match="apt-get install python3-xarray"):
        f.to_xarray()


def test_help_lists_the_public_api():
    import pydoc
    text = pydoc.render_doc(kavro_field, renderer=pydoc.plaintext)
    assert f"VERSION\n    {kavro_field.__version__}" in text
    for name in set(kavro_field.__all__) - {"__version__"}:
        assert name in text
        # load keeps the reader's own docstring; the package's docstring shows it in use.
        if callable(getattr(kavro_field, name)) and name != "load":
            assert "Examples" in getattr(kavro_field, name).__doc__, name
