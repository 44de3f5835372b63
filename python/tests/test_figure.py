"""The logbook figure: what its labels and titles say, where it takes its slices, what it draws of
a file holding NaN or Inf, and that it leaves matplotlib's state alone."""

import dataclasses
import io
import os
import re
import sys

import matplotlib
import numpy as np
import pytest

import kavro_field
from kavro_field.cli import main
from kavro_field.figures.plots import figure


def _texts(fig):
    axes = [ax for ax in fig.axes if ax.get_label() != "<colorbar>"]
    return axes, fig._suptitle.get_text()


@pytest.mark.parametrize("units, z_label, field_label", [
    (("cm", "V/cm"), "z [cm]", "Ez [V/cm]"),
    ((None, None), "z [file units]", "Ez [file units]"),
])
def test_labels_name_quantity_and_unit_and_the_title_the_provenance(example_files, example_control, units, z_label,
                                                                    field_label):
    f = kavro_field.load(example_files[2])
    axes, title = _texts(figure(f, *units))
    on_axis = axes[0]
    assert (on_axis.get_xlabel(), on_axis.get_ylabel()) == (z_label, field_label)
    assert "eh_EMS.#01: electric field, layout 2" in title and "ksym = 0 0 0" in title and "sha256" in title
    low, high = on_axis.get_ylim()
    assert low < 0.0 < high
    ends = sorted(line.get_xdata()[0] for line in on_axis.lines if line.get_linestyle() == "--")
    assert ends == [-example_control["d_elm"] / 2, example_control["d_elm"] / 2]


# Elements shorter than their tables, so that the largest transverse field lies inside.
@pytest.mark.parametrize("field, ksym, d_elm, z_peak", [("solenoid", (0, 0, 0), 11.5, 3.0), ("cusp", (0, 0, 1), 9.6, 0.0),
                                                         ("lens", (1, 1, 0), 7.6, 0.0)])
def test_profile_and_slice_are_taken_where_the_transverse_field_is_largest(conversion, field, ksym, d_elm, z_peak):
    f = kavro_field.load(conversion(field, ksym=ksym, d_elm=d_elm))
    axes, _ = _texts(figure(f, "cm", "T" if field != "lens" else "V/cm"))
    for ax in axes[1:4:2]:
        found = float(re.search(r"z = (\S+) cm", ax.get_title()).group(1))
        assert abs(abs(found) - z_peak) <= (f.z_grid[1] - f.z_grid[0]) / 2, ax.get_title()


def _spoil_components(f):
    fx, fz = f.Fx.copy(), f.Fz.copy()
    fx[3, 4, 5], fz[3, 4, 5], fz[12, 12, 100], fx[0, 0, 0] = np.nan, np.inf, -np.inf, np.finfo(float).max
    return dataclasses.replace(f, Fx=fx, Fz=fz)


def _spoil_grid(f):
    x = f.x_grid.copy()
    x[3] = np.nan
    return dataclasses.replace(f, x_grid=x)


def _largest(component, where, sign=1.0):
    """The largest double (times `sign`) at the nodes `where` of `component`."""
    def spoil(f):
        values = getattr(f, component).copy()
        values[where] = sign * np.finfo(float).max
        return dataclasses.replace(f, **{component: values})
    return spoil


def _both(*spoils):
    def spoil(f):
        for one in spoils:
            f = one(f)
        return f
    return spoil


@pytest.mark.parametrize("spoil, note, divided", [
    (_spoil_components, "2 of 125625 nodes hold NaN or Inf: not drawn", None),
    (_spoil_grid, "x_grid holds NaN or Inf: drawn on the nodes its limits give", None),
    (_largest("Fz", (12, 12, 100)), None, "1e308"),
    (_both(_largest("Fz", (12, 12, 100), -1.0), _largest("Fz", (12, 12, 50))), None, "1e308"),
    (_largest("Fz", (slice(None),) * 3), None, "1e308"),
    (_both(_largest("Fx", (slice(None),) * 3), _largest("Fy", (slice(None),) * 3, -1.0)), None, "1e308"),
], ids=["nan and inf", "grid", "largest on the axis", "both largest on the axis", "largest Fz everywhere",
        "largest Fx and -Fy everywhere"])
def test_non_finite_and_huge_values_are_drawn_within_finite_limits(example_files, spoil, note, divided):
    with np.errstate(over="raise", invalid="raise", divide="raise"):  # no overflow of the drawing's own arithmetic, which would reach stderr
        fig = figure(spoil(kavro_field.load(example_files[0])), "cm", "V/cm", "E")
    fig.savefig(io.BytesIO(), format="png")
    assert (fig._supxlabel.get_text() if fig._supxlabel else None) == note
    axes = [ax for ax in fig.axes if ax.get_label() != "<colorbar>"]
    for ax in axes:
        assert np.isfinite(ax.get_ylim()).all() and np.isfinite(ax.get_xlim()).all()
    labels = " ".join(ax.get_ylabel() for ax in fig.axes)
    assert (f"/ {divided}" in labels) if divided else ("/ 1e" not in labels)


@pytest.mark.parametrize("name, start", [("f.png", b"\x89PNG"), ("f.pdf", b"%PDF-"), ("f.SVG", b"<?xml")])
def test_the_suffix_names_the_figures_format(example_files, tmp_path, capsys, name, start):
    assert main(["plot", example_files[0], "-o", str(tmp_path / name)]) == 0
    assert (tmp_path / name).read_bytes().startswith(start)
    assert capsys.readouterr().out == f"written: {tmp_path / name}\n"


@pytest.mark.parametrize("ksym, box", [((0, 0, 0), (-4.0, 8.0, 1.0, 2 ** 0.5)), ((1, 1, 1), (0.0, 4.0, 1.0, 2 ** 0.5))])
def test_map_panel_shows_the_grid_box_and_its_corners(conversion, ksym, box):
    path = conversion("lens", ksym=ksym, aper=1.0, d_elm=8.0)
    fig = figure(kavro_field.load(path), "cm", "V/cm", inputs=kavro_field.read_inputs(os.path.dirname(path)))
    panel = fig.subfigs[1].axes[0]
    found = [(p.get_x(), p.get_width(), p.get_height()) for p in panel.patches]
    z0, length, aper, corner = box
    assert np.allclose(found, [(z0, length, aper), (z0, length, corner)])
    assert "table table.txt, kmirror_z = 0 (not mirrored), scale_E = 1000" in fig._suptitle.get_text()


def test_the_figure_leaves_matplotlib_as_it_was(example_files, tmp_path, capsys):
    backend = matplotlib.get_backend()
    had_pyplot = "matplotlib.pyplot" in sys.modules
    control = os.path.dirname(example_files[0])
    assert main(["plot", example_files[0], "-o", str(tmp_path / "f.png"), "--unit", "cm", "--field-unit", "V/cm",
                 "--control", control]) == 0
    assert matplotlib.get_backend() == backend and ("matplotlib.pyplot" in sys.modules) == had_pyplot
    png = (tmp_path / "f.png").read_bytes()
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    assert b"pHYs" in png and int.from_bytes(png[png.index(b"pHYs") + 4:][:4], "big") == round(150 / 0.0254)
