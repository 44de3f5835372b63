"""Common mistakes in a conversion's inputs and files, each named by its cause.

Every detector here is a function over plain data (the map's arrays, the table's rows, the
control file's lines, a field file's arrays and header) and returns `Diagnosis` values: a stable
`code`, the numbers found and a one-line `message`. Nothing is printed and nothing is decided
about exit statuses here; `lint` and `check` turn diagnoses into their own findings.

Codes
-----
table-end-cut, element-end-cut, fringe-cut, wall, coarse-mesh, split-by-mirror,
z-fastest-rows, symmetry-plane-offset, wrong-parity, control-line-missing, control-line-extra,
kfile-num-range, scale-other-kind, not-text, file-control-mismatch.
"""

import dataclasses
import math
import os
import re
from dataclasses import dataclass, field
from typing import Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from ..inputs.prepared import output_grid

# A field above this share of its peak at an end is not a field that has died out there.
FRINGE_SHARE = 0.05
# A component below this share of the largest |F| on an end plane vanishes there: the field
# meets the plane at right angles (a conducting end plate, a pole face).
WALL_SHARE = 1e-3
# The approximation's step between table cells above this share of the largest |F| is a jump
# that a tracking code sees; the same floor as the jumps inside a file.
MESH_SHARE = 1e-2
# The approximation's blocks are compared this share of a table step on either side of their
# boundary.
BOUNDARY_MARGIN = 1e-9
# The suggested mesh aims at half the floor: the step falls with the cube of the mesh step.
MESH_MARGIN = 0.5
# Jumps at the end planes: the end value against the quadratic through the next three planes,
# far above the same residual further in and above a share of the largest |F|.
END_JUMP_RATIO = 50.0
END_JUMP_WINDOW = 10
END_JUMP_SHARE = 1e-2
# An element end within this share of the map's length from a node beyond it is on that node.
END_TOLERANCE = 1e-4
# The converter's map holds at most 200 x 1000 nodes, 500 rows of a table it mirrors.
NR_LIMIT, NZ_LIMIT = 200, 1000
# A symmetry plane is looked for within this share of the table's length from the mirrored row.
PLANE_SEARCH_SHARE = 0.25


@dataclass(frozen=True)
class Diagnosis:
    """One mistake found: what it is (`code`), where, the numbers and a line saying it.

    Attributes
    ----------
    code : str
        Stable name of the mistake, e.g. "table-end-cut".
    message : str
        One line naming the cause and what to do about it.
    file : str or None
    line : int or None
        Line of the input that sets what is wrong, where the detector knows it.
    node : tuple or None
        Node (i, j, k) of a field file, where the detector found it at one.
    value : float or None
        The main number found (a share of the peak, an offset, a step).
    data : dict
        Every number the message is made of, by name.

    Examples
    --------
    >>> d = Diagnosis("wall", "the field meets the end at right angles", value=1.0)
    >>> d.code, d.value
    ('wall', 1.0)
    """

    code: str
    message: str
    file: Optional[str] = None
    line: Optional[int] = None
    node: Optional[tuple] = None
    value: Optional[float] = None
    data: Mapping = field(default_factory=dict)


def quoted(text: str) -> str:
    """`text` in single quotes with every character that is not printable escaped, so that a
    quoted input never puts control characters or binary bytes on the terminal.

    Examples
    --------
    >>> print(quoted("table.txt\\t"), quoted("a\\x00b\\x1b[31m"), quoted("Zmin é"))
    'table.txt\\t' 'a\\x00b\\x1b[31m' 'Zmin é'
    """
    out = []
    for c in text:
        if c == "'" or c == "\\":
            out.append("\\" + c)
        elif c.isprintable():
            out.append(c)
        else:
            out.append(c.encode("unicode_escape").decode("ascii"))
    return "'" + "".join(out) + "'"


def _g(value: float) -> str:
    return f"{value:.6g}"


# -- where the field is cut, and where it meets a wall ------------------------------------------

def _axis_column(r_node: np.ndarray) -> int:
    return int(np.argmin(np.abs(r_node)))


def is_wall(radial_row: np.ndarray, axial_row: np.ndarray) -> Tuple[bool, float]:
    """Whether the radial component vanishes along an end row of the map (within WALL_SHARE of
    the largest |F| on it), and its largest |F_r| as a share of that.

    Examples
    --------
    >>> is_wall(np.array([0.0, 1e-9, 2e-9]), np.array([1.0, 0.9, 0.8]))[0]
    True
    >>> is_wall(np.array([0.0, 0.3, 0.5]), np.array([1.0, 0.9, 0.8]))
    (False, 0.5)
    """
    magnitude = np.sqrt(radial_row * radial_row + axial_row * axial_row)
    largest = float(np.max(magnitude)) if magnitude.size else 0.0
    if not largest > 0.0:
        return True, 0.0
    share = float(np.max(np.abs(radial_row))) / largest
    return share <= WALL_SHARE, share


def table_end_cuts(r_node, z_node, radial, axial) -> List[Diagnosis]:
    """Ends of the map in z where the on-axis field is above FRINGE_SHARE of its peak and the
    field is not a wall: the table stops while its field is strong.

    Parameters
    ----------
    r_node, z_node : numpy.ndarray
        Node coordinates of the prepared map (mirrored where the converter mirrors).
    radial, axial : numpy.ndarray
        The map's components, shape (Nr, Nz).

    Returns
    -------
    list of Diagnosis
        At most one, code "table-end-cut", data: ends [(z, share, radial share)], peak.

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 21); r = np.linspace(0.0, 1.0, 5)
    >>> flat = np.ones((5, 21)); none = np.zeros((5, 21))
    >>> table_end_cuts(r, z, none, flat)  # E_z flat, E_r = 0: two walls
    []
    >>> [d.code for d in table_end_cuts(r, z, 0.2 * flat, flat)]
    ['table-end-cut']
    """
    radial, axial = np.asarray(radial, dtype=float), np.asarray(axial, dtype=float)
    on_axis = axial[_axis_column(np.asarray(r_node)), :]
    finite = np.isfinite(on_axis)
    if not finite.any():
        return []
    peak = float(np.max(np.abs(on_axis[finite])))
    if not peak > 0.0:
        return []
    ends = []
    for k in (0, len(z_node) - 1):
        share = abs(float(on_axis[k])) / peak
        if not share > FRINGE_SHARE:
            continue
        wall, radial_share = is_wall(radial[:, k], axial[:, k])
        if not wall:
            ends.append((float(z_node[k]), share, radial_share))
    if not ends:
        return []
    where = " and ".join(f"{share:.0%} of its peak at z = {_g(z)}" for z, share, _ in ends)
    radial_text = " and ".join(f"{radial_share:.2g}" for _, _, radial_share in ends)
    return [Diagnosis(
        "table-end-cut",
        f"the table stops while its field is strong: the on-axis field is still {where}, and the field"
        f" is no wall there (the radial component reaches {radial_text} of the largest |F| on the end's rows):"
        " the field beyond is not in the table; solve a longer region",
        value=max(share for _, share, _ in ends), data={"ends": ends, "peak": peak})]


def element_end_cuts(r_node, z_node, axial, element_ends: Sequence[float]) -> List[Diagnosis]:
    """Element ends inside the map beyond which the map's on-axis field still rises above
    FRINGE_SHARE of its peak: the element cuts a fringe field the table holds, however close
    the end is to the map's own end.

    Parameters
    ----------
    r_node, z_node : numpy.ndarray
    axial : numpy.ndarray
        The map's axial component, shape (Nr, Nz).
    element_ends : sequence of float
        The grid's end planes that are ends of the element: both z limits, or only the upper
        one when ksym_z is set.

    Returns
    -------
    list of Diagnosis
        Code "element-end-cut", one per end; value the largest share beyond it.

    Examples
    --------
    >>> z = np.linspace(-5.0, 5.0, 101); r = np.array([0.0, 1.0, 2.0])
    >>> axial = np.tile(np.exp(-z * z / 16), (3, 1))
    >>> [round(d.value, 2) for d in element_end_cuts(r, z, axial, (-4.8, 4.8))]
    [0.22, 0.22]
    >>> element_end_cuts(r, z, axial, (-5.0, 5.0))
    []
    """
    z_node = np.asarray(z_node, dtype=float)
    on_axis = np.abs(np.asarray(axial, dtype=float)[_axis_column(np.asarray(r_node)), :])
    finite = np.isfinite(on_axis)
    if not finite.any():
        return []
    peak = float(np.max(on_axis[finite]))
    if not peak > 0.0:
        return []
    span = float(z_node[-1] - z_node[0])
    # An end this close to a map node is on it: the element length that fits a map is given to
    # six digits, and a sliver of 1e-4 of the map holds no fringe field worth the name.
    tolerance = END_TOLERANCE * abs(span)
    middle = 0.5 * (float(z_node[0]) + float(z_node[-1]))
    out = []
    for end in element_ends:
        if not z_node[0] + tolerance < end < z_node[-1] - tolerance:
            continue
        beyond = (z_node > end + tolerance) if end > middle else (z_node < end - tolerance)
        values = np.where(beyond & finite, on_axis, 0.0)
        if not values.any():
            continue
        k = int(np.argmax(values))
        share = float(values[k]) / peak
        if share > FRINGE_SHARE:
            out.append(Diagnosis(
                "element-end-cut",
                f"the element ends at z = {_g(end)} inside the map, and the map's on-axis field beyond it still"
                f" reaches {share:.0%} of its peak (at z = {_g(z_node[k])}): the element cuts its fringe field;"
                f" a longer d_elm, up to the map's length {_g(span)}, keeps it",
                value=share, data={"end": float(end), "z": float(z_node[k]), "share": share, "peak": peak,
                                   "map_length": span}))
    return out


def element_end_planes(z_grid, Fx, Fy, Fz, ksym_z: int, axis: Tuple[int, int]) -> List[Diagnosis]:
    """A field file's end planes where the on-axis field is still strong, each named as a wall
    (the transverse components vanish on it, within WALL_SHARE of its largest |F|) or as a
    fringe field that goes on beyond the element.

    Parameters
    ----------
    z_grid : numpy.ndarray
    Fx, Fy, Fz : numpy.ndarray
        Components of shape (nx, ny, nz).
    ksym_z : int
        Nonzero: the grid starts in the element's middle; only its upper plane is an end.
    axis : (int, int)
        The (i, j) node on the axis.

    Returns
    -------
    list of Diagnosis
        Code "wall" (not a mistake: the element spans its cavity or gap) or "fringe-cut".

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 11); flat = np.ones((3, 3, 11)); none = np.zeros((3, 3, 11))
    >>> [d.code for d in element_end_planes(z, none, none, flat, 0, (1, 1))]
    ['wall', 'wall']
    >>> [d.code for d in element_end_planes(z, 0.5 * flat, none, flat, 1, (1, 1))]
    ['fringe-cut']
    """
    Fx, Fy, Fz = (np.asarray(c, dtype=float) for c in (Fx, Fy, Fz))
    on_axis = np.abs(Fz[axis[0], axis[1], :])
    finite = np.isfinite(on_axis)
    if not finite.any() or not np.max(on_axis[finite]) > 0.0:
        return []
    peak = float(np.max(on_axis[finite]))
    ends = [len(z_grid) - 1] if ksym_z != 0 else [0, len(z_grid) - 1]
    out = []
    for k in ends:
        share = float(on_axis[k]) / peak
        if not share > FRINGE_SHARE:
            continue
        transverse = np.sqrt(Fx[:, :, k] * Fx[:, :, k] + Fy[:, :, k] * Fy[:, :, k])
        magnitude = np.sqrt(transverse * transverse + Fz[:, :, k] * Fz[:, :, k])
        largest = float(np.max(magnitude))
        transverse_share = float(np.max(transverse)) / largest if largest > 0.0 else 0.0
        node = (int(axis[0]), int(axis[1]), k)
        data = {"z": float(z_grid[k]), "share": share, "transverse_share": transverse_share}
        if transverse_share <= WALL_SHARE:
            out.append(Diagnosis(
                "wall", f"the field meets the element's end z = {_g(z_grid[k])} at right angles (on-axis"
                        f" {share:.0%} of its peak, the transverse components {transverse_share:.2g} of the largest"
                        " |F| there): a wall, a conducting end plate or a pole face, not a cut fringe",
                node=node, value=share, data=data))
        else:
            out.append(Diagnosis(
                "fringe-cut", f"the on-axis field at the element's end z = {_g(z_grid[k])} is still {share:.0%} of its"
                              f" peak and the field goes on through that plane (transverse components"
                              f" {transverse_share:.2g} of the largest |F| there): a fringe field continues beyond"
                              " the element; a longer d_elm keeps it where the table reaches further, a longer"
                              " table where it does not",
                node=node, value=share, data=data))
    return out


def element_end_planes_of(f) -> List[Diagnosis]:
    """`element_end_planes` of a loaded field file, at the node of its grid nearest the axis.

    Examples
    --------
    >>> element_end_planes_of(kavro_field.load("eh_EMS.#01"))  # doctest: +SKIP
    []
    """
    x, y = np.asarray(f.x_grid), np.asarray(f.y_grid)
    radii = np.sqrt(x[:, None] * x[:, None] + y[None, :] * y[None, :])
    i, j = np.unravel_index(np.argmin(radii), radii.shape)
    return element_end_planes(f.z_grid, f.Fx, f.Fy, f.Fz, f.ksym[2], (int(i), int(j)))


# -- the mesh against the 3 x 3 approximation ---------------------------------------------------

def approximation_steps_by_axis(inputs, axes) -> Dict[str, Tuple[float, float, float]]:
    """The largest step the converter's approximation takes where it changes its 3 x 3 block
    (halfway between table nodes), over the part of the map the grid covers, by the direction
    crossed: {"z": (step, r, z), "r": (step, r, z)}.

    This is the measure of the mesh that `lint` and `check --control` share. The field is taken
    BOUNDARY_MARGIN of a table step on either side of each boundary: the boundary's computed
    position and the converter's choice of block may differ by a rounding, so the two sides
    are not told by the next double; the field's own change over the margin is a few 1e-9 of
    it, far below any step that matters.

    Parameters
    ----------
    inputs : Inputs
        The prepared map (its `at`, `r_node`, `z_node`).
    axes : dict
        The output grid, as `Inputs.grid` gives it.
    """
    x, y, z = (axes[a][1] for a in "xyz")
    radii = np.unique(np.sqrt(x[:, None] * x[:, None] + y[None, :] * y[None, :]))
    r_node, z_node = inputs.r_node, inputs.z_node
    z_mid = (z_node[1:-2] + z_node[2:-1]) / 2
    z_mid = z_mid[(z_mid >= z.min()) & (z_mid <= z.max())]
    r_mid = (r_node[1:-2] + r_node[2:-1]) / 2
    r_mid = r_mid[(r_mid >= radii.min()) & (r_mid <= radii.max())]
    found = {}
    for rr, zz, moved in ((radii[:, None], z_mid[None, :], "z"), (r_mid[:, None], z[None, :], "r")):
        found[moved] = (0.0, 0.0, 0.0)
        if rr.size == 0 or zz.size == 0:
            continue
        rr, zz = np.broadcast_arrays(rr, zz)
        nodes = z_node if moved == "z" else r_node
        margin = BOUNDARY_MARGIN * abs(float(nodes[1] - nodes[0]))
        if moved == "z":
            after, before = (rr, zz + margin), (rr, zz - margin)
        else:
            after, before = (rr + margin, zz), (rr - margin, zz)
        with np.errstate(invalid="ignore"):
            steps = np.maximum(*(np.abs(a - b) for a, b in zip(inputs.at(*after), inputs.at(*before))))
        steps = np.where(np.isfinite(steps), steps, 0.0)
        k = np.unravel_index(np.argmax(steps), steps.shape)
        found[moved] = (float(steps[k]), float(rr[k]), float(zz[k]))
    return found


def approximation_steps(inputs, axes) -> Tuple[float, float, float]:
    """The largest step of `approximation_steps_by_axis` in either direction: (step, r, z).
    `check --control` measures the mesh with this function."""
    z_step, r_step = (approximation_steps_by_axis(inputs, axes)[a] for a in ("z", "r"))
    return z_step if z_step[0] >= r_step[0] else r_step


def sampled_peak(inputs) -> float:
    """The largest |F| of the field the converter samples from the map: the scale the mesh's
    step is measured against, the same as the largest |F| of the file it writes."""
    f = inputs.field3d()
    return max(float(np.max(np.abs(c), initial=0.0, where=np.isfinite(c))) for c in (f.Fx, f.Fy, f.Fz))


def coarse_mesh(steps: Mapping[str, Tuple[float, float, float]], peak: float, r_intervals: int,
                z_intervals: int, mirrored: bool = False) -> List[Diagnosis]:
    """A table mesh too coarse for the 3 x 3 approximation, with the header's counts and a mesh
    that would pass.

    The approximation's step between cells falls with the cube of the mesh step, so each count
    is raised by (step / (MESH_MARGIN MESH_SHARE peak))^(1/3) in the direction where the step
    is too large.

    Parameters
    ----------
    steps : mapping
        `approximation_steps_by_axis` of the map.
    peak : float
        The largest |F| (`sampled_peak`, or the field file's largest |F|).
    r_intervals, z_intervals : int
        The header's counts.
    mirrored : bool
        Whether the converter mirrors the table (its map then holds at most 500 table rows).

    Returns
    -------
    list of Diagnosis
        Code "coarse-mesh", data: step, share, r, z, counts (r, z), finer (r, z), fits.

    Examples
    --------
    >>> steps = {"z": (0.08, 0.0, 1.5), "r": (0.001, 0.5, 0.0)}
    >>> d = coarse_mesh(steps, 1.0, 8, 48)[0]
    >>> d.code, d.data["finer"]
    ('coarse-mesh', (8, 121))
    >>> coarse_mesh({"z": (0.001, 0.0, 0.0), "r": (0.0, 0.0, 0.0)}, 1.0, 8, 48)
    []
    """
    if not peak > 0.0:
        return []
    worst = max(steps.values(), key=lambda s: s[0])
    share = worst[0] / peak
    if not share > MESH_SHARE:
        return []
    counts = {"r": int(r_intervals), "z": int(z_intervals)}
    finer = dict(counts)
    for axis in ("r", "z"):
        axis_share = steps.get(axis, (0.0,))[0] / peak
        if axis_share > MESH_MARGIN * MESH_SHARE:
            finer[axis] = math.ceil(counts[axis] * (axis_share / (MESH_MARGIN * MESH_SHARE)) ** (1 / 3))
    fits = finer["r"] + 1 <= NR_LIMIT and finer["z"] + 1 <= (NZ_LIMIT // 2 if mirrored else NZ_LIMIT)
    advice = (f"a table of {finer['r']} x {finer['z']} intervals (r, z) gives a smooth field" if fits else
              f"a table of {finer['r']} x {finer['z']} intervals (r, z) would, more than the converter's map holds:"
              " solve a shorter region or a finer mesh where the field varies")
    return [Diagnosis(
        "coarse-mesh",
        f"the table's mesh of {counts['r']} x {counts['z']} intervals (r, z) is too coarse for the 3 x 3"
        f" approximation: its value steps by up to {worst[0]:.4g} ({share:.3g} of the largest |F|) between table"
        f" cells, at r = {_g(worst[1])}, z = {_g(worst[2])}; {advice}",
        value=share, data={"step": worst[0], "share": share, "r": worst[1], "z": worst[2],
                           "counts": (counts["r"], counts["z"]), "finer": (finer["r"], finer["z"]), "fits": fits})]


# -- a jump at the end planes of a field file ---------------------------------------------------

def end_plane_jumps(Fx, Fy, Fz, z_grid, names: Sequence[str] = ("Fx", "Fy", "Fz")) -> List[Diagnosis]:
    """Jumps between the first two or the last two planes of a field file: the end plane's value
    against the quadratic through the next three planes, far above the same residual further in.

    A wrong mirror side puts the mirror plane at the table's far end and the table's own middle
    at the element's ends: the two halves of the element meet there, a jump that the check of
    jumps inside the file (which needs neighbours on both sides) cannot see.

    Parameters
    ----------
    Fx, Fy, Fz : numpy.ndarray
        Components of shape (nx, ny, nz), nz >= END_JUMP_WINDOW + 4.
    z_grid : numpy.ndarray
    names : sequence of str
        The components' names for the message.

    Returns
    -------
    list of Diagnosis
        Code "split-by-mirror", one per component and end, node the end node of the largest.

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 41); smooth = np.tile(np.cos(z), (3, 3, 1))
    >>> end_plane_jumps(smooth, smooth, smooth, z)
    []
    >>> split = smooth.copy(); split[:, :, 0] += 0.5
    >>> [(d.code, d.node[2]) for d in end_plane_jumps(split, smooth, smooth, z)]
    [('split-by-mirror', 0)]
    """
    components = [np.asarray(c, dtype=float) for c in (Fx, Fy, Fz)]
    stack = np.stack(components)
    finite = np.isfinite(stack)
    scale = float(np.max(np.abs(stack[finite]))) if finite.any() else 0.0
    if not scale > 0.0 or stack.shape[-1] < END_JUMP_WINDOW + 4:
        return []
    zero = (components[0] == 0.0) & (components[1] == 0.0) & (components[2] == 0.0)
    out = []
    for name, c in zip(names, components):
        for end in (0, -1):
            planes = c if end == 0 else c[:, :, ::-1]
            empty = zero if end == 0 else zero[:, :, ::-1]
            d3 = planes[:, :, 3:] - 3 * planes[:, :, 2:-1] + 3 * planes[:, :, 1:-2] - planes[:, :, :-3]
            residual = np.abs(d3[:, :, 0])
            with np.errstate(invalid="ignore"):
                reference = np.median(np.abs(d3[:, :, 1:END_JUMP_WINDOW + 1]), axis=-1)
            touches_zero = empty[:, :, :END_JUMP_WINDOW + 4].any(axis=-1)
            jump = ((residual > END_JUMP_RATIO * reference) & (residual > END_JUMP_SHARE * scale)
                    & ~touches_zero & np.isfinite(residual))
            if not jump.any():
                continue
            i, j = np.unravel_index(np.argmax(np.where(jump, residual, 0.0)), residual.shape)
            k = 0 if end == 0 else len(z_grid) - 1
            k_next = 1 if end == 0 else len(z_grid) - 2
            value, next_value = float(c[i, j, k]), float(c[i, j, k_next])
            out.append(Diagnosis(
                "split-by-mirror",
                f"{name} jumps between the {'first' if end == 0 else 'last'} two planes at {int(jump.sum())} nodes,"
                f" from {value:.4g} at z = {_g(z_grid[k])} to {next_value:.4g} at z = {_g(z_grid[k_next])}"
                f" (x node {i}, y node {j}; {float(residual[i, j]) / scale:.3g} of the largest |F| off the field"
                " further in): the element's two halves meet at its end, as a half table mirrored from the wrong"
                " side makes them",
                node=(int(i), int(j), k), value=float(residual[i, j]) / scale,
                data={"component": name, "count": int(jump.sum()), "z": float(z_grid[k]), "value": value,
                      "next": next_value}))
    return out


# -- the table's rows ---------------------------------------------------------------------------

def z_fastest_rows(r_column, z_column, nr: int, nz: int, first_line: Optional[int] = None) -> List[Diagnosis]:
    """Rows written with z varying fastest, told from the rows' own coordinates: z changes from
    each row to the next and r stays for a run of rows, where the converter reads r fastest.

    Parameters
    ----------
    r_column, z_column : numpy.ndarray
        The first two numbers of each row, in the order read.
    nr, nz : int
        The header's node counts.
    first_line : int, optional
        The table line of the first row.

    Examples
    --------
    >>> r, z = np.meshgrid(np.linspace(0, 1, 3), np.linspace(0, 2, 5), indexing="ij")
    >>> [d.code for d in z_fastest_rows(r.ravel(), z.ravel(), 3, 5)]
    ['z-fastest-rows']
    >>> z_fastest_rows(r.T.ravel(), z.T.ravel(), 3, 5)
    []
    """
    r_column, z_column = np.asarray(r_column, dtype=float), np.asarray(z_column, dtype=float)
    if len(r_column) < 3 or nr < 2 or nz < 2:
        return []
    r_changes = np.flatnonzero(r_column[1:] != r_column[0])
    r_run = int(r_changes[0]) + 1 if r_changes.size else len(r_column)
    z_moves = bool(np.all(z_column[1:min(r_run, len(z_column))] != z_column[:min(r_run, len(z_column)) - 1]))
    if r_run < 2 or not z_moves:
        return []
    return [Diagnosis("z-fastest-rows",
                      "rows run with z fastest; the converter reads r fastest: write the table r fastest",
                      line=first_line, value=float(r_run),
                      data={"r_run": r_run, "nz": int(nz), "nr": int(nr)})]


def _zero_crossing(values: np.ndarray, z: np.ndarray, start: int, step: int, limit: int, tolerance: float):
    """The z nearest `start` (going by `step`, at most `limit` rows) where `values` passes 0,
    linearly between rows; None when it does not within the limit."""
    if abs(values[start]) <= tolerance:
        return float(z[start])
    sign = np.sign(values[start])
    k = start
    for _ in range(limit):
        nxt = k + step
        if not 0 <= nxt < len(values):
            return None
        if np.sign(values[nxt]) != sign or values[nxt] == 0.0:
            a, b = values[k], values[nxt]
            return float(z[k] + (z[nxt] - z[k]) * (a / (a - b)))
        k = nxt
    return None


def symmetry_plane(radial, axial, z, kmirror_z: int, line: Optional[int] = None,
                   length_unit: str = "") -> List[Diagnosis]:
    """A half table against its field's own symmetry plane: where the odd component vanishes
    nearest the row the converter mirrors about (the first row for kmirror_z 1 and 2, the last
    for -1 and -2).

    Off that row, the offset is named ("symmetry-plane-offset"); on it, the parity of the mode is
    judged ("wrong-parity" where the mode makes the other component odd); nothing else.

    Parameters
    ----------
    radial, axial : numpy.ndarray
        The table's columns as read, shape (Nr, Nz) (column r, row z; the axis first).
    z : numpy.ndarray
        The rows' z from the header's limits.
    kmirror_z : int
    line : int, optional
        The table line of the mirrored row.
    length_unit : str
        The length unit the table's header states ("cm"), or "".

    Examples
    --------
    >>> z = np.linspace(0.0, 3.0, 61); r = np.linspace(0.0, 1.0, 5)[:, None]
    >>> br, bz = r * np.sin(z - 0.3), np.cos(z - 0.3) + 0 * r
    >>> d = symmetry_plane(br, bz, z, 2)[0]
    >>> d.code, round(d.value, 3)
    ('symmetry-plane-offset', 0.3)
    >>> br, bz = r * np.sin(z), np.cos(z) + 0 * r
    >>> symmetry_plane(br, bz, z, 2), [d.code for d in symmetry_plane(br, bz, z, 1)]
    ([], ['wrong-parity'])
    """
    if kmirror_z not in (1, -1, 2, -2):
        return []
    radial, axial, z = (np.asarray(a, dtype=float) for a in (radial, axial, z))
    nz = radial.shape[1]
    if nz < 3:
        return []
    start, step = (0, 1) if kmirror_z > 0 else (nz - 1, -1)
    limit = max(1, int(PLANE_SEARCH_SHARE * (nz - 1)))
    with np.errstate(invalid="ignore", over="ignore"):
        magnitude = np.sqrt(radial * radial + axial * axial)
    finite = np.isfinite(magnitude)
    if not finite.any() or not np.max(magnitude[finite]) > 0.0:
        return []
    # Where the field has died out on the mirrored row (a far end mirrored, the wrong side's
    # mistake), no symmetry of it can be told there.
    if not np.max(np.where(finite[:, start], magnitude[:, start], 0.0)) > FRINGE_SHARE * np.max(magnitude[finite]):
        return []
    candidates = []
    for name, values in (("radial", radial), ("axial", axial)):
        finite = np.isfinite(values)
        if not finite.any():
            continue
        magnitude = np.where(finite, np.abs(values), 0.0)
        peak = float(magnitude.max())
        if not peak > 0.0:
            continue
        column = values[int(np.argmax(magnitude.max(axis=1))), :] if name == "radial" else values[0, :]
        column_peak = float(np.max(np.abs(column[np.isfinite(column)])))
        plane = _zero_crossing(column, z, start, step, limit, WALL_SHARE * column_peak)
        if plane is not None:
            candidates.append((abs(plane - z[start]), plane, name))
    if not candidates:
        return []
    offset, plane, name = min(candidates)
    odd = "axial" if abs(kmirror_z) == 1 else "radial"
    row_tolerance = 1e-6 * abs(float(z[1] - z[0]))
    if offset > row_tolerance:
        return [Diagnosis(
            "symmetry-plane-offset",
            f"the field's own symmetry plane, where the {name} component vanishes, lies {offset:.3g}{' ' + length_unit if length_unit else ''} inside the"
            " table, not on the row the converter mirrors about: start the table there",
            line=line, value=offset, data={"offset": offset, "plane": plane, "row": float(z[start]),
                                           "component": name})]
    if name != odd:
        right = (1 if kmirror_z > 0 else -1) * (2 if name == "radial" else 1)
        return [Diagnosis(
            "wrong-parity",
            f"the field's symmetry plane is the mirrored row, where its {name} component vanishes, but kmirror_z ="
            f" {kmirror_z} makes the {odd} component odd: wrong parity for this field; kmirror_z = {right} fits it",
            line=line, value=0.0, data={"component": name, "kmirror_z": right})]
    return []


# -- the control file ---------------------------------------------------------------------------

CONTROL_LINES = 12
# What each line of the control file holds: free text, the table's name, values.
_LINE_ROLES = ("free text", "free text", "table name", "iflag_EH", "kmirror_z", "kfile_num", "kform_3D",
               "ksym_x ksym_y ksym_z", "d_elm", "aper", "scale_E", "scale_B")
_SHAPES = ("any", "any", "name", "int", "int", "int", "int", "int3", "real", "real", "real", "real")
_ITEM_NAMES = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", "ksym", "d_elm", "aper", "scale_E", "scale_B")
_INTEGER = re.compile(r"[+-]?\d+$")
_REAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eEdDqQ][+-]?\d+)?$")


def _line_shape(text: str):
    """(shape, label) of a control line: "int3", "int", "real", "text" or "blank", and the
    control item its remark names, if any."""
    tokens = [t for t in re.split(r"[\s,]+", text.strip()) if t]
    if not tokens:
        return "blank", None
    integers = 0
    for t in tokens[:3]:
        if not _INTEGER.match(t):
            break
        integers += 1
    label = next((name for name in _ITEM_NAMES for t in tokens if t.startswith(name)), None)
    if integers == 3:
        return "int3", label
    if integers >= 1:
        return "int", label
    if _REAL.match(tokens[0]):
        return "real", label
    return "text", label


def _fits(shape, label, expected, index):
    if expected == "any":
        return 0
    if expected == "name":
        return 0 if shape == "text" else 1
    cost = 0
    if not (shape == expected or (expected == "real" and shape == "int")):
        cost += 1
    item = _LINE_ROLES[index]
    if label is not None and not item.startswith(label):
        cost += 1
    return cost


def _alignment_cost(shapes, roles):
    return sum(_fits(shape, label, _SHAPES[role], role) for (shape, label), role in zip(shapes, roles))


def control_line_count(lines: Sequence[str]) -> List[Diagnosis]:
    """A control file with a line missing or one too many, told from the shape of its values
    (a name, four integers, three integers, four reals) and the item names of their remarks.

    Parameters
    ----------
    lines : sequence of str
        The control file's lines, without their line ends.

    Returns
    -------
    list of Diagnosis
        Code "control-line-missing" or "control-line-extra"; data: the line (from 1) that seems
        missing or extra, its role, and the other lines the same shift would fit.

    Examples
    --------
    >>> good = ["title", "", "table.txt", "0 iflag_EH", "1 kmirror_z", "1 kfile_num", "0 kform_3D",
    ...         "0 0 0", "7.6", "1.3", "1000.0", "1.0"]
    >>> control_line_count(good)
    []
    >>> d = control_line_count(good[:1] + good[2:])[0]
    >>> d.code, d.message
    ('control-line-missing', '11 lines where 12 are expected: line 2 (free text) seems missing, so every value is read one line early')
    >>> [d.code for d in control_line_count(good[:4] + ["0 iflag_EH"] + good[4:])]
    ['control-line-extra']
    """
    lines = list(lines)
    while lines and not lines[-1].strip():
        lines.pop()
    head, rest = lines[:3], lines[3:]
    # A blank line among the values is passed over by the reads: it shifts nothing.
    values = [text for text in rest if text.strip()]
    shapes = [_line_shape(text) for text in head + values]
    usable = shapes[:CONTROL_LINES + 1]
    identity = _alignment_cost(usable[:CONTROL_LINES], range(min(len(usable), CONTROL_LINES)))
    if len(usable) >= CONTROL_LINES and identity == 0:
        return []
    best = None
    # A file that holds a thirteenth line is read as one with a line too many before one with a
    # line missing: the alignment that accounts for every line wins a tie.
    for extra in range(CONTROL_LINES + 1):
        if len(usable) < CONTROL_LINES + 1:
            break
        roles = list(range(extra)) + [None] + list(range(extra, CONTROL_LINES))
        cost = sum(_fits(shape, label, _SHAPES[role], role) for (shape, label), role in zip(usable, roles)
                   if role is not None)
        if best is None or cost < best[0]:
            best = (cost, "extra", [extra])
        elif cost == best[0] and best[1] == "extra":
            best[2].append(extra)
    for missing in range(CONTROL_LINES):
        if len(usable) < CONTROL_LINES - 1:
            break
        roles = [k for k in range(CONTROL_LINES) if k != missing]
        cost = _alignment_cost(usable[:CONTROL_LINES - 1], roles)
        if best is None or cost < best[0]:
            best = (cost, "missing", [missing])
        elif cost == best[0] and best[1] == "missing":
            best[2].append(missing)
    if best is None or not best[0] < identity or best[0] > 0:
        return []
    _, kind, where = best
    if kind == "missing":
        # A text line is the table's name rather than a title: the name is the last line to be
        # taken for missing.
        named = [w for w in where if _LINE_ROLES[w] != "table name"] or where
        # Lines of one role are alike: name the last of the run that fits (line 2 of the two
        # free-text lines: the first line is there, holding the title).
        first, last = named[0], named[-1]
        role = _LINE_ROLES[last]
        which = f"line {last + 1} ({role})" if first == last or _LINE_ROLES[first] == role else \
            f"one of lines {first + 1} to {last + 1} ({_LINE_ROLES[first]} .. {role})"
        return [Diagnosis("control-line-missing",
                          f"{CONTROL_LINES - 1} lines where {CONTROL_LINES} are expected: {which} seems missing,"
                          " so every value is read one line early",
                          line=last + 1, data={"line": last + 1, "role": role, "candidates": [w + 1 for w in where]})]
    first, last = where[0], where[-1]
    which = f"line {first + 1}" if first == last else f"one of lines {first + 1} to {last + 1}"
    return [Diagnosis("control-line-extra",
                      f"{CONTROL_LINES + 1} lines where {CONTROL_LINES} are expected: {which} seems one too many,"
                      " so every value after it is read one line late",
                      line=first + 1, data={"line": first + 1, "candidates": [w + 1 for w in where]})]


def kfile_num_range(kfile_num: int) -> List[Diagnosis]:
    """A kfile_num outside 0 .. 99, which the two digits of the output name cannot hold.

    Examples
    --------
    >>> d = kfile_num_range(100)[0]
    >>> d.code, d.data["name"]
    ('kfile-num-range', 'eh_EMS.#**')
    >>> kfile_num_range(99)
    []
    """
    if 0 <= kfile_num <= 99:
        return []
    return [Diagnosis("kfile-num-range",
                      f"kfile_num = {kfile_num} is outside 0 .. 99, which the output name's two digits hold: the"
                      " converter names its output eh_EMS.#**",
                      value=float(kfile_num), data={"name": "eh_EMS.#**"})]


def scale_other_kind(iflag_EH: int, scale_E: float, scale_B: float) -> List[Diagnosis]:
    """A scale for the field kind the table is not, different from 1: it does not apply.

    Examples
    --------
    >>> [d.data["name"] for d in scale_other_kind(1, 1.5, 1.0)]
    ['scale_E']
    >>> scale_other_kind(0, 1.5, 1.0)
    []
    """
    if iflag_EH not in (0, 1):
        return []
    name, value, kind, used = (("scale_B", scale_B, "E", "scale_E") if iflag_EH == 0 else
                               ("scale_E", scale_E, "B", "scale_B"))
    if value == 1.0:
        return []
    return [Diagnosis("scale-other-kind",
                      f"{name} = {value!r} does not apply: iflag_EH = {iflag_EH} reads the table as {kind}, which"
                      f" {used} scales",
                      value=float(value), data={"name": name, "applies": used})]


# -- inputs that are not text -------------------------------------------------------------------

_LAYOUT_0_BYTES = 3_017_116
_TEXT_BYTES = (9_296_488 - 125_630, 9_302_558)


def field_file_layout(data: bytes) -> Optional[int]:
    """The layout of the field file the bytes look like (by its size and first record or
    line), or None.

    Examples
    --------
    >>> field_file_layout(b"title\\n")
    """
    if len(data) == _LAYOUT_0_BYTES and data[:4] == (20).to_bytes(4, "little"):
        return 0
    if _TEXT_BYTES[0] <= len(data) <= _TEXT_BYTES[1]:
        first = data[:200].split(b"\n", 1)[0].split()
        if len(first) == 3:
            return 1
        if len(first) == 1:
            return 2
    return None


def not_text(data: bytes, name: str, role: str = "control file") -> List[Diagnosis]:
    """A control file or table that is not text: a field file given in its place, or NUL bytes.

    Parameters
    ----------
    data : bytes
        The file's content (its first megabytes are enough for NUL bytes).
    name : str
        The name to show.
    role : str
        "control file" or "table".

    Examples
    --------
    >>> not_text(b"\\x00\\x01binary", "data.bin")[0].message
    "'data.bin' holds NUL bytes (the first at byte 0): not a text file, not a control file"
    >>> not_text(b"title\\n", "poisson_to_kavro.dat")
    []
    """
    layout = field_file_layout(data)
    shown = os.path.basename(name)
    if layout is not None:
        return [Diagnosis("not-text", f"{shown} looks like a field file of layout {layout}, not a {role}",
                          value=float(layout), data={"layout": layout, "role": role})]
    nul = data.find(b"\0")
    if nul >= 0:
        return [Diagnosis("not-text", f"{quoted(shown)} holds NUL bytes (the first at byte {nul}): not a text file,"
                                      f" not a {role}",
                          value=float(nul), data={"offset": nul, "role": role})]
    return []


# -- a field file against a control file --------------------------------------------------------

def _text(value) -> str:
    if isinstance(value, tuple):
        return " ".join(_text(v) for v in value)
    if isinstance(value, float):
        return f"{value:.15g}"
    return str(value)


def file_control_mismatch(f, control: Mapping, file_name: str, control_name: str) -> List[Diagnosis]:
    """The first difference between a field file's header and what the control file makes: d_elm,
    aper (layouts 0 and 1), ksym, the grid limits, the field kind (layout 2).

    Parameters
    ----------
    f : FieldFile
    control : mapping
        The control values by name (as `inputs.trace` reads them).
    file_name, control_name : str
        The names to show, as the user gave them.

    Returns
    -------
    list of Diagnosis
        At most one, code "file-control-mismatch"; data: what, in the file, in the control file.
    """
    def same(a, b):
        return bool(np.all(np.isclose(np.asarray(a, dtype=float), np.asarray(b, dtype=float), rtol=1e-12, atol=0.0)))

    pairs: List[Tuple[str, object, object]] = []
    if f.d_elm is not None:
        pairs += [("d_elm", f.d_elm, float(control["d_elm"])), ("aper", f.aper, float(control["aper"]))]
    pairs.append(("ksym", tuple(int(v) for v in f.ksym),
                  tuple(int(control[n]) for n in ("ksym_x", "ksym_y", "ksym_z"))))
    for axis, (want, _) in output_grid(control).items():
        pairs.append((f"{axis} limits", tuple(float(v) for v in f.limits[axis]), tuple(float(v) for v in want)))
    if f.kind is not None:
        pairs.append(("field", f.kind, {0: "E", 1: "B"}.get(control["iflag_EH"], f"iflag_EH {control['iflag_EH']}")))
    for what, mine, theirs in pairs:
        differs = (mine != theirs) if isinstance(mine, str) or what == "ksym" else not same(mine, theirs)
        if differs:
            return [Diagnosis(
                "file-control-mismatch",
                f"{os.path.basename(file_name)} was not converted from {control_name}: {what} {_text(mine)} in the"
                f" file, {_text(theirs)} in the control file",
                data={"what": what, "file": mine, "control": theirs})]
    return []


# -- the units the table states -----------------------------------------------------------------

_LENGTH_UNIT = re.compile(r"[(\[]\s*(cm|mm|m|um|µm|in)\s*[)\]]")
_TRAILING_LENGTH = re.compile(r"[\d.]\s*(cm|mm|m|um|µm|in)\s*$")
_FIELD_UNITS = {"E": re.compile(r"[(\[]\s*(V/m|V/cm|V/mm|kV/cm|kV/m|kV/mm|MV/m|MV/cm)\s*[)\]]"),
                "B": re.compile(r"[(\[]\s*(T|G|Gauss|gauss|Tesla|tesla|mT|kG)\s*[)\]]")}


def stated_units(texts: Sequence[str]) -> Dict[str, Optional[str]]:
    """The length and field units a table's header states, in its limit lines ("... 20.0 cm")
    or its column headings ("R(cm) ... Ez(V/cm)"), and the field kind the field unit names.

    Parameters
    ----------
    texts : sequence of str
        The header's lines: the two limit lines and the lines between the counts and the rows.

    Examples
    --------
    >>> stated_units(["  (Rmin,Zmin):  0.0 ,  0.0 cm", "", "  R(cm)  Z(cm)  Er(V/cm)  Ez(V/cm)"])
    {'length': 'cm', 'field': 'V/cm', 'kind': 'E'}
    >>> stated_units(["(Rmin,Zmin) : 0 10", "   R  Z  Fr  Fz"])
    {'length': None, 'field': None, 'kind': None}
    """
    found: Dict[str, Optional[str]] = {"length": None, "field": None, "kind": None}
    for text in texts:
        if found["length"] is None:
            match = _LENGTH_UNIT.search(text) or _TRAILING_LENGTH.search(text)
            found["length"] = match.group(1) if match else None
        if found["field"] is None:
            for kind, pattern in _FIELD_UNITS.items():
                match = pattern.search(text)
                if match:
                    found["field"], found["kind"] = match.group(1), kind
                    break
    return found


# -- every detector of the inputs, in the order of their causes ---------------------------------

def _at(d: Diagnosis, file: Optional[str], line: Optional[int]) -> Diagnosis:
    return dataclasses.replace(d, file=file, line=line if d.line is None else d.line)


def input_diagnoses(t) -> List[Diagnosis]:
    """Every mistake of a traced conversion's inputs, each at the line that sets it; a cause
    stands for what follows from it.

    A control file read a line off names only that (every value after it is another's); rows in
    z-fastest order name only that (the map is scrambled, so are its ends and its mesh); a half
    table off its symmetry plane or of the wrong parity stands for the mesh's steps its kink
    makes at the mirror plane.

    Parameters
    ----------
    t : Trace
        `inputs.trace` of the control file.

    Returns
    -------
    list of Diagnosis

    Examples
    --------
    >>> [d.code for d in input_diagnoses(trace("examples/lens"))]  # doctest: +SKIP
    []
    """
    out: List[Diagnosis] = []
    try:
        with open(t.control_path, "rb") as control:
            lines = control.read(1 << 20).decode("latin-1").splitlines()
    except OSError:
        lines = []
    shifted = [_at(d, t.control_path, d.line) for d in control_line_count(lines)]
    if shifted:
        return shifted
    c = t.control

    def origin(name):
        o = t.origins.get(name)
        return (o.file, o.line) if o is not None else (t.control_path, None)

    if "kfile_num" in c:
        out += [_at(d, *origin("kfile_num")) for d in kfile_num_range(c["kfile_num"])]
    if "scale_B" in c:
        for d in scale_other_kind(c["iflag_EH"], c["scale_E"], c["scale_B"]):
            out.append(_at(d, *origin(d.data["name"])))
    h = t.header
    if t.rows is None or "r_intervals" not in h:
        return out
    nr, nz = h["r_intervals"] + 1, h["z_intervals"] + 1
    rows = t.rows
    order = z_fastest_rows(rows[:, 0], rows[:, 1], nr, nz, t.first_row_line)
    if order:
        return out + [_at(d, t.table_path, d.line) for d in order]
    units = stated_units([h.get("A_text", ""), h.get("B_text", "")] + list(h.get("separator_text", [])))
    mode = c.get("kmirror_z")
    plane: List[Diagnosis] = []
    if mode in (1, -1, 2, -2) and nr > 0 and nz > 0:
        radial, axial = (rows[:, col].reshape(nz, nr).T for col in (2, 3))
        row_line = int(t.row_lines[0 if mode > 0 else len(rows) - nr])
        z = np.linspace(h["Zmin"], h["Zmax"], nz)
        plane = [_at(d, t.table_path, row_line)
                 for d in symmetry_plane(radial, axial, z, mode, length_unit=units["length"] or "")]
    out += plane
    m = t.inputs
    if m is None:
        return out
    table_cuts = table_end_cuts(m.r_node, m.z_node, m.radial, m.axial)
    out += [_at(d, t.table_path, h.get("A_line")) for d in table_cuts]
    # Beyond an element end on the side of a cut table end the table is the cause: a longer
    # element reaches no further than the table does.
    cut_sides = {z > 0 for d in table_cuts for z, _, _ in d.data["ends"]}
    (lower, upper), _ = output_grid(c)["z"]
    ends = (upper,) if c["ksym_z"] != 0 else (lower, upper)
    out += [_at(d, *origin("d_elm")) for d in element_end_cuts(m.r_node, m.z_node, m.axial, ends)
            if (d.data["end"] > 0) not in cut_sides]
    if not plane:
        steps = approximation_steps_by_axis(m, m.grid())
        out += [_at(d, t.table_path, h.get("C_line"))
                for d in coarse_mesh(steps, sampled_peak(m), h["r_intervals"], h["z_intervals"], mode in (1, -1, 2, -2))]
    return out


def file_diagnoses(f) -> List[Diagnosis]:
    """What plain `check` can tell of a field file's ends alone: a jump between its first or last
    two planes ("split-by-mirror"), and each end plane where the on-axis field is still strong,
    as a wall ("wall", not a mistake) or a fringe field going on ("fringe-cut").

    Parameters
    ----------
    f : FieldFile

    Examples
    --------
    >>> [d.code for d in file_diagnoses(kavro_field.load("eh_EMS.#01"))]  # doctest: +SKIP
    []
    """
    names = [(f.kind or "F") + axis for axis in "xyz"]
    return end_plane_jumps(f.Fx, f.Fy, f.Fz, f.z_grid, names) + element_end_planes_of(f)
