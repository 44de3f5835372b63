"""The table's mesh against the converter's 3 x 3 approximation.

Between table nodes the converter changes the 3 x 3 block of nodes its quadratic runs through,
and the field it samples steps there by about (k h)^3 of the field for a mesh step h and a wave
number k. One measure of that step serves `lint` (before the conversion) and `check --control`
(after it), so that both judge a mesh alike and name the same number.
"""

import math
from typing import Dict, List, Mapping, Tuple

import numpy as np

from ..findings import INPUTS, Finding
from ..inputs.prepared import NR_MAX, NZ_MAX
from .checks import JUMP_FLOOR

# The approximation's step between table cells above this share of the largest |F| is a jump
# that a tracking code sees; the same floor as the jumps inside a file.
MESH_SHARE = JUMP_FLOOR
# The approximation's blocks are compared this share of a table step on either side of their
# boundary.
BOUNDARY_MARGIN = 1e-9
# The suggested mesh aims at half the floor: the step falls with the cube of the mesh step.
MESH_MARGIN = 0.5


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
                z_intervals: int, mirrored: bool = False) -> List[Finding]:
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
    list of Finding
        Code "mesh.coarse", data: step, share, r, z, counts (r, z), finer (r, z), fits.

    Examples
    --------
    >>> steps = {"z": (0.08, 0.0, 1.5), "r": (0.001, 0.5, 0.0)}
    >>> d = coarse_mesh(steps, 1.0, 8, 48)[0]
    >>> d.code, d.data["finer"]
    ('mesh.coarse', (8, 121))
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
    fits = finer["r"] + 1 <= NR_MAX and finer["z"] + 1 <= (NZ_MAX // 2 if mirrored else NZ_MAX)
    advice = (f"a table of {finer['r']} x {finer['z']} intervals (r, z) gives a smooth field" if fits else
              f"a table of {finer['r']} x {finer['z']} intervals (r, z) would, more than the converter's map holds:"
              " solve a shorter region or a finer mesh where the field varies")
    return [Finding(
        "mesh.coarse",
        f"the table's mesh of {counts['r']} x {counts['z']} intervals (r, z) is too coarse for the 3 x 3"
        f" approximation: its value steps by up to {worst[0]:.4g} ({share:.3g} of the largest |F|) between table"
        f" cells, at r = {worst[1]:.6g}, z = {worst[2]:.6g}; {advice}",
        value=share, scope=INPUTS, data={"step": worst[0], "share": share, "r": worst[1], "z": worst[2],
                           "counts": (counts["r"], counts["z"]), "finer": (finer["r"], finer["z"]), "fits": fits})]

