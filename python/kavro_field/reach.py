"""Checks of a field file against the control file and table of its conversion: grid nodes
outside the map, and the on-axis field against the table's own on-axis column."""

import math

import numpy as np

from .inputs import read_inputs
from .grid import AXIS_RADIUS, node_radii

# The file's on-axis field and the table's on-axis column, interpolated along z, differ by the
# approximation's use of the next map columns, (k h)^3 of the peak at worst (a few 1e-5 for the
# test fields); a file of another table or another scale departs by a good share of the peak.
AXIS_TOLERANCE = 1e-2


def _floor_digits(value, digits=6):
    """`value` rounded down to `digits` significant digits, so that the printed size still fits."""
    if value <= 0.0:
        return value
    unit = 10.0 ** (math.floor(math.log10(value)) - digits + 1)
    return math.floor(value / unit) * unit


def check_grid_matches_control(f, control):
    """The file's grid and field type are those the control file asks for."""
    findings = []
    aper, d_elm = control["aper"], control["d_elm"]
    expected = {"x": (-aper, aper), "y": (-aper, aper), "z": (-(d_elm / 2), d_elm / 2)}
    ksym = (control["ksym_x"], control["ksym_y"], control["ksym_z"])
    for (axis, (lower, upper)), flag, limits in zip(expected.items(), ksym, (f.xmws, f.ymws, f.zmws)):
        want = (0.0 if flag != 0 else lower, upper)
        if not np.allclose(want, limits, rtol=1e-12, atol=0.0):
            findings.append(f"control: the file's {axis} runs from {limits[0]:.15g} to {limits[1]:.15g},"
                            f" the control file's grid from {want[0]:.15g} to {want[1]:.15g}")
    kind = {0: "E", 1: "B"}.get(control["iflag_EH"])
    if f.kind is not None and f.kind != kind:
        findings.append(f"control: the file holds {f.kind}, the control file converts iflag_EH = {control['iflag_EH']}")
    return findings


def check_reach(f, fieldmap):
    """Grid nodes beyond the map's radius or ends, which the converter fills with zero."""
    findings = []
    r_first, r_last = fieldmap.r_node[0], fieldmap.r_node[-1]
    z_first, z_last = fieldmap.z_node[0], fieldmap.z_node[-1]
    radii = node_radii(f.x_grid, f.y_grid)
    beyond = radii > r_last
    if beyond.any():
        corner = float(radii.max())
        findings.append(f"map: {int(beyond.sum()) * len(f.z_grid)} nodes ({int(beyond.sum())} of the"
                        f" {radii.size} x-y nodes) lie beyond the map's radius {r_last:.6g}, corners at"
                        f" r = {corner:.6g}; an aperture up to {_floor_digits(r_last / math.sqrt(2)):.6g} fits")
    inside_first = radii < r_first
    if inside_first.any():
        findings.append(f"map: {int(inside_first.sum()) * len(f.z_grid)} nodes lie at radii below the map's"
                        f" first column r = {r_first:.6g}, the axis among them")
    outside_z = (f.z_grid < z_first) | (f.z_grid > z_last)
    if outside_z.any():
        reach = min(-z_first, z_last) if f.zmws[0] < 0.0 else z_last
        findings.append(f"map: {int(outside_z.sum()) * radii.size} nodes ({int(outside_z.sum())} of the"
                        f" {len(f.z_grid)} z planes, z {f.z_grid[outside_z].min():.6g} .. "
                        f"{f.z_grid[outside_z].max():.6g}) lie beyond the map's ends {z_first:.6g} and"
                        f" {z_last:.6g}; an element length d_elm up to {_floor_digits(2 * reach):.6g} fits")
    return findings


def _axis_column(fieldmap, z):
    """The table's axial component on the axis at `z`, quadratic through the three nearest rows."""
    z_node, column = fieldmap.z_node, fieldmap.axial[0]
    step = z_node[1] - z_node[0]
    centre = np.clip(np.rint((z - z_node[0]) / step).astype(int), 1, len(z_node) - 2)
    q = (z - z_node[centre]) / step
    before, here, after = column[centre - 1], column[centre], column[centre + 1]
    return here + q * (after - before) / 2 + q * q / 2 * (after - 2 * here + before)


def axis_departure(f, fieldmap):
    """Largest departure of the file's on-axis z component from the table's on-axis column.

    Returns
    -------
    tuple or None
        (departure, share of the column's peak, z where it occurs), or None when the grid has no
        node on the axis inside the map.
    """
    radii = node_radii(f.x_grid, f.y_grid)
    if fieldmap.r_node[0] != 0.0 or not (radii <= AXIS_RADIUS).any():
        return None
    i, j = np.argwhere(radii <= AXIS_RADIUS)[0]
    inside = (f.z_grid >= fieldmap.z_node[0]) & (f.z_grid <= fieldmap.z_node[-1])
    if not inside.any():
        return None
    z = f.z_grid[inside]
    departure = np.abs(f.Fz[i, j, inside] - _axis_column(fieldmap, z))
    peak = float(np.max(np.abs(fieldmap.axial[0])))
    worst = int(np.argmax(departure))
    return float(departure[worst]), float(departure[worst]) / peak if peak else math.inf, float(z[worst])


def _departure_text(f, found):
    departure, share, z = found
    return (f"the on-axis {f.kind or 'F'}z departs from the table's on-axis column by up to {departure:.4g}"
            f" ({share:.3g} of its peak) at z = {z:.6g}")


def check_with_control(f, control_path):
    """All checks against the control file of the conversion and the table it names.

    Returns
    -------
    findings : list of str
    notes : list of str
        What is worth knowing without being a finding: the on-axis departure.
    """
    fieldmap = read_inputs(control_path)
    findings = check_grid_matches_control(f, fieldmap.control) + check_reach(f, fieldmap)
    found = axis_departure(f, fieldmap)
    if found is None:
        return findings, ["no grid node on the axis inside the map: the on-axis field is not compared"]
    if found[1] > AXIS_TOLERANCE:
        findings.append("axis: " + _departure_text(f, found))
    return findings, [_departure_text(f, found)]


