"""Comparison of two field files of any layouts: the header, then component by component."""

import numpy as np

from ..fieldfiles.grid import AXIS_NAMES

# The text layouts keep 15 significant digits in fixed form and 16 in exponent form: a value read
# back from text is within 5e-15 of itself relatively; twice that covers two text files.
DEFAULT_RTOL = 1e-14


def _largest_finite(*arrays):
    return max(float(np.max(np.abs(a), where=np.isfinite(a), initial=0.0)) for a in arrays)


def _unequal(a, b, rtol):
    """Where `a` and `b` differ by more than `rtol` of the larger finite |value| of both; NaN
    differs from everything, NaN included, an infinity from all but itself."""
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    with np.errstate(invalid="ignore", over="ignore"):
        return (a != b) & ~(np.abs(a - b) <= rtol * _largest_finite(a, b))


def header_differences(a, b, rtol=DEFAULT_RTOL):
    """What differs between the headers of two field files, one line each.

    Compared: the node coordinates and limits of each axis (within `rtol`), the symmetry flags,
    and, where both layouts hold them, `d_elm`, `aper` (within `rtol`) and the field kind.

    Parameters
    ----------
    a, b : FieldFile
    rtol : float

    Returns
    -------
    list of str

    Examples
    --------
    >>> from types import SimpleNamespace as F
    >>> g = [np.zeros(2)] * 3
    >>> header_differences(F(grids=g, limits={}, ksym=(0, 0, 0), d_elm=0.5, aper=None, kind="E"),
    ...                    F(grids=g, limits={}, ksym=(1, 0, 0), d_elm=0.5, aper=0.1, kind=None))
    ['ksym: 0 0 0 against 1 0 0']
    """
    lines = []
    for axis, ga, gb in zip(AXIS_NAMES, a.grids, b.grids):
        differs = np.flatnonzero(_unequal(ga, gb, rtol))
        if differs.size:
            n = int(differs[0])
            lines.append(f"grid {axis}: the node coordinates differ at {differs.size} of {len(ga)} nodes, first at"
                         f" node {n}: {ga[n]:.15g} against {gb[n]:.15g}")
    for axis, pair in a.limits.items():
        other = b.limits[axis]
        if _unequal(pair, other, rtol).any():
            lines.append(f"limits {axis}: {pair[0]:.15g} .. {pair[1]:.15g} against {other[0]:.15g} .. {other[1]:.15g}")
    if tuple(a.ksym) != tuple(b.ksym):
        lines.append(f"ksym: {' '.join(map(str, a.ksym))} against {' '.join(map(str, b.ksym))}")
    for name in ("d_elm", "aper"):
        va, vb = getattr(a, name), getattr(b, name)
        if va is not None and vb is not None and _unequal(va, vb, rtol):
            lines.append(f"{name}: {va:.15g} against {vb:.15g}")
    if a.kind and b.kind and a.kind != b.kind:
        lines.append(f"field: {a.kind} against {b.kind}")
    return lines


def compare(a, b, rtol=DEFAULT_RTOL):
    """Largest differences between the components of two field files.

    Parameters
    ----------
    a, b : FieldFile
    rtol : float
        Tolerance relative to the larger finite |value| of each component over both files.

    Returns
    -------
    list of dict
        Per component: name, largest absolute difference between finite values and its relative
        size, node [i, j, k] where it occurs and whether it is within the tolerance; the number of
        nodes where a NaN or an infinity stands against another value (NaN against NaN too) and
        the first of them; whether the component is equal within the tolerance.

    Examples
    --------
    >>> from types import SimpleNamespace as F
    >>> a = np.zeros((2, 2, 2)); b = a.copy(); b[1, 0, 1] = np.nan
    >>> row = compare(F(components=(a, a, a)), F(components=(a, b, a)))[1]
    >>> row["not_comparable"], row["first_not_comparable"], row["equal"]
    (1, [1, 0, 1], False)
    """
    rows = []
    for axis, ca, cb in zip(AXIS_NAMES, a.components, b.components):
        finite = np.isfinite(ca) & np.isfinite(cb)
        with np.errstate(over="ignore", invalid="ignore"):
            difference = np.where(finite, np.abs(ca - cb), 0.0)
        node = np.unravel_index(np.argmax(difference), difference.shape)
        scale = _largest_finite(ca, cb)
        largest = float(difference[node])
        relative = largest / scale if scale else 0.0
        not_comparable = ~finite & (ca != cb)
        count = int(not_comparable.sum())
        first = np.unravel_index(np.argmax(not_comparable), not_comparable.shape) if count else None
        rows.append({"component": axis, "abs": largest, "rel": relative, "node": [int(n) for n in node],
                     "within": relative <= rtol, "not_comparable": count,
                     "first_not_comparable": first and [int(n) for n in first],
                     "equal": relative <= rtol and not count})
    return rows


def difference_lines(a, b, rows):
    """Lines `diff` prints for the components."""
    prefix = a.kind or b.kind or "F"

    def where(node):
        i, j, k = node
        return f"node [{i}, {j}, {k}] x = {a.x_grid[i]:.6g}, y = {a.y_grid[j]:.6g}, z = {a.z_grid[k]:.6g}"

    lines = []
    for row in rows:
        name = prefix + row["component"]
        lines.append(f"{name}: largest difference {row['abs']:.4g} (relative {row['rel']:.3g}) at {where(row['node'])}"
                     + ("" if row["within"] else "  differs"))
        if row["not_comparable"]:
            count = row["not_comparable"]
            lines.append(f"{name}: {count} node{'s hold' if count > 1 else ' holds'} NaN or an infinity against"
                         f" another value or NaN, first at {where(row['first_not_comparable'])}  differs")
    return lines
