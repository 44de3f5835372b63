"""Geometry of the output grid: node counts, node coordinates and the axis test."""

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
    step = (upper - lower) / float(count - 1)
    return np.arange(count, dtype=np.float64) * step + lower


def node_radii(x_grid, y_grid):
    """Radius ``sqrt(x^2 + y^2)`` of every (x, y) node, shape (len(x_grid), len(y_grid))."""
    x = x_grid[:, None]
    y = y_grid[None, :]
    return np.sqrt(x * x + y * y)
