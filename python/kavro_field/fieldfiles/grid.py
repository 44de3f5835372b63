"""Geometry of the output grid: node counts, node coordinates and the axis test."""

from typing import List, Optional, Tuple

import numpy as np

NODE_COUNTS = (25, 25, 201)
AXIS_NAMES = ("x", "y", "z")
# Nodes at a radius up to this are on the axis and carry no transverse field.
AXIS_RADIUS = 1e-12


def node_coordinates(lower, upper, count):
    """Coordinates of the nodes of one axis, computed as the converter computes them.

    Parameters
    ----------
    lower, upper : float
        Limits of the axis.
    count : int
        Number of nodes.

    Returns
    -------
    numpy.ndarray
        ``(n - 1) * step + lower`` for n = 1 .. count, step = (upper - lower) / (count - 1),
        with the same rounding as the converter (product first, then the sum).
    """
    return np.arange(count, dtype=np.float64) * node_step(lower, upper, count) + lower


def node_step(lower: float, upper: float, count: int) -> float:
    """The step between the nodes of one axis, (upper - lower) / (count - 1), as the converter
    computes it (inf or NaN where the limits are too far apart or not finite).

    Examples
    --------
    >>> node_step(-1.0, 1.0, NODE_COUNTS[0]), node_step(-1e308, 1e308, NODE_COUNTS[0])
    (0.08333333333333333, inf)
    """
    with np.errstate(over="ignore", invalid="ignore"):
        return float((np.float64(upper) - lower) / float(count - 1))


def element_ends(count: int, ksym_z: int) -> List[int]:
    """The z nodes (from 0) that are ends of the element: both ends of the grid, or only the
    upper one where the grid starts in the element's middle (a nonzero symmetry flag).

    Examples
    --------
    >>> element_ends(201, 0), element_ends(201, 1)
    ([0, 200], [200])
    """
    return [count - 1] if ksym_z != 0 else [0, count - 1]


def axis_node(x_grid: np.ndarray, y_grid: np.ndarray, nearest: bool = False) -> Optional[Tuple[int, int]]:
    """(i, j) of the grid's node on the axis (radius up to AXIS_RADIUS); where there is none, the
    node nearest to the axis if `nearest`, else None. A node at a coordinate that is not finite
    is never the axis.

    Examples
    --------
    >>> g = node_coordinates(-1.0, 1.0, 25)
    >>> axis_node(g, g), axis_node(g + 0.04, g), axis_node(g + 0.04, g, nearest=True)
    ((12, 12), None, (12, 12))
    """
    radii = node_radii(np.asarray(x_grid), np.asarray(y_grid))
    on_axis = np.argwhere(radii <= AXIS_RADIUS)
    if len(on_axis):
        return int(on_axis[0][0]), int(on_axis[0][1])
    if not nearest:
        return None
    i, j = np.unravel_index(np.argmin(np.where(np.isfinite(radii), radii, np.inf)), radii.shape)
    return int(i), int(j)


def node_radii(x_grid, y_grid):
    """Radius ``sqrt(x^2 + y^2)`` of every (x, y) node, shape (len(x_grid), len(y_grid))."""
    x = x_grid[:, None]
    y = y_grid[None, :]
    return np.sqrt(x * x + y * y)
