"""The whole element from a file that holds a half of it.

A symmetry flag set for an axis makes the converter write only the half from 0 along it, node 0
on the symmetry plane. The other half is the mirror image, with each component even or odd
across the plane. Which it is, the field on the plane tells: a component odd across the plane
vanishes on it. Two parities are possible: the components along the plane (for z: Fx, Fy)
vanish, so they are odd and the normal component is even (a solenoid, a cavity); or the normal
component vanishes, so it is odd and the others are even (an einzel lens; and across x = 0 or
y = 0 any axially symmetric field). Where neither fits the data, the half is left as it is.
"""

import dataclasses
from dataclasses import dataclass
from typing import Optional, Tuple

import numpy as np

from .grid import AXIS_NAMES

# A component whose largest |value| on the plane is at most this share of the largest |F| of
# the file vanishes there: the digits a solver's table carries, well above rounding.
PLANE_SHARE = 1e-6


@dataclass(frozen=True)
class AxisUnfolding:
    """What was done along one flagged axis.

    Attributes
    ----------
    axis : str
        "x", "y" or "z".
    odd : tuple of str or None
        The components ("Fx", "Fy", "Fz") taken as odd across the plane; None where neither
        parity fits (the half is kept).
    residual : float or None
        Largest |value| of the odd components on the plane, as a share of the peak.
    reason : str or None
        Why no parity fits, where none does.
    """

    axis: str
    odd: Optional[Tuple[str, ...]]
    residual: Optional[float]
    reason: Optional[str] = None

    @property
    def unfolded(self) -> bool:
        return self.odd is not None


@dataclass(frozen=True)
class Unfolding:
    """The record of `unfold`: one `AxisUnfolding` per flagged axis (none for a whole file).

    Examples
    --------
    >>> u = Unfolding((AxisUnfolding("z", ("Fx", "Fy"), 3e-9),))
    >>> u.describe("B")
    'whole element: the stored half z >= 0 unfolded, Bz even (Bx, By vanish on z = 0 to 3e-9 of the peak)'
    >>> Unfolding(()).describe("E")
    'whole element as stored'
    """

    axes: Tuple[AxisUnfolding, ...]

    @property
    def whole(self) -> bool:
        """True when the result is the whole element (every flagged axis unfolded)."""
        return all(a.unfolded for a in self.axes)

    def describe(self, kind: Optional[str] = None) -> str:
        """One line: what was unfolded by which parity, or why the half was kept."""
        if not self.axes:
            return "whole element as stored"
        name = kind or "F"
        parts = []
        for a in self.axes:
            if a.odd is not None and a.residual is not None:
                odd = [name + c[1] for c in a.odd]
                even = [name + c[1] for c in ("Fx", "Fy", "Fz") if c not in a.odd]
                verb = "vanishes" if len(odd) == 1 else "vanish"
                parts.append(f"the stored half {a.axis} >= 0 unfolded, {', '.join(even)} even ({', '.join(odd)}"
                             f" {verb} on {a.axis} = 0 to {_share_text(a.residual)} of the peak)")
            else:
                parts.append(f"the stored half {a.axis} >= 0 kept: {a.reason}")
        head = "whole element: " if self.whole else "half element: "
        return head + "; ".join(parts)


def _share_text(share: float) -> str:
    """A share with one digit, exponent without padding: 3e-9, 0.02, 0."""
    if share == 0.0:
        return "0"
    text = f"{share:.1g}"
    if "e" in text:
        mantissa, exponent = text.split("e")
        text = f"{mantissa}e{int(exponent)}"
    return text


def _plane_max(component: np.ndarray, axis: int) -> float:
    plane = np.take(component, 0, axis=axis)
    finite = plane[np.isfinite(plane)]
    return float(np.max(np.abs(finite), initial=0.0))


def _axis_parity(f, axis: int, peak: float) -> AxisUnfolding:
    name = AXIS_NAMES[axis]
    grid = f.grids[axis]
    if len(grid) < 2 or grid[0] != 0.0:
        return AxisUnfolding(name, None, None, f"the grid starts at {name} = {float(grid[0]):.6g}, not on the plane")
    if not peak > 0.0:
        return AxisUnfolding(name, None, None, "the field is zero everywhere: no parity shows")
    names = ("Fx", "Fy", "Fz")
    normal = (names[axis],)
    along = tuple(n for n in names if n != names[axis])
    share = {n: _plane_max(c, axis) / peak for n, c in zip(names, f.components)}
    along_share = max(share[n] for n in along)
    normal_share = share[normal[0]]
    fits_along, fits_normal = along_share <= PLANE_SHARE, normal_share <= PLANE_SHARE
    if fits_along and fits_normal:
        return AxisUnfolding(name, None, None, f"the whole field vanishes on {name} = 0, so both parities fit")
    if fits_along:
        return AxisUnfolding(name, along, along_share)
    if fits_normal:
        return AxisUnfolding(name, normal, normal_share)
    kind = f.kind or "F"
    return AxisUnfolding(name, None, None,
                         f"no parity fits: on {name} = 0 {kind}{normal[0][1]} reaches {_share_text(normal_share)}"
                         f" and {', '.join(kind + n[1] for n in along)} {_share_text(along_share)} of the peak")


def _mirror(values: np.ndarray, axis: int, sign: float) -> np.ndarray:
    """The mirror image of the nodes 1 .. n-1 (reversed, times sign) before the stored nodes."""
    count = values.shape[axis]
    image = np.take(values, np.arange(count - 1, 0, -1), axis=axis)
    return np.concatenate((sign * image, values), axis=axis)


def unfold(f):
    """The whole element from a file whose grid holds a half, by the parity on the plane.

    Parameters
    ----------
    f : FieldFile

    Returns
    -------
    FieldFile
        A new file object: along each flagged axis whose plane shows a parity, the mirror images
        of the nodes 1 .. n-1 followed by the stored nodes (2n - 1 nodes, the plane once), the
        limits -upper .. upper and the flag 0; an axis where no parity fits keeps its half and
        its flag. Its attribute ``unfolding`` (an `Unfolding`) says what was done. A file
        without flags comes back as a copy with an empty record.

    Examples
    --------
    A solenoid-like field stored for z >= 0 (Bx = x z, By = y z odd in z, Bz = 1 even):

    >>> from kavro_field import FieldFile
    >>> xy, z = np.linspace(0.0, 1.0, 3), np.linspace(0.0, 2.0, 5)
    >>> x, y, zz = np.meshgrid(xy, xy, z, indexing="ij")
    >>> half = FieldFile("half", 2, "B", xy, xy, z, (0.0, 1.0), (0.0, 1.0), (0.0, 2.0), (0, 0, 1),
    ...                  None, None, x * zz, y * zz, 1.0 + 0.0 * zz)
    >>> g = unfold(half)
    >>> g.Fz.shape, g.zmws, g.ksym, g.z_grid.tolist()
    ((3, 3, 9), (-2.0, 2.0), (0, 0, 0), [-2.0, -1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.0])
    >>> g.Fx[2, 0, :].tolist()
    [-2.0, -1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.0]
    >>> g.unfolding.describe(g.kind)
    'whole element: the stored half z >= 0 unfolded, Bz even (Bx, By vanish on z = 0 to 0 of the peak)'
    """
    components = [np.asarray(c) for c in f.components]
    finite = [np.abs(c[np.isfinite(c)]) for c in components]
    peak = max((float(v.max()) for v in finite if v.size), default=0.0)
    records = []
    grids, limits, ksym = list(f.grids), list(f.limits.values()), list(f.ksym)
    for axis in range(3):
        if f.ksym[axis] == 0:
            continue
        record = _axis_parity(f, axis, peak)
        records.append(record)
        if not record.unfolded:
            continue
        names = ("Fx", "Fy", "Fz")
        components = [_mirror(c, axis, -1.0 if n in record.odd else 1.0) for n, c in zip(names, components)]
        grid = grids[axis]
        grids[axis] = np.concatenate((-grid[:0:-1], grid))
        upper = limits[axis][1]
        limits[axis] = (-upper, upper)
        ksym[axis] = 0
    result = dataclasses.replace(
        f, x_grid=np.array(grids[0]), y_grid=np.array(grids[1]), z_grid=np.array(grids[2]),
        xmws=tuple(limits[0]), ymws=tuple(limits[1]), zmws=tuple(limits[2]), ksym=tuple(ksym),
        Fx=np.array(components[0]), Fy=np.array(components[1]), Fz=np.array(components[2]))
    result.unfolding = Unfolding(tuple(records))
    return result
