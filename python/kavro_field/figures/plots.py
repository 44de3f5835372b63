"""The logbook figure of a field file: the on-axis field with the element's ends, the transverse
profile and the x-y slice where the transverse field is largest, an x-z slice, and with the
conversion's inputs the table's map with the box the output grid cuts out of it.

Built with matplotlib's object interface only: no backend is chosen and no pyplot state is left,
so the figure can be returned to a notebook. matplotlib is imported here only, so that the other
commands start without it.
"""

import os
from typing import TYPE_CHECKING, Any, Optional

import numpy as np

from ..exchange.exports import metadata
from ..fieldfiles.grid import node_coordinates
from ..analysis.coverage import fringe_cut
from ..atomic import write_atomically
from ..errors import DrawingError, KavroFieldError
from ..units import FIELD_UNITS, axis_label, scale_name

if TYPE_CHECKING:
    from ..fieldfiles.layouts import FieldFile
    from ..inputs.prepared import Inputs

DPI = 150
#: The figure's file formats, named by the output's suffix.
PLOT_FORMATS = ("png", "pdf", "svg")
MIRROR_MODES = {1: "mirrored, z >= 0 half, axial odd", -1: "mirrored, z <= 0 half, axial odd",
                2: "mirrored, z >= 0 half, radial odd", -2: "mirrored, z <= 0 half, radial odd"}


def _table_line(inputs) -> str:
    """The conversion's table, mirror mode and scale, in one line."""
    control = inputs.control
    mode = MIRROR_MODES.get(control["kmirror_z"], "not mirrored")
    scale = scale_name(control["iflag_EH"])
    return (f"table {os.path.basename(control['poisson_file'].strip())}, kmirror_z = {control['kmirror_z']}"
            f" ({mode}), {scale} = {control[scale]:g}")


def _finite(values):
    return np.ma.masked_invalid(values)


def _drawn_nodes(grid, limits):
    """Node coordinates to draw on: the file's, or where they are not all finite, those its
    limits give (or the node numbers), since colour maps cannot place a cell at NaN."""
    if np.isfinite(grid).all():
        return grid
    lower, upper = limits
    if np.isfinite([lower, upper]).all() and upper > lower:
        return node_coordinates(lower, upper, len(grid))
    return np.arange(len(grid), dtype=np.float64)


#: Above this |value| a curve is drawn divided by a power of ten: matplotlib pads an axis's span,
#: which would overflow for values near the largest double.
_DRAWN_AS_IS = 1e100


def _drawable(*curves):
    """`curves` as drawn on a line plot: divided by a power of ten where their finite values reach
    `_DRAWN_AS_IS`, and the text the axis label takes for it ("" when drawn as they are)."""
    largest = max(float(np.max(np.abs(c), initial=0.0, where=np.isfinite(c))) for c in curves)
    if largest < _DRAWN_AS_IS:
        return list(curves), ""
    exponent = int(np.floor(np.log10(largest)))
    with np.errstate(under="ignore"):
        return [np.asarray(c) * 10.0 ** -exponent for c in curves], f" / 1e{exponent}"


def _symmetric_limits(values):
    """Colour limits symmetric about 0, so that the sign of a component reads from the colour."""
    largest = float(np.max(np.abs(values), initial=0.0, where=np.isfinite(values)))
    # Beyond half the largest double the colour scale's span would overflow.
    largest = min(largest, np.finfo(np.float64).max / 4) or 1.0
    return -largest, largest


def _element_ends(f):
    """z of the element's ends that lie on the grid (an axis with its symmetry flag set starts at
    the symmetry plane, not at an end)."""
    upper = f.d_elm / 2 if f.d_elm is not None else f.zmws[1]
    ends = [upper] if f.ksym[2] else [-upper, upper]
    return [z for z in ends if np.isfinite(z)]


def _transverse_peak(f):
    """Index k of the z plane where |(Fx, Fy)| is largest (where |Fz| is, for a field without a
    transverse part), and the transverse magnitude."""
    with np.errstate(over="ignore", invalid="ignore"):
        transverse = np.sqrt(f.Fx * f.Fx + f.Fy * f.Fy)
    by_plane = np.max(transverse, axis=(0, 1), initial=0.0, where=np.isfinite(transverse))
    if not by_plane.any():
        by_plane = np.max(np.abs(f.Fz), axis=(0, 1), initial=0.0, where=np.isfinite(f.Fz))
    return int(np.argmax(by_plane)), transverse


def _end_shares(f, fz):
    """The on-axis field at the element's ends that lie on the grid as shares of its peak, and
    whether a fringe is cut off there."""
    peak = float(np.max(np.abs(fz), initial=0.0, where=np.isfinite(fz)))
    ends = fz[-1:] if f.ksym[2] else fz[[0, -1]]
    if not peak or not np.isfinite(peak) or not np.isfinite(ends).all():
        return "", False
    shares = np.abs(ends) / peak
    text = " and ".join(f"{share:.0%}" for share in shares)
    cut = bool(fringe_cut(f.z_grid, fz, f.ksym[2]))
    return f" (end{'s' if len(shares) > 1 else ''}: {text} of its peak{', cut off' if cut else ''})", cut


def _provenance_line(f, meta, length_unit, inputs):
    unit = f" {length_unit}" if length_unit else ""
    if f.d_elm is not None:
        parts = [f"d_elm = {f.d_elm:.6g}{unit}, aper = {f.aper:.6g}{unit}"]
    elif inputs is not None:
        parts = [f"d_elm = {inputs.control['d_elm']:.6g}{unit}, aper = {inputs.control['aper']:.6g}{unit}"
                 " (control file)"]
    else:
        parts = ["d_elm, aper not in layout 2"]
    parts.append(f"ksym = {' '.join(map(str, f.ksym))}")
    parts.append(f"sha256 {meta['source_sha256'][:12]}, {meta['companion_version']}")
    if inputs is not None:
        parts.append(_table_line(inputs))
    return "; ".join(parts)


def map_panel(ax, inputs, f, field_label: str, length_unit: Optional[str]) -> None:
    """Draw the table's map in (r, z) as a colour map with the output grid's box on it.

    `inputs` are the conversion's `Inputs` (`read_inputs`): its prepared map's nodes and axial
    component.

    The solid box is what `aper` and `d_elm` cut out in the x = 0 or y = 0 planes; the dashed one
    reaches the grid's corners, at the radius sqrt(x^2 + y^2) of the outermost nodes, which the
    converter also looks up in the map.

    Examples
    --------
    >>> from matplotlib.figure import Figure
    >>> ax = Figure().add_subplot()
    >>> map_panel(ax, read_inputs(example), kavro_field.load(field_path), "Ez [V/cm]", "cm")
    """
    from matplotlib.patches import Rectangle  # type: ignore[import]

    (axial,), divided = _drawable(inputs.axial)
    low, high = _symmetric_limits(axial)
    image = ax.pcolormesh(inputs.z_node, inputs.r_node, _finite(axial), shading="nearest", cmap="RdBu_r",
                          vmin=low, vmax=high)
    ax.figure.colorbar(image, ax=ax, label=f"table {field_label}{divided}")
    edge = max(abs(f.xmws[0]), abs(f.xmws[1]))
    corner = float(np.sqrt(edge * edge + max(abs(f.ymws[0]), abs(f.ymws[1])) ** 2))
    z0, z1 = f.zmws
    ax.add_patch(Rectangle((z0, 0.0), z1 - z0, edge, fill=False, color="k", lw=1.5))
    ax.add_patch(Rectangle((z0, 0.0), z1 - z0, corner, fill=False, color="k", lw=1.0, ls="--"))
    # Said in the title: a legend would cover part of the map.
    ax.set(title=f"the table's map as the converter prepares it; the output grid (solid, r <= {edge:.4g})"
                 f" and the radius of its corners (dashed, r = {corner:.4g})",
           xlabel=axis_label("z", length_unit), ylabel=axis_label("r", length_unit))
    ax.set_xlim(min(z0, inputs.z_node[0]), max(z1, inputs.z_node[-1]))
    ax.set_ylim(0.0, max(corner, inputs.r_node[-1]) * 1.03)


def _potential_panel(ax, f, length_unit: str, field_unit: str) -> None:
    """V(z) = -integral Ez dz along the axis of the whole element, in volts over z in the file's unit."""
    from ..units import LENGTH_UNITS
    # A field near the largest double integrates to Inf, which is left out like any other.
    with np.errstate(over="ignore", invalid="ignore"):
        z, v = f.on_axis_potential(length_unit, field_unit)
    (v_drawn,), divided = _drawable(v)
    ax.plot(z / LENGTH_UNITS[length_unit], _finite(v_drawn), color="tab:green", label="V = -int Ez dz, 0 at the first plane")
    ax.axhline(0.0, color="0.5", lw=0.8)
    ax.set(xlabel=axis_label("z", length_unit), ylabel="V [V]" + divided)
    ax.legend(fontsize="small")
    ax.grid(True, alpha=0.3)


def figure(f: "FieldFile", length_unit: Optional[str] = None, field_unit: Optional[str] = None,
           kind: Optional[str] = None, inputs: Optional["Inputs"] = None) -> Any:
    """Build the figure of a field file.

    Parameters
    ----------
    f : FieldFile
    length_unit, field_unit : str, optional
        The units the file's numbers are in (it does not state them); the labels say "file
        units" without them.
    kind : str, optional
        "E" or "B" where the file does not say (layouts 0 and 1); without it the labels take the
        field unit's kind.
    inputs : Inputs, optional
        The conversion's inputs (`read_inputs`): adds the map panel, the table's on-axis column
        and the table's name, mirror mode and scale to the provenance line.

    Returns
    -------
    matplotlib.figure.Figure
        Not attached to pyplot; `fig.savefig(name, dpi=150)` writes it, a notebook shows it.

    Examples
    --------
    >>> fig = figure(kavro_field.load(field_path), "cm", "V/cm")
    >>> fig = figure(kavro_field.load(field_path), "cm", "V/cm", inputs=read_inputs(example))
    >>> fig.savefig("lens.png", dpi=150)
    """
    from matplotlib.figure import Figure  # type: ignore[import]

    meta = metadata(f, length_unit, field_unit, kind)
    name = meta.get("kind") or (FIELD_UNITS[field_unit][1] if field_unit else "F")
    labels = {c: axis_label(name + c, field_unit) for c in "xyz"}
    nodes = np.isfinite(f.Fx) & np.isfinite(f.Fy) & np.isfinite(f.Fz)
    fig = Figure(figsize=(12, 12.5 if inputs else 8.8), layout="constrained")
    kind_text = {"E": "electric field", "B": "magnetic field"}.get(name, "field kind not stated")
    fig.suptitle(f"{os.path.basename(f.path)}: {kind_text}, layout {f.layout}\n"
                 f"{_provenance_line(f, meta, length_unit, inputs)}", fontsize="medium")
    # The map in a figure of its own below, so that its colour bar does not move the panels above.
    top, bottom = fig.subfigures(2, 1, height_ratios=(2.2, 1.0)) if inputs else (fig, None)
    grid = top.add_gridspec(2, 2)
    x_grid, y_grid, z_grid = (_drawn_nodes(g, limits) for g, limits in zip(f.grids, f.limits.values()))
    _, fx, fy, fz = f.on_axis()
    z = z_grid
    i0, j0 = (int(np.argmin(np.abs(g))) for g in (x_grid, y_grid))
    k_peak, transverse = _transverse_peak(f)
    z_peak = f"z = {z_grid[k_peak]:.4g}" + (f" {length_unit}" if length_unit else "")

    # An electric field's on-axis potential, under the field, where the units make it volts.
    electric = name == "E" and length_unit is not None and field_unit is not None
    if electric:
        cell = grid[0, 0].subgridspec(2, 1, height_ratios=(2.0, 1.0))
        on_axis = top.add_subplot(cell[0])
    else:
        on_axis = top.add_subplot(grid[0, 0])
    table_axis = inputs if inputs is not None and inputs.r_node[0] == 0.0 else None
    (fz_drawn, table_drawn), divided = _drawable(fz, table_axis.axial[0] if table_axis else np.zeros(0))
    on_axis.plot(z, _finite(fz_drawn), color="tab:blue", label=f"{name}z, x = y = 0")
    if table_axis:
        on_axis.plot(table_axis.z_node, table_drawn, ":", color="tab:orange", label="table, r = 0")
    ends = _element_ends(f)
    for n, end in enumerate(ends):
        on_axis.axvline(end, color="0.3", ls="--", lw=1.0, label=("element end" + "s" * (len(ends) > 1)) if n == 0 else None)
    on_axis.axhline(0.0, color="0.5", lw=0.8)
    finite = fz_drawn[np.isfinite(fz_drawn)]
    if finite.size:
        low, high = min(0.0, float(finite.min())), max(0.0, float(finite.max()))
        pad = 0.06 * (high - low) if high > low else 1.0
        on_axis.set_ylim(low - pad, high + pad)
    span = f.zmws[1] - f.zmws[0]
    on_axis.set_xlim(f.zmws[0] - 0.03 * span, f.zmws[1] + 0.03 * span)
    shares, cut = _end_shares(f, fz)
    on_axis.set_title(f"{name}z on the axis{shares}", color="tab:red" if cut else "black")
    on_axis.set(xlabel=axis_label("z", length_unit), ylabel=labels["z"] + divided)
    on_axis.legend(fontsize="small")
    on_axis.grid(True, alpha=0.3)

    profile = top.add_subplot(grid[0, 1])
    curves, divided = _drawable(*(values[:, j0, k_peak] for values in (f.Fx, f.Fy, f.Fz)))
    for values, style, component in zip(curves, ("o-", "^-", "s-"), "xyz"):
        profile.plot(x_grid, _finite(values), style, ms=3, label=name + component)
    profile.axhline(0.0, color="0.5", lw=0.8)
    profile.set(title=f"profile along x at y = {y_grid[j0]:.3g}, {z_peak} (largest transverse field)",
                xlabel=axis_label("x", length_unit),
                ylabel=axis_label(f"{name}x, {name}y, {name}z", field_unit) + divided)
    profile.legend(fontsize="small")
    profile.grid(True, alpha=0.3)

    xz = top.add_subplot(grid[1, 0])
    (xz_drawn,), divided = _drawable(f.Fz[:, j0, :])
    low, high = _symmetric_limits(xz_drawn)
    image = xz.pcolormesh(z_grid, x_grid, _finite(xz_drawn), shading="nearest", cmap="RdBu_r",
                          vmin=low, vmax=high)
    top.colorbar(image, ax=xz, label=labels["z"] + divided)
    for end in ends:
        xz.axvline(end, color="0.3", ls="--", lw=1.0)
    xz.set(title=f"{name}z in the x-z plane y = {y_grid[j0]:.3g}", xlabel=axis_label("z", length_unit),
           ylabel=axis_label("x", length_unit))

    xy = top.add_subplot(grid[1, 1])
    (plane,), divided = _drawable(transverse[:, :, k_peak])
    image = xy.pcolormesh(x_grid, y_grid, _finite(plane.T), shading="nearest", cmap="viridis",
                          vmin=0.0, vmax=_symmetric_limits(plane)[1])
    top.colorbar(image, ax=xy, label=axis_label(f"|({name}x, {name}y)|", field_unit) + divided)
    step = slice(None, None, 2)
    (arrow_x, arrow_y), _ = _drawable(f.Fx[step, step, k_peak].T, f.Fy[step, step, k_peak].T)
    with np.errstate(over="ignore", invalid="ignore"):
        length = np.sqrt(arrow_x * arrow_x + arrow_y * arrow_y)
        scale = length.max(initial=0.0, where=np.isfinite(length)) or 1.0
        xy.quiver(x_grid[step], y_grid[step], _finite(arrow_x / scale), _finite(arrow_y / scale), color="k",
                  width=0.004)
    xy.set(title=f"transverse {name} in the x-y plane {z_peak}", xlabel=axis_label("x", length_unit),
           ylabel=axis_label("y", length_unit))
    xy.set_aspect("equal")

    if inputs is not None:
        map_panel(bottom.add_subplot(), inputs, f, labels["z"], length_unit)
    if electric and length_unit and field_unit:  # made last: the panels above keep their places in the list of axes
        _potential_panel(top.add_subplot(cell[1]), f, length_unit, field_unit)
    missing = int((~nodes).sum())
    notes = [f"{missing} of {nodes.size} nodes hold NaN or Inf: not drawn"] if missing else []
    notes += [f"{axis}_grid holds NaN or Inf: drawn on the nodes its limits give" for axis, g in zip("xyz", f.grids)
              if not np.isfinite(g).all()]
    if notes:
        # A figure-level label, for which the layout keeps room below the panels.
        fig.supxlabel("; ".join(notes), color="tab:red")
    return fig


def _drawing_error(err: OSError) -> DrawingError:
    """`err`, raised while matplotlib was imported or drew, as the error of the file it concerns:
    the file it names, else matplotlib's cache folder, where it writes while it is imported."""
    from .mplcache import cache_folder
    folder = cache_folder(os.environ)
    what = err.strerror or str(err)
    if err.filename:
        return DrawingError(os.fsdecode(err.filename), f"matplotlib (cache folder {folder}) failed: {what}")
    return DrawingError(folder, f"matplotlib's cache folder: importing or drawing with matplotlib failed: {what}")


def plot_format(path: str) -> Optional[str]:
    """The figure's format its output name `path` asks for by its suffix ("png", "pdf", "svg"), or
    None for another suffix.

    Examples
    --------
    >>> plot_format("lens.PDF"), plot_format("lens.jpg"), plot_format("lens")
    ('pdf', None, None)
    """
    suffix = os.path.splitext(path)[1][1:].lower()
    return suffix if suffix in PLOT_FORMATS else None


def save_plot(f: "FieldFile", path: str, length_unit: Optional[str] = None, field_unit: Optional[str] = None,
              kind: Optional[str] = None, inputs: Optional["Inputs"] = None) -> None:
    """Write the figure of `f` in the format its suffix names: PNG of 150 dpi, PDF or SVG
    (arguments as for `figure`).

    Raises
    ------
    ValueError
        For a suffix other than .png, .pdf and .svg.
    DrawingError
        When matplotlib fails for a reason of the system while it is imported or draws (its cache
        folder, a file-size limit); the error names the file or folder concerned.
    UnwritableOutputError
        When the output cannot be written.

    Examples
    --------
    >>> save_plot(kavro_field.load(field_path), "lens.svg", "cm", "V/cm")
    >>> open("lens.svg").read(5)
    '<?xml'
    """
    form = plot_format(path)
    if form is None:
        raise ValueError(f"{path}: the figure is written as {', '.join('.' + s for s in PLOT_FORMATS)};"
                         " the output's suffix names which")
    try:
        fig = figure(f, length_unit, field_unit, kind, inputs)
    except KavroFieldError:
        raise
    except OSError as err:
        raise _drawing_error(err) from None

    def write(temporary):
        with open(temporary, "wb") as out:
            fig.savefig(out, format=form, dpi=DPI)
    sources = [f.path] + ([inputs.control_path, inputs.table_path] if inputs is not None else [])
    write_atomically(path, write, inputs=sources)
