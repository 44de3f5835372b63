"""The whole element from a stored half: against fields of known parity, and against the
converter's own full-grid conversion of the same table."""

import numpy as np
import pytest

import analytic

from kavro_field import load
from kavro_field.fieldfiles.layouts import FieldFile
from kavro_field.analysis.axis import integrate


def solenoid_like(x, y, z):
    """Bz even in z, Bx and By odd; Bx odd in x, By odd in y."""
    return 0.3 * x * np.sin(z), 0.3 * y * np.sin(z), np.cos(z) * (1 - 0.1 * (x * x + y * y))


def einzel_like(x, y, z):
    """Ez odd in z, Ex and Ey even."""
    return -0.5 * x * np.cos(z), -0.5 * y * np.cos(z), np.sin(z) * (1 + 0.2 * (x * x + y * y))


def neither(x, y, z):
    return 0.3 * x * (np.sin(z) + 0.2), 0.3 * y * np.sin(z), np.cos(z) + 0.3 * np.sin(z)


def made(field, ksym, kind="B"):
    """A file of `field` on the grid the converter writes for the flags `ksym`."""
    counts, upper = (25, 25, 201), (1.0, 1.0, 2.0)
    grids = [np.linspace(0.0 if flag else -u, u, n) for flag, u, n in zip(ksym, upper, counts)]
    fx, fy, fz = field(*np.meshgrid(*grids, indexing="ij"))
    limits = [(float(g[0]), float(g[-1])) for g in grids]
    return FieldFile("made", 2, kind, *grids, *limits, tuple(ksym), None, None, fx, fy, fz)


@pytest.mark.parametrize("field, ksym, odd", [
    (solenoid_like, (0, 0, 1), {"z": ("Fx", "Fy")}),
    (einzel_like, (0, 0, 1), {"z": ("Fz",)}),
    (solenoid_like, (1, 1, 1), {"x": ("Fx",), "y": ("Fy",), "z": ("Fx", "Fy")}),
    (einzel_like, (1, 0, 0), {"x": ("Fx",)}),
])
def test_unfolded_half_is_the_field_over_the_whole_element(field, ksym, odd):
    g = made(field, ksym).unfold()
    assert {a.axis: a.odd for a in g.unfolding.axes} == odd
    assert g.unfolding.whole and g.ksym == (0, 0, 0)
    assert g.Fz.shape == tuple(2 * n - 1 if flag else n for flag, n in zip(ksym, (25, 25, 201)))
    for grid, (lo, hi), flag, upper in zip(g.grids, g.limits.values(), ksym, (1.0, 1.0, 2.0)):
        assert (lo, hi) == (-upper, upper) and grid[0] == -upper and grid[-1] == upper
        assert np.all(np.diff(grid) > 0)
    expected = field(*np.meshgrid(*g.grids, indexing="ij"))
    for got, want in zip(g.components, expected):
        np.testing.assert_allclose(got, want, rtol=0, atol=1e-14)


@pytest.mark.parametrize("field, reason", [
    (neither, "no parity fits: on z = 0 Bz reaches 1 and Bx, By 0.06 of the peak"),
    (lambda x, y, z: tuple(c * np.sin(z) for c in (x, y, 1 + 0 * x)), "the whole field vanishes on z = 0"),
])
def test_a_plane_that_fits_no_parity_keeps_the_half(field, reason):
    f = made(field, (0, 0, 1))
    g = f.unfold()
    assert not g.unfolding.whole and g.ksym == (0, 0, 1) and g.Fz.shape == f.Fz.shape
    assert reason in g.unfolding.axes[0].reason
    assert g.unfolding.describe("B").startswith("half element: the stored half z >= 0 kept: ")


def test_record_reads_as_the_summary_prints_it():
    f = made(solenoid_like, (0, 0, 1))
    f.Fx[:, :, 0] += 3e-9  # what a solver's rounding leaves on the plane
    assert f.unfold().unfolding.describe("B") == ("whole element: the stored half z >= 0 unfolded, Bz even (Bx, By"
                                                  " vanish on z = 0 to 3e-9 of the peak)")


def test_methods_of_the_file_work_on_the_whole_element():
    g = made(einzel_like, (1, 1, 1), kind="E").unfold()
    z, ex, ey, ez = g.on_axis()
    assert len(z) == 401 and z[200] == 0.0
    np.testing.assert_allclose(ez, np.sin(z), atol=1e-14)
    # Trilinear between the nodes, across the plane too: the mirror image of a point is the
    # point's value with the parity.
    points = np.array([0.13, 0.41, 0.77])
    front, back = g.at(points, -points, points), g.at(-points, points, -points)
    np.testing.assert_allclose(back, -front, atol=1e-14)  # every component odd under this reflection
    assert g.steps == pytest.approx({"x": 1 / 24, "y": 1 / 24, "z": 2 / 200})
    assert "49 x 49 x 401 nodes" in repr(g)


def midway(coordinates, step, origin):
    """Where a coordinate lies midway between two nodes of the map (a tie for the nearest node)."""
    u = (coordinates - origin) / step
    return np.abs(u - np.floor(u) - 0.5) < 1e-9


@pytest.mark.parametrize("name, ksym", [("solenoid", (0, 0, 1)), ("solenoid", (1, 1, 1)), ("lens", (0, 0, 1)),
                                        ("lens", (1, 1, 1)), ("gaussian", (0, 0, 1))])
def test_unfolded_conversion_matches_the_full_grid_conversion(conversion, name, ksym):
    """The half is sampled twice as finely: every second node of the unfolded file is a node of
    the full grid, where the converter's approximation gives the same value. At a node midway
    between two map nodes the rounding of its coordinate picks the stencil, and the
    approximation jumps there by up to about 1e-4 of the peak."""
    table = analytic.FIELDS[name]
    full, g = load(conversion(name)), load(conversion(name, ksym=ksym)).unfold()
    assert g.unfolding.whole
    peak = max(float(np.abs(c).max()) for c in full.components)
    shared = tuple(slice(None, None, 2) if flag else slice(None) for flag in ksym)
    for axis, flag in enumerate(ksym):
        if flag:
            np.testing.assert_allclose(g.grids[axis][::2], full.grids[axis], rtol=0, atol=1e-12)
    tie = (midway(np.hypot(*np.meshgrid(full.x_grid, full.y_grid, indexing="ij")), table.r_max / table.r_intervals, 0.0)[:, :, None]
           | midway(full.z_grid, 2 * table.half_length / table.z_intervals, -table.half_length)[None, None, :])
    for got, want in zip(g.components, full.components):
        difference = np.abs(got[shared] - want)
        assert difference[~tie].max() <= 1e-9 * peak
        assert difference.max() <= 1e-4 * peak
    # The integrals along the axis, by the same rule on either grid: they differ by what the
    # approximation does between the shared nodes.
    whole, half = full.on_axis(), g.on_axis()
    scale = float(integrate(whole.z, np.abs(whole.Fz)))
    assert abs(integrate(half.z, half.Fz) - integrate(whole.z, whole.Fz)) <= 1e-4 * scale
    square = float(integrate(whole.z, whole.Fz ** 2))
    assert abs(integrate(half.z, half.Fz ** 2) - square) <= 1e-4 * square
