"""The output grid against the map it samples: nodes beyond the map's radius or ends, and the
element's ends where the on-axis field is still strong (the figure marks them)."""

import math

import numpy as np

from ..fieldfiles.grid import element_ends, node_radii

# The on-axis field at an element end above this share of its peak is a fringe field cut off.
FRINGE_SHARE = 0.05


def floor_digits(value, digits=6):
    """`value` rounded down to `digits` significant digits, so that the printed size still fits."""
    if not value > 0.0 or not math.isfinite(value):
        return value
    unit = 10.0 ** (math.floor(math.log10(value)) - digits + 1)
    return math.floor(value / unit) * unit


def reach_findings(r_node, z_node, x_grid, y_grid, z_grid, z_lower):
    """Grid nodes beyond the map's radius or ends, which the converter fills with zero: one
    (code, text, data) per cause, with the aperture or element length that fits (data["fits"])."""
    findings = []
    r_first, r_last = r_node[0], r_node[-1]
    z_first, z_last = z_node[0], z_node[-1]
    radii = node_radii(np.asarray(x_grid), np.asarray(y_grid))
    beyond = radii > r_last
    if beyond.any():
        findings.append(("coverage.radius", f"{int(beyond.sum()) * len(z_grid)} nodes ({int(beyond.sum())} of the {radii.size} x-y"
                        f" nodes) lie beyond the map's radius {r_last:.6g}, corners at r = {float(radii.max()):.6g};"
                        f" an aperture aper up to {floor_digits(r_last / math.sqrt(2)):.6g} fits",
                         {"fits": floor_digits(r_last / math.sqrt(2))}))
    inside_first = radii < r_first
    if inside_first.any():
        findings.append(("coverage.axis", f"{int(inside_first.sum()) * len(z_grid)} nodes lie at radii below the"
                                          f" map's first column r = {r_first:.6g}, the axis among them", {}))
    outside_z = (z_grid < z_first) | (z_grid > z_last)
    if outside_z.any():
        reach = min(-z_first, z_last) if z_lower < 0.0 else z_last
        findings.append(("coverage.ends", f"{int(outside_z.sum()) * radii.size} nodes ({int(outside_z.sum())} of the"
                        f" {len(z_grid)} z planes, z {z_grid[outside_z].min():.6g} .. "
                        f"{z_grid[outside_z].max():.6g}) lie beyond the map's ends {z_first:.6g} and"
                        f" {z_last:.6g}; an element length d_elm up to {floor_digits(2 * reach):.6g} fits",
                         {"fits": floor_digits(2 * reach)}))
    return findings


def fringe_cut(z_grid, axial, ksym_z):
    """The element ends where the on-axis field is still above FRINGE_SHARE of its peak.

    Parameters
    ----------
    z_grid : numpy.ndarray
    axial : numpy.ndarray
        The on-axis longitudinal field at the z nodes.
    ksym_z : int
        Nonzero: the grid starts in the element's middle, only its upper end is an end.

    Returns
    -------
    list of (z, value, share)
    """
    finite = np.isfinite(axial)
    if not finite.any():
        return []
    peak = float(np.max(np.abs(axial[finite])))
    if peak == 0.0:
        return []
    ends = element_ends(len(z_grid), ksym_z)
    cut = []
    for k in ends:
        share = abs(float(axial[k])) / peak
        if not share > FRINGE_SHARE:
            continue
        cut.append((float(z_grid[k]), float(axial[k]), share))
    return cut
