"""The map the converter prepares from its table (centred, mirrored, scaled), its 3 x 3
approximation and the 3D field it samples on its output grid."""

import math
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Tuple

import numpy as np

from ..fieldfiles.grid import AXIS_NAMES, AXIS_RADIUS, NODE_COUNTS, node_coordinates
from ..fieldfiles.fieldfile import FieldFile
from .names import output_name, shortest_text

if TYPE_CHECKING:
    from numpy.typing import ArrayLike

MIRROR_MODES = (1, -1, 2, -2)
# Capacity of the converter's map.
NR_MAX, NZ_MAX = 200, 1000


@dataclass
class Inputs:
    """The inputs of a conversion as the converter reads and prepares them.

    Attributes
    ----------
    control_path : str
        The control file.
    control : dict
        Every value by its name in the control file: poisson_file (without trailing blanks),
        iflag_EH, kmirror_z, kfile_num, kform_3D, ksym_x, ksym_y, ksym_z, d_elm, aper, scale_E,
        scale_B.
    table_path : str
        The Poisson table, as the converter opens it.
    kind : str
        "E" (iflag_EH = 0) or "B" (1).
    Rmin, Rmax, Zmin, Zmax : float
        Limits of the prepared map (z centred, doubled when mirrored).
    r_node, z_node : numpy.ndarray
        Node coordinates of the prepared map.
    radial, axial : numpy.ndarray
        Field components at the nodes, shape (Nr, Nz), scaled and mirrored.

    Examples
    --------
    >>> inputs = read_inputs(example)
    >>> inputs.kind, inputs.Nr, inputs.Nz, inputs.radial.shape
    ('E', 51, 201, (51, 201))
    """

    control_path: str
    control: Dict[str, Any]
    table_path: str
    kind: str
    Rmin: float
    Rmax: float
    Zmin: float
    Zmax: float
    r_node: np.ndarray
    z_node: np.ndarray
    radial: np.ndarray
    axial: np.ndarray

    @property
    def Nr(self) -> int:
        return len(self.r_node)

    @property
    def Nz(self) -> int:
        return len(self.z_node)

    def at(self, r: "ArrayLike", z: "ArrayLike") -> Tuple[np.ndarray, np.ndarray]:
        """The converter's approximation of the map at (r, z): the quadratic formula on the 3 x 3
        nodes around the nearest node, in its order of operations; zero outside the map.

        Parameters
        ----------
        r, z : float or array_like
            Radius and position, broadcast together.

        Returns
        -------
        (F_r, F_z) : tuple of numpy.ndarray

        Examples
        --------
        >>> inputs = read_inputs(example)
        >>> inputs.at(0.0, inputs.z_node[5])[1] == inputs.axial[0, 5]
        True
        """
        r, z = np.broadcast_arrays(np.asarray(r, dtype=np.float64), np.asarray(z, dtype=np.float64))
        ir, p, inside_r = _stencil(self.r_node, r)
        iz, q, inside_z = _stencil(self.z_node, z)
        inside = inside_r & inside_z
        ir, iz, p, q = ir[inside], iz[inside], p[inside], q[inside]
        p2, q2 = p * p, q * q
        w0 = (1 - p2) - q2
        wrp, wrm = (p + p2) / 2, (p2 - p) / 2
        wzp, wzm = (q + q2) / 2, (q2 - q) / 2
        wx = (p * q) / 4
        results = []
        with np.errstate(invalid="ignore", over="ignore"):
            for f in (self.radial, self.axial):
                x = (((f[ir + 1, iz + 1] + f[ir - 1, iz - 1]) - f[ir - 1, iz + 1]) - f[ir + 1, iz - 1]) * wx
                s = wrp * f[ir + 1, iz]
                s = s + w0 * f[ir, iz]
                s = s + wrm * f[ir - 1, iz]
                s = s + wzp * f[ir, iz + 1]
                s = s + wzm * f[ir, iz - 1]
                out = np.zeros(r.shape)
                out[inside] = s + x
                results.append(out)
        return results[0], results[1]

    def grid(self) -> Dict[str, Tuple[Tuple[float, float], np.ndarray]]:
        """The output grid the converter lays out: {"x"|"y"|"z": ((lower, upper), nodes)}.

        Examples
        --------
        >>> (lower, upper), nodes = read_inputs(example).grid()["z"]
        """
        return output_grid(self.control)

    def field3d(self) -> FieldFile:
        """The field file the converter writes, as it samples it: on its grid, the Cartesian
        components (x F_r) / r and (y F_r) / r off the axis, 0 on it (r <= 1e-12), and F_z, with
        the control file's header (layout kform_3D, the output file's name as its path).

        Examples
        --------
        >>> f = read_inputs(example).field3d()
        >>> f.Fz.shape
        (25, 25, 201)
        """
        axes = self.grid()
        x = axes["x"][1][:, None, None]
        y = axes["y"][1][None, :, None]
        z = axes["z"][1][None, None, :]
        r = np.sqrt(x * x + y * y)
        f_r, f_z = self.at(np.broadcast_to(r, NODE_COUNTS), np.broadcast_to(z, NODE_COUNTS))
        off_axis = np.broadcast_to(r > AXIS_RADIUS, NODE_COUNTS)
        with np.errstate(invalid="ignore", divide="ignore"):
            fx = np.where(off_axis, (x * f_r) / r, 0.0)
            fy = np.where(off_axis, (y * f_r) / r, 0.0)
        c = self.control
        return FieldFile(output_name(c["kfile_num"]), c["kform_3D"], self.kind, axes["x"][1], axes["y"][1],
                         axes["z"][1], axes["x"][0], axes["y"][0], axes["z"][0], (c["ksym_x"], c["ksym_y"], c["ksym_z"]),
                         c["d_elm"], c["aper"], fx, fy, f_z)


def _stencil(node, x):
    """Centre node (from 0), offset in steps and the inside mask along one axis."""
    n = len(node)
    inside = ~((x < node[0]) | (x > node[-1]))
    d = node[1] - node[0]
    with np.errstate(invalid="ignore", over="ignore"):
        t = ((x - node[0]) - d / 2) / d
        low = ~(t > -1.0)
        high = t >= 2147483645.0
        centre = np.trunc(np.where(low | high, 0.0, t)).astype(np.int64) + 2
    centre = np.where(low, 2, np.where(high, n - 1, centre))
    centre = np.minimum(np.maximum(centre, 2), n - 1) - 1
    with np.errstate(invalid="ignore"):
        offset = (x - node[centre]) / d
    return centre, offset, inside


def output_grid(control) -> Dict[str, Tuple[Tuple[float, float], np.ndarray]]:
    """The converter's output grid from aper, d_elm and the symmetry flags."""
    axes = {}
    for axis, half, flag, n in zip(AXIS_NAMES, (control["aper"], control["aper"], control["d_elm"] / 2),
                                   (control["ksym_x"], control["ksym_y"], control["ksym_z"]), NODE_COUNTS):
        lower, upper = -half, half
        if flag != 0:
            lower = 0.0
        with np.errstate(over="ignore", invalid="ignore"):
            axes[axis] = ((lower, upper), node_coordinates(lower, upper, n))
    return axes



def map_limits_violation(nr, nz, rmin, rmax, zmin, zmax, kmirror_z) -> str:
    """The converter's rejection of a map it cannot hold or sample, or ""."""
    mirrored = kmirror_z in MIRROR_MODES
    rejected = " Field map rejected: "
    if nr > NR_MAX or nr < 3:
        return rejected + f"Nr = {nr} (allowed 3 .. {NR_MAX})"
    if nz > NZ_MAX:
        return rejected + f"Nz = {nz} (allowed up to {NZ_MAX})"
    if mirrored and nz > NZ_MAX // 2:
        return rejected + f"Nz = {nz} with kmirror_z = {kmirror_z} (allowed up to {NZ_MAX // 2} when mirrored)"
    final_nz = 2 * nz - 1 if mirrored else nz
    if final_nz < 3:
        return rejected + f"final Nz = {final_nz} (at least 3 needed)"
    if not rmax > rmin:
        return rejected + f"Rmax = {shortest_text(rmax)} not above Rmin = {shortest_text(rmin)}"
    if not zmax > zmin:
        return rejected + f"Zmax = {shortest_text(zmax)} not above Zmin = {shortest_text(zmin)} after centring"
    with np.errstate(over="ignore", invalid="ignore"):
        zspan = np.float64(2) * zmax - np.float64(2) * zmin if mirrored else np.float64(zmax) - zmin
        rspan = np.float64(rmax) - rmin
    if not (math.isfinite(rspan) and math.isfinite(zspan)):
        return rejected + (f"R range {shortest_text(rmin)} .. {shortest_text(rmax)} or Z range "
                           f"{shortest_text(zmin)} .. {shortest_text(zmax)} too wide")
    return ""


def mirror(values, upper_half, negate):
    """The full map from a half; the mirror-plane row keeps the table's values."""
    image = -values if negate else values
    if upper_half:
        return np.concatenate((image[:, :0:-1], values), axis=1)
    return np.concatenate((values, image[:, -2::-1]), axis=1)
