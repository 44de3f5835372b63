"""Comparison of two field files of any layouts, component by component."""

import numpy as np

from .grid import AXIS_NAMES

# The text layouts keep 15 significant digits in fixed form and 16 in exponent form: a value read
# back from text is within 5e-15 of itself relatively; twice that covers two text files.
DEFAULT_RTOL = 1e-14


def compare(a, b, rtol=DEFAULT_RTOL):
    """Largest differences between the components of two field files.

    Parameters
    ----------
    a, b : FieldFile
    rtol : float
        Tolerance relative to the larger |value| of each component over both files.

    Returns
    -------
    list of dict
        Per component: name, absolute and relative difference, node [i, j, k] where the absolute
        one occurs, and whether it is within the tolerance.
    """
    rows = []
    for axis, ca, cb, grid_a, grid_b in zip(AXIS_NAMES, a.components, b.components, a.grids, b.grids):
        difference = np.abs(ca - cb)
        node = np.unravel_index(np.argmax(difference), difference.shape)
        scale = max(float(np.abs(ca).max()), float(np.abs(cb).max()))
        largest = float(difference[node])
        relative = largest / scale if scale else 0.0
        rows.append({"component": axis, "abs": largest, "rel": relative,
                     "node": [int(n) for n in node], "equal": relative <= rtol})
    grids_differ = [axis for axis, ga, gb in zip(AXIS_NAMES, a.grids, b.grids)
                    if np.max(np.abs(ga - gb)) > rtol * max(np.abs(ga).max(), np.abs(gb).max(), 1e-300)]
    return rows, grids_differ


def difference_lines(a, b, rows, grids_differ):
    """Lines `diff` prints."""
    prefix = a.kind or b.kind or "F"
    lines = []
    for row in rows:
        i, j, k = row["node"]
        lines.append(f"{prefix + row['component']}: largest difference {row['abs']:.4g} (relative {row['rel']:.3g})"
                     f" at node [{i}, {j}, {k}] x = {a.x_grid[i]:.6g}, y = {a.y_grid[j]:.6g}, z = {a.z_grid[k]:.6g}"
                     + ("" if row["equal"] else "  differs"))
    for axis in grids_differ:
        lines.append(f"grid {axis}: the node coordinates differ")
    return lines
