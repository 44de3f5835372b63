"""A field file's content (`FieldFile`, which the readers of the layouts fill in, and which the
rebuild of a conversion makes) and what it offers beyond its arrays: a short description, the
field at any point as a tracking code interpolates it, the on-axis field and an xarray view."""

import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, NamedTuple, Optional, Tuple

import numpy as np

from .grid import axis_node, node_step

if TYPE_CHECKING:
    from numpy.typing import ArrayLike

    from ..analysis.optics import Potential
    from .unfold import Unfolding

XARRAY_MISSING = ("FieldFile.to_xarray needs the xarray package, which this Python does not have"
                  " (Debian: apt-get install python3-xarray)")


class OnAxis(NamedTuple):
    """The field along the axis x = y = 0 (node 1 of an axis whose symmetry flag is set).

    Attributes
    ----------
    z : numpy.ndarray
        The 201 z nodes.
    Fx, Fy, Fz : numpy.ndarray
        The three components there.

    Examples
    --------
    >>> z, ex, ey, ez = kavro_field.load(field_path).on_axis()
    """

    z: np.ndarray
    Fx: np.ndarray
    Fy: np.ndarray
    Fz: np.ndarray


def _cells(grid, where):
    """Cell index, weight of the upper node, and whether each point lies within the nodes."""
    i = np.clip(np.searchsorted(grid, where, side="right") - 1, 0, len(grid) - 2)
    # A point on a node gets the weight exactly 0 or 1, so the nodes give back the arrays exactly.
    weight = (where - grid[i]) / (grid[i + 1] - grid[i])
    return i, weight, (where >= grid[0]) & (where <= grid[-1])


def _finite_max_abs(values):
    return float(np.max(np.abs(values), initial=0.0, where=np.isfinite(values)))


@dataclass(repr=False)
class FieldFile:
    """Content of one field file.

    Attributes
    ----------
    path : str
    layout : int
        0 (binary records), 1 or 2 (text).
    kind : str or None
        "E" or "B" where the file says so (layout 2), else None.
    x_grid, y_grid, z_grid : numpy.ndarray
        Node coordinates, 25, 25 and 201 values.
    xmws, ymws, zmws : tuple of float
        Lower and upper limit of each axis.
    ksym : tuple of int
        Symmetry flags of x, y and z as written.
    d_elm, aper : float or None
        Element length and aperture (None for layout 2, which does not hold them).
    Fx, Fy, Fz : numpy.ndarray
        Field components, float64 of shape (25, 25, 201), indexed [i, j, k].

    Methods `at` (the field at any point), `on_axis` and `to_xarray`; the repr is one line.

    Examples
    --------
    >>> f = kavro_field.load(field_path)
    >>> f.Fz.shape, f.ksym
    ((25, 25, 201), (0, 0, 0))
    """

    path: str
    layout: int
    kind: Optional[str]
    x_grid: np.ndarray
    y_grid: np.ndarray
    z_grid: np.ndarray
    xmws: Tuple[float, float]
    ymws: Tuple[float, float]
    zmws: Tuple[float, float]
    ksym: Tuple[int, int, int]
    d_elm: Optional[float]
    aper: Optional[float]
    Fx: np.ndarray
    Fy: np.ndarray
    Fz: np.ndarray
    # What `unfold` did to make this object (None for a file as read).
    unfolding: Optional["Unfolding"] = None

    def unfold(self) -> "FieldFile":
        """The whole element from a stored half (see `kavro_field.fieldfiles.unfold.unfold`)."""
        from .unfold import unfold
        return unfold(self)

    def on_axis_potential(self, length_unit: Optional[str] = None, field_unit: Optional[str] = None) -> "Potential":
        """V(z) = -integral E_z dz along the axis (see `kavro_field.analysis.optics.on_axis_potential`)."""
        from ..analysis.optics import on_axis_potential
        return on_axis_potential(self, length_unit, field_unit)

    @property
    def field_name(self) -> str:
        """"E", "B", or "field" when the layout does not say which."""
        return self.kind or "field"

    @property
    def components(self) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """The three components (Fx, Fy, Fz)."""
        return self.Fx, self.Fy, self.Fz

    @property
    def grids(self) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """The node coordinates (x_grid, y_grid, z_grid)."""
        return self.x_grid, self.y_grid, self.z_grid

    @property
    def limits(self) -> Dict[str, Tuple[float, float]]:
        """The limit pairs by axis name."""
        return {"x": self.xmws, "y": self.ymws, "z": self.zmws}

    @property
    def steps(self) -> Dict[str, float]:
        """The node spacing by axis name, from the limits as the converter spaces the nodes."""
        return {axis: node_step(lo, hi, len(grid)) for (axis, (lo, hi)), grid in zip(self.limits.items(), self.grids)}

    def __repr__(self) -> str:
        kind = f"{self.kind} field" if self.kind else "field kind not stated"
        ranges = ", ".join(f"{axis} {lo:.6g} .. {hi:.6g}" for axis, (lo, hi) in self.limits.items())
        header = f"ksym {self.ksym[0]} {self.ksym[1]} {self.ksym[2]}"
        if self.d_elm is not None:
            header += f", d_elm {self.d_elm:.6g}, aper {self.aper:.6g}"
        peaks = ", ".join(f"{name} {_finite_max_abs(c):.4g}" for name, c in zip(("Fx", "Fy", "Fz"), self.components))
        return (f"<FieldFile {os.path.basename(self.path)!r}: layout {self.layout}, {kind},"
                f" {' x '.join(map(str, self.Fx.shape))} nodes, {ranges}; {header}; max |F| {peaks}>")

    def at(self, x: "ArrayLike", y: "ArrayLike", z: "ArrayLike") -> np.ndarray:
        """The field at arbitrary points, trilinear between the nodes.

        This is the interpolation a tracking code applies between the nodes of the file: at a
        node it gives the node's values exactly, and it reproduces a field linear in x, y and z
        exactly (to rounding) anywhere inside the grid.

        Parameters
        ----------
        x, y, z : float or array_like
            Coordinates in the file's length unit; broadcast against each other.

        Returns
        -------
        numpy.ndarray
            Shape ``(3,) + shape``: the components Fx, Fy, Fz at each point, NaN for points
            outside the grid (a point at a negative coordinate of an axis whose symmetry flag is
            set is outside: the file holds only the half from 0).

        Examples
        --------
        >>> f = kavro_field.load(field_path)
        >>> f.at(0.0, 0.0, 1.0)
        array([  0.        ,   0.        , 170.30420112])
        >>> ex, ey, ez = f.at(np.linspace(-1, 1, 5), 0.0, 2.0)
        """
        x, y, z = np.broadcast_arrays(*(np.asarray(v, dtype=np.float64) for v in (x, y, z)))
        (ix, wx, in_x), (iy, wy, in_y), (iz, wz, in_z) = (_cells(g, v) for g, v in zip(self.grids, (x, y, z)))
        weights = [((0, 1 - wx), (1, wx)), ((0, 1 - wy), (1, wy)), ((0, 1 - wz), (1, wz))]
        result = np.zeros((3,) + x.shape)
        for dx, ux in weights[0]:
            for dy, uy in weights[1]:
                for dz, uz in weights[2]:
                    corner = (ix + dx, iy + dy, iz + dz)
                    result += (ux * uy * uz) * np.stack([c[corner] for c in self.components])
        result[:, ~(in_x & in_y & in_z)] = np.nan
        return result

    def on_axis(self) -> OnAxis:
        """The field along the axis x = y = 0.

        On an axis whose symmetry flag is set the grid starts at 0, so the axis is node 1 there;
        otherwise it is the middle node.

        Returns
        -------
        OnAxis
            ``(z, Fx, Fy, Fz)``, each of 201 values.

        Examples
        --------
        >>> z, ex, ey, ez = kavro_field.load(field_path).on_axis()
        >>> float(z[np.argmax(np.abs(ez))]), float(np.abs(ez).max())
        (-1.92, 236.44481666000001)
        """
        node = axis_node(self.x_grid, self.y_grid, nearest=True)
        assert node is not None  # the nearest node is always found
        i, j = node
        return OnAxis(self.z_grid.copy(), *(c[i, j, :].copy() for c in self.components))

    def to_xarray(self) -> Any:
        """The file as an `xarray.Dataset`.

        Returns
        -------
        xarray.Dataset
            Coordinates x, y, z; variables Fx, Fy, Fz over (x, y, z); the header as attributes
            (``layout``, ``ksym``, the limits, and ``kind``, ``d_elm``, ``aper`` where the layout
            holds them).

        Raises
        ------
        ImportError
            Where xarray is not installed, saying which package provides it.

        Examples
        --------
        >>> ds = kavro_field.load(field_path).to_xarray()
        >>> float(ds.Fz.sel(x=0, y=0, z=2.0, method="nearest"))
        235.616148
        """
        try:
            import xarray
        except ImportError as err:
            raise ImportError(XARRAY_MISSING) from err
        attrs = {"source_file": self.path, "layout": self.layout, "ksym": list(self.ksym)}
        attrs.update({f"{axis}_limits": list(pair) for axis, pair in self.limits.items()})
        attrs.update({name: value for name, value in (("kind", self.kind), ("d_elm", self.d_elm), ("aper", self.aper))
                      if value is not None})
        variables = {name: (("x", "y", "z"), c) for name, c in zip(("Fx", "Fy", "Fz"), self.components)}
        return xarray.Dataset(variables, coords=dict(zip("xyz", self.grids)), attrs=attrs)
