"""Where the field is cut, and where it meets a wall: the ends of the table and of the element.

A field that is still strong at an end either goes on beyond it (a fringe field cut off, by the
table that stops or by the element that ends inside the map) or meets the end at right angles
(a conducting end plate or a pole face: a wall, where the radial or transverse components
vanish). A wrongly mirrored half table leaves a third mark at the element's ends: its two halves
meet there, a jump between the first or last two planes.
"""

from typing import List, Sequence, Tuple

import numpy as np

from ..findings import Finding
from ..fieldfiles.grid import axis_node, element_ends
from .coverage import FRINGE_SHARE

# A component below this share of the largest |F| on an end plane vanishes there: the field
# meets the plane at right angles (a conducting end plate, a pole face).
WALL_SHARE = 1e-3
# Jumps at the end planes: the end value against the quadratic through the next three planes,
# far above the same residual further in and above a share of the largest |F|.
END_JUMP_RATIO = 50.0
END_JUMP_WINDOW = 10
END_JUMP_SHARE = 1e-2
# An element end within this share of the map's length from a node beyond it is on that node.
END_TOLERANCE = 1e-4


def _g(value: float) -> str:
    return f"{value:.6g}"


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


def table_end_cuts(r_node, z_node, radial, axial) -> List[Finding]:
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
    list of Finding
        At most one, code "fringe.table-end", data: ends [(z, share, radial share)], peak.

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 21); r = np.linspace(0.0, 1.0, 5)
    >>> flat = np.ones((5, 21)); none = np.zeros((5, 21))
    >>> table_end_cuts(r, z, none, flat)  # E_z flat, E_r = 0: two walls
    []
    >>> [d.code for d in table_end_cuts(r, z, 0.2 * flat, flat)]
    ['fringe.table-end']
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
    return [Finding(
        "fringe.table-end",
        f"the table stops while its field is strong: the on-axis field is still {where}, and the field"
        f" is no wall there (the radial component reaches {radial_text} of the largest |F| on the end's rows):"
        " the field beyond is not in the table; solve a longer region",
        value=max(share for _, share, _ in ends), data={"ends": ends, "peak": peak})]


def element_end_cuts(r_node, z_node, axial, element_ends: Sequence[float]) -> List[Finding]:
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
    list of Finding
        Code "fringe.element-end", one per end; value the largest share beyond it.

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
            out.append(Finding(
                "fringe.element-end",
                f"the element ends at z = {_g(end)} inside the map, and the map's on-axis field beyond it still"
                f" reaches {share:.0%} of its peak (at z = {_g(z_node[k])}): the element cuts its fringe field;"
                f" a longer d_elm, up to the map's length {_g(span)}, keeps it",
                value=share, data={"end": float(end), "z": float(z_node[k]), "share": share, "peak": peak,
                                   "map_length": span}))
    return out


def element_end_planes(z_grid, Fx, Fy, Fz, ksym_z: int, axis: Tuple[int, int]) -> List[Finding]:
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
    list of Finding
        Code "fringe.wall" (not a mistake: the element spans its cavity or gap) or "fringe.beyond-end".

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 11); flat = np.ones((3, 3, 11)); none = np.zeros((3, 3, 11))
    >>> [d.code for d in element_end_planes(z, none, none, flat, 0, (1, 1))]
    ['fringe.wall', 'fringe.wall']
    >>> [d.code for d in element_end_planes(z, 0.5 * flat, none, flat, 1, (1, 1))]
    ['fringe.beyond-end']
    """
    Fx, Fy, Fz = (np.asarray(c, dtype=float) for c in (Fx, Fy, Fz))
    on_axis = np.abs(Fz[axis[0], axis[1], :])
    finite = np.isfinite(on_axis)
    if not finite.any() or not np.max(on_axis[finite]) > 0.0:
        return []
    peak = float(np.max(on_axis[finite]))
    out = []
    for k in element_ends(len(z_grid), ksym_z):
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
            out.append(Finding(
                "fringe.wall", f"the field meets the element's end z = {_g(z_grid[k])} at right angles (on-axis"
                        f" {share:.0%} of its peak, the transverse components {transverse_share:.2g} of the largest"
                        " |F| there): a wall, a conducting end plate or a pole face, not a cut fringe",
                node=node, value=share, data=data))
        else:
            out.append(Finding(
                "fringe.beyond-end", f"the on-axis field at the element's end z = {_g(z_grid[k])} is still {share:.0%} of its"
                              f" peak and the field goes on through that plane (transverse components"
                              f" {transverse_share:.2g} of the largest |F| there): a fringe field continues beyond"
                              " the element; a longer d_elm keeps it where the table reaches further, a longer"
                              " table where it does not",
                node=node, value=share, data=data))
    return out


def element_end_planes_of(f) -> List[Finding]:
    """`element_end_planes` of a loaded field file, at the node of its grid nearest the axis.

    Examples
    --------
    >>> element_end_planes_of(load(field_path))  # the example's lens ends where its field has died out
    []
    """
    node = axis_node(f.x_grid, f.y_grid, nearest=True)
    return element_end_planes(f.z_grid, f.Fx, f.Fy, f.Fz, f.ksym[2], node) if node is not None else []


def end_plane_jumps(Fx, Fy, Fz, z_grid, names: Sequence[str] = ("Fx", "Fy", "Fz")) -> List[Finding]:
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
    list of Finding
        Code "continuity.split-by-mirror", one per component and end, node the end node of the largest.

    Examples
    --------
    >>> z = np.linspace(-1.0, 1.0, 41); smooth = np.tile(np.cos(z), (3, 3, 1))
    >>> end_plane_jumps(smooth, smooth, smooth, z)
    []
    >>> split = smooth.copy(); split[:, :, 0] += 0.5
    >>> [(d.code, d.node[2]) for d in end_plane_jumps(split, smooth, smooth, z)]
    [('continuity.split-by-mirror', 0)]
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
            out.append(Finding(
                "continuity.split-by-mirror",
                f"{name} jumps between the {'first' if end == 0 else 'last'} two planes at {int(jump.sum())} nodes,"
                f" from {value:.4g} at z = {_g(z_grid[k])} to {next_value:.4g} at z = {_g(z_grid[k_next])}"
                f" (x node {i}, y node {j}; {float(residual[i, j]) / scale:.3g} of the largest |F| off the field"
                " further in): the element's two halves meet at its end, as a half table mirrored from the wrong"
                " side makes them",
                node=(int(i), int(j), k), value=float(residual[i, j]) / scale,
                data={"component": name, "count": int(jump.sum()), "z": float(z_grid[k]), "value": value,
                      "next": next_value}))
    return out

